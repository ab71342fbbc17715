// A DirectSound stand-in session for the tests: a main window, a device at
// priority level, buffers made and filled the way the sound module does it,
// and measurements of what the mixer puts out.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "control_sound.h"
#include "control_window.h"

namespace sound_test {

constexpr DWORD kControls = DSBCAPS_CTRLVOLUME | DSBCAPS_CTRLPAN;

inline WAVEFORMATEX Pcm(int bits, int channels, uint32_t rate) {
    WAVEFORMATEX f{};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = static_cast<WORD>(channels);
    f.wBitsPerSample = static_cast<WORD>(bits);
    f.nSamplesPerSec = rate;
    f.nBlockAlign = static_cast<WORD>(channels * bits / 8);
    f.nAvgBytesPerSec = rate * f.nBlockAlign;
    return f;
}

inline DSBUFFERDESC Desc(DWORD flags, DWORD bytes, WAVEFORMATEX* format) {
    DSBUFFERDESC d{};
    d.dwSize = sizeof d;
    d.dwFlags = flags;
    d.dwBufferBytes = bytes;
    d.lpwfxFormat = format;
    return d;
}

// Frames of a sine of `hz` at `amplitude` (of full scale) starting at
// `phase` (radians) in the channels of `channelMask` (bit 0 left, bit 1
// right; a mono format uses bit 0); the other channel holds silence.
inline std::vector<uint8_t> Tone(const WAVEFORMATEX& f, size_t frames, double hz, double amplitude,
                                 int channelMask = 3, double phase = 0) {
    std::vector<uint8_t> bytes(frames * f.nBlockAlign);
    for (size_t i = 0; i < frames; ++i) {
        const double v =
            amplitude * std::sin(phase + 2 * M_PI * hz * static_cast<double>(i) / f.nSamplesPerSec);
        for (int c = 0; c < f.nChannels; ++c) {
            const double s = (channelMask >> c) & 1 ? v : 0.0;
            const size_t at = i * f.nChannels + c;
            if (f.wBitsPerSample == 8) {
                bytes[at] = static_cast<uint8_t>(128 + std::lround(127 * s));
            } else {
                const auto value = static_cast<int16_t>(std::lround(32767 * s));
                std::memcpy(&bytes[2 * at], &value, 2);
            }
        }
    }
    return bytes;
}

// One channel (0 left, 1 right) of interleaved stereo output.
inline std::vector<double> Channel(const std::vector<int16_t>& out, int channel) {
    std::vector<double> x(out.size() / 2);
    for (size_t i = 0; i < x.size(); ++i) x[i] = out[2 * i + channel];
    return x;
}

// Amplitude of the `hz` component (Goertzel). Exact for a tone with a whole
// number of periods in `x`.
inline double AmplitudeAt(const std::vector<double>& x, double hz, double rate) {
    const double w = 2 * M_PI * hz / rate;
    const double c = 2 * std::cos(w);
    double s1 = 0, s2 = 0;
    for (double v : x) {
        const double s = v + c * s1 - s2;
        s2 = s1;
        s1 = s;
    }
    const double power = s1 * s1 + s2 * s2 - c * s1 * s2;
    return 2 * std::sqrt(std::max(power, 0.0)) / static_cast<double>(x.size());
}

// Frequency from the rising zero crossings, first to last.
inline double ZeroCrossingHz(const std::vector<double>& x, double rate) {
    double first = -1, last = -1;
    int periods = -1;
    for (size_t i = 1; i < x.size(); ++i) {
        if (x[i - 1] < 0 && x[i] >= 0) {
            const double at = static_cast<double>(i - 1) + (-x[i - 1]) / (x[i] - x[i - 1]);
            if (first < 0) first = at;
            last = at;
            ++periods;
        }
    }
    return periods > 0 ? periods * rate / (last - first) : 0.0;
}

inline double PeakAbs(const std::vector<double>& x) {
    double peak = 0;
    for (double v : x) peak = std::max(peak, std::fabs(v));
    return peak;
}

inline double Db(double ratio) { return 20 * std::log10(ratio); }

inline std::vector<std::string> Calls() {
    std::vector<std::string> calls;
    for (size_t i = 0; i < TwSoundCallCount(); ++i) calls.emplace_back(TwSoundCall(i));
    return calls;
}

inline std::vector<std::string> Faults() {
    std::vector<std::string> faults;
    for (size_t i = 0; i < TwSoundFaultCount(); ++i) faults.emplace_back(TwSoundFault(i));
    return faults;
}

inline TwSoundBufferInfo InfoOf(uint32_t id) {
    TwSoundBufferInfo info{};
    EXPECT_TRUE(TwSoundGetBuffer(id, &info));
    return info;
}

class SoundTest : public ::testing::Test {
protected:
    void SetUp() override {
        TwSoundReset();
        TwPlatformResetWindowsAndTimers();
        window = TwPlatformRegisterWindow("FS98MAIN");
        ASSERT_EQ(DirectSoundCreate(nullptr, &device, nullptr), DS_OK);
        ASSERT_EQ(device->SetCooperativeLevel(window, DSSCL_PRIORITY), DS_OK);
    }
    void TearDown() override {
        // Tests that provoke faults clear this first.
        if (expectNoFaults) {
            EXPECT_EQ(Faults(), std::vector<std::string>{});
        }
        TwSoundReset();
        TwPlatformResetWindowsAndTimers();
    }

    IDirectSoundBuffer* Make(WAVEFORMATEX format, size_t frames, DWORD flags = kControls) {
        DSBUFFERDESC desc = Desc(flags, static_cast<DWORD>(frames * format.nBlockAlign), &format);
        IDirectSoundBuffer* buffer = nullptr;
        EXPECT_EQ(device->CreateSoundBuffer(&desc, &buffer, nullptr), DS_OK);
        return buffer;
    }

    // Fills the buffer from its start, as the module does: lock all, copy, unlock.
    static void Fill(IDirectSoundBuffer* buffer, const std::vector<uint8_t>& bytes) {
        void* p1 = nullptr;
        void* p2 = nullptr;
        DWORD n1 = 0, n2 = 0;
        ASSERT_EQ(buffer->Lock(0, 0, &p1, &n1, &p2, &n2, DSBLOCK_ENTIREBUFFER), DS_OK);
        ASSERT_LE(bytes.size(), size_t{n1} + n2);
        const size_t first = std::min<size_t>(n1, bytes.size());
        std::memcpy(p1, bytes.data(), first);
        if (bytes.size() > first) std::memcpy(p2, bytes.data() + first, bytes.size() - first);
        ASSERT_EQ(buffer->Unlock(p1, n1, p2, n2), DS_OK);
    }

    IDirectSoundBuffer* MakeTone(WAVEFORMATEX format, size_t frames, double hz, double amplitude,
                                 int channelMask = 3, DWORD flags = kControls) {
        IDirectSoundBuffer* buffer = Make(format, frames, flags);
        if (buffer != nullptr) Fill(buffer, Tone(format, frames, hz, amplitude, channelMask));
        return buffer;
    }

    static std::vector<int16_t> Mix(size_t frames) {
        std::vector<int16_t> out(2 * frames);
        TwSoundMix(out.data(), frames);
        return out;
    }

    static DWORD Status(IDirectSoundBuffer* buffer) {
        DWORD status = 0xFFFFFFFF;
        EXPECT_EQ(buffer->GetStatus(&status), DS_OK);
        return status;
    }

    static DWORD Position(IDirectSoundBuffer* buffer) {
        DWORD play = 0xFFFFFFFF, write = 0xFFFFFFFF;
        EXPECT_EQ(buffer->GetCurrentPosition(&play, &write), DS_OK);
        return play;
    }

    HWND window = nullptr;
    IDirectSound* device = nullptr;
    bool expectNoFaults = true;
};

}  // namespace sound_test
