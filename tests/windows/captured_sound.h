// The sound wine's DirectSound mixed, as the ALSA file sink of the test home
// (cmake/wine-test) writes it: 32-bit float, little-endian, stereo, 48 kHz.
// Under emulation it arrives faster than real time, with runs of zeros where
// the mixer had nothing ready, so what it says is which frames sounded and
// at which frequencies, not exactly when. Opening the device again after the
// last one was released empties the file.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace sound_win {

constexpr uint32_t kCaptureRate = 48000;
constexpr size_t kBytesPerFrame = 2 * sizeof(float);

// The sink's file as this process sees it: the wine folder through drive Z:.
inline std::string CapturePath() {
    std::string path = std::string("Z:") + TW_WINE_DIR + "/out.raw";
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

// The file's size now, in bytes (0 when it is not there).
inline uint64_t CaptureSize() {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(CapturePath().c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// Interleaved left, right samples from byte `from` to the end, whole frames only.
inline std::vector<float> CaptureSince(uint64_t from) {
    std::vector<float> samples;
    HANDLE file = CreateFileA(CapturePath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return samples;
    LARGE_INTEGER size{};
    GetFileSizeEx(file, &size);
    const uint64_t end = static_cast<uint64_t>(size.QuadPart);
    from -= from % kBytesPerFrame;
    if (end > from) {
        const uint64_t bytes = (end - from) / kBytesPerFrame * kBytesPerFrame;
        samples.resize(bytes / sizeof(float));
        LARGE_INTEGER at;
        at.QuadPart = static_cast<LONGLONG>(from);
        SetFilePointerEx(file, at, nullptr, FILE_BEGIN);
        DWORD got = 0;
        ReadFile(file, samples.data(), static_cast<DWORD>(bytes), &got, nullptr);
        samples.resize(got / sizeof(float));
    }
    CloseHandle(file);
    return samples;
}

// The amplitude of `frequency` in one channel (0 left, 1 right) of frames
// [first, first + count), by a Goertzel filter: the fraction of full scale
// a sine of that frequency would have.
inline double ToneAmplitude(const std::vector<float>& stereo, int channel, double frequency, size_t first, size_t count) {
    const double w = 2.0 * 3.14159265358979323846 * frequency / kCaptureRate;
    const double coefficient = 2.0 * std::cos(w);
    double s1 = 0.0, s2 = 0.0;
    size_t counted = 0;
    for (size_t f = first; f < first + count && 2 * f + 1 < stereo.size(); ++f, ++counted) {
        const double s0 = stereo[2 * f + channel] + coefficient * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    if (counted == 0) return 0.0;
    const double power = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
    return 2.0 * std::sqrt(std::max(power, 0.0)) / static_cast<double>(counted);
}

// The samples without the runs of zeros the sink got where the mixer had
// nothing ready: every run of at least `minRun` frames of exact silence in
// both channels is cut out. A sound's own zero crossings are single frames.
inline std::vector<float> WithoutZeroRuns(const std::vector<float>& stereo, size_t minRun = 32) {
    std::vector<float> kept;
    kept.reserve(stereo.size());
    const size_t frames = stereo.size() / 2;
    size_t f = 0;
    while (f < frames) {
        size_t end = f;
        while (end < frames && stereo[2 * end] == 0.0f && stereo[2 * end + 1] == 0.0f) ++end;
        if (end - f < minRun) {
            if (end == f) ++end;  // a sounding frame
            kept.insert(kept.end(), stereo.begin() + 2 * f, stereo.begin() + 2 * end);
        }
        f = end;
    }
    return kept;
}

}  // namespace sound_win
