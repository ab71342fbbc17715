// What the DirectSound stand-in's mixer puts out: tones at their frequency
// and at the level their volume and pan give, whatever the buffer's format
// and rate; voices summed and clipped; the same sound however the time is
// cut into mixes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sound_fixture.h"

namespace sound_test {
namespace {

using Mixer = SoundTest;

constexpr double kFull = 32767;

// A looping 500 Hz tone of one second (a whole number of periods at any
// rate), mixed for 0.1 s at the output rate. (Linear interpolation takes a
// little off high tones at low rates: 0.23 dB at 1000 Hz from 11025 Hz.)
struct ToneCase {
    int bits;
    int channels;
    uint32_t rate;
    uint32_t outputRate;
};

std::string Name(const ToneCase& c) {
    return std::to_string(c.bits) + "-bit " + std::to_string(c.channels) + " ch " + std::to_string(c.rate) +
           " Hz into " + std::to_string(c.outputRate) + " Hz";
}

TEST_F(Mixer, ToneComesOutAtItsFrequencyAndLevel) {
    const ToneCase cases[] = {
        {16, 1, 44100, 44100}, {8, 1, 44100, 44100}, {16, 2, 44100, 44100}, {8, 2, 44100, 44100},
        {16, 1, 22050, 44100}, {8, 2, 22050, 44100}, {16, 2, 48000, 44100}, {8, 1, 11025, 44100},
        {16, 1, 44100, 48000}, {16, 2, 22050, 48000},
    };
    for (const ToneCase& c : cases) {
        SCOPED_TRACE(Name(c));
        TwSoundSetOutputRate(c.outputRate);
        IDirectSoundBuffer* buffer = MakeTone(Pcm(c.bits, c.channels, c.rate), c.rate, 500, 0.5);
        ASSERT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
        const std::vector<int16_t> out = Mix(c.outputRate / 10);
        for (int ch : {0, 1}) {
            const std::vector<double> x = Channel(out, ch);
            EXPECT_NEAR(ZeroCrossingHz(x, c.outputRate), 500, 1) << "channel " << ch;
            EXPECT_NEAR(Db(AmplitudeAt(x, 500, c.outputRate) / (0.5 * kFull)), 0, 0.2) << "channel " << ch;
            // Nothing much at other frequencies: not a tone at some other pitch.
            EXPECT_LT(AmplitudeAt(x, 600, c.outputRate), 0.01 * 0.5 * kFull) << "channel " << ch;
        }
        buffer->Release();
    }
}

TEST_F(Mixer, EightAndSixteenBitSamplesGiveTheSameLevel) {
    IDirectSoundBuffer* eight = MakeTone(Pcm(8, 1, 44100), 44100, 1000, 0.8);
    ASSERT_EQ(eight->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    const double level8 = AmplitudeAt(Channel(Mix(4410), 0), 1000, 44100);
    eight->Stop();
    IDirectSoundBuffer* sixteen = MakeTone(Pcm(16, 1, 44100), 44100, 1000, 0.8);
    ASSERT_EQ(sixteen->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    const double level16 = AmplitudeAt(Channel(Mix(4410), 0), 1000, 44100);
    EXPECT_NEAR(Db(level8 / level16), 0, 0.1);

    // 128 is silence for 8-bit samples, and each step is 256 of 16-bit.
    IDirectSoundBuffer* steps = Make(Pcm(8, 2, 44100), 3, 0);
    Fill(steps, {128, 128, 129, 127, 255, 0});
    sixteen->Stop();
    ASSERT_EQ(steps->Play(0, 0, 0), DS_OK);
    EXPECT_EQ(Mix(3), (std::vector<int16_t>{0, 0, 256, -256, 127 * 256, -128 * 256}));
}

// Gain = 10^(volume / 2000), the volume in hundredths of a decibel.
TEST_F(Mixer, VolumeSetsTheLevel) {
    for (LONG volume : {0, -100, -600, -2000, -4000}) {
        SCOPED_TRACE(volume);
        IDirectSoundBuffer* buffer = MakeTone(Pcm(16, 1, 22050), 22050, 1000, 0.5);
        ASSERT_EQ(buffer->SetVolume(volume), DS_OK);
        ASSERT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
        const std::vector<int16_t> out = Mix(4410);
        for (int ch : {0, 1}) {
            EXPECT_NEAR(Db(AmplitudeAt(Channel(out, ch), 1000, 44100) / (0.5 * kFull)), volume / 100.0, 0.2);
        }
        buffer->Release();
    }
    IDirectSoundBuffer* silent = MakeTone(Pcm(16, 1, 22050), 22050, 1000, 1.0);
    ASSERT_EQ(silent->SetVolume(DSBVOLUME_MIN), DS_OK);
    ASSERT_EQ(silent->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    const std::vector<int16_t> out = Mix(4410);
    EXPECT_EQ(PeakAbs(Channel(out, 0)) + PeakAbs(Channel(out, 1)), 0.0) << "the lowest volume is silence";
    EXPECT_EQ(Position(silent), 2u * 2205) << "a silent buffer still plays on";
}

// A positive pan attenuates the left channel by that many hundredths of a
// decibel, a negative one the right; volume attenuates both.
TEST_F(Mixer, PanAttenuatesOneSide) {
    struct Case {
        LONG volume;
        LONG pan;
        double leftDb, rightDb;  // -1000: silent
    };
    const Case cases[] = {
        {0, 0, 0, 0},           {0, -600, 0, -6},        {0, 600, -6, 0},        {0, -3000, 0, -30},
        {0, DSBPAN_LEFT, 0, -1000}, {0, DSBPAN_RIGHT, -1000, 0}, {-600, 600, -12, -6},
        {-6000, 5000, -1000, -60},  // 110 dB down on the left: silent
    };
    for (int channels : {1, 2}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::to_string(channels) + " ch, volume " + std::to_string(c.volume) + " pan " +
                         std::to_string(c.pan));
            IDirectSoundBuffer* buffer = MakeTone(Pcm(16, channels, 44100), 44100, 1000, 0.5);
            ASSERT_EQ(buffer->SetVolume(c.volume), DS_OK);
            ASSERT_EQ(buffer->SetPan(c.pan), DS_OK);
            ASSERT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
            const std::vector<int16_t> out = Mix(4410);
            const double expected[2] = {c.leftDb, c.rightDb};
            for (int ch : {0, 1}) {
                const std::vector<double> x = Channel(out, ch);
                if (expected[ch] == -1000) {
                    EXPECT_EQ(PeakAbs(x), 0.0) << "channel " << ch;
                } else {
                    EXPECT_NEAR(Db(AmplitudeAt(x, 1000, 44100) / (0.5 * kFull)), expected[ch], 0.2) << "channel " << ch;
                }
            }
            buffer->Release();
        }
    }
}

TEST_F(Mixer, StereoChannelsGoLeftAndRight) {
    // 1000 Hz on the left only, 1500 Hz on the right only, in one buffer;
    // at the output rate and resampled.
    for (uint32_t rate : {44100u, 22050u}) {
        SCOPED_TRACE(rate);
        WAVEFORMATEX format = Pcm(16, 2, rate);
        std::vector<uint8_t> left = Tone(format, rate, 1000, 0.5, 1);
        const std::vector<uint8_t> right = Tone(format, rate, 1500, 0.25, 2);
        for (size_t i = 0; i < left.size(); i += 4) std::copy_n(&right[i + 2], 2, &left[i + 2]);
        IDirectSoundBuffer* buffer = Make(format, rate);
        Fill(buffer, left);
        ASSERT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
        std::vector<int16_t> out = Mix(4410);
        EXPECT_NEAR(AmplitudeAt(Channel(out, 0), 1000, 44100), 0.5 * kFull, 0.03 * 0.5 * kFull);
        EXPECT_LT(AmplitudeAt(Channel(out, 0), 1500, 44100), 20);
        EXPECT_NEAR(AmplitudeAt(Channel(out, 1), 1500, 44100), 0.25 * kFull, 0.03 * 0.25 * kFull);
        EXPECT_LT(AmplitudeAt(Channel(out, 1), 1000, 44100), 20);

        // Panned hard right, the left channel's sound is gone, not moved over.
        ASSERT_EQ(buffer->SetPan(DSBPAN_RIGHT), DS_OK);
        out = Mix(4410);
        EXPECT_EQ(PeakAbs(Channel(out, 0)), 0.0);
        EXPECT_LT(AmplitudeAt(Channel(out, 1), 1000, 44100), 20);
        buffer->Release();
    }
}

TEST_F(Mixer, VoicesSum) {
    IDirectSoundBuffer* low = MakeTone(Pcm(16, 1, 44100), 44100, 1000, 0.3);
    IDirectSoundBuffer* high = MakeTone(Pcm(8, 2, 22050), 22050, 1500, 0.2);
    ASSERT_EQ(low->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    ASSERT_EQ(high->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    std::vector<int16_t> out = Mix(4410);
    for (int ch : {0, 1}) {
        EXPECT_NEAR(Db(AmplitudeAt(Channel(out, ch), 1000, 44100) / (0.3 * kFull)), 0, 0.2);
        EXPECT_NEAR(Db(AmplitudeAt(Channel(out, ch), 1500, 44100) / (0.2 * kFull)), 0, 0.2);
    }

    // The same tone twice, in step: twice the amplitude.
    high->Stop();
    IDirectSoundBuffer* again = MakeTone(Pcm(16, 1, 44100), 44100, 1000, 0.3);
    ASSERT_EQ(low->SetCurrentPosition(0), DS_OK);
    ASSERT_EQ(again->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    out = Mix(4410);
    EXPECT_NEAR(Db(AmplitudeAt(Channel(out, 0), 1000, 44100) / (0.3 * kFull)), 6.02, 0.2);
}

TEST_F(Mixer, SumBeyondFullScaleIsClippedNotWrapped) {
    IDirectSoundBuffer* buffers[3];
    for (auto*& b : buffers) {
        b = MakeTone(Pcm(16, 1, 44100), 44100, 100, 0.9);
        ASSERT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    }
    const std::vector<double> x = Channel(Mix(441), 0);
    const std::vector<uint8_t> tone = Tone(Pcm(16, 1, 44100), 441, 100, 0.9);
    int clippedHigh = 0, clippedLow = 0;
    for (size_t i = 0; i < x.size(); ++i) {
        int16_t s;
        std::memcpy(&s, &tone[2 * i], 2);
        const double sum = 3.0 * s;
        const double expected = std::clamp(sum, -32768.0, 32767.0);
        ASSERT_EQ(x[i], expected) << i;
        clippedHigh += x[i] == 32767;
        clippedLow += x[i] == -32768;
    }
    EXPECT_GT(clippedHigh, 50);
    EXPECT_GT(clippedLow, 50);
}

TEST_F(Mixer, LoopingBufferInterpolatesAcrossItsWrap) {
    // A cosine of whole periods at 22050 Hz, looped into 44100 Hz: output
    // frames between the last source frame and the first must lie on the
    // same curve (towards the first frame again, not towards silence).
    const WAVEFORMATEX format = Pcm(16, 1, 22050);
    const double amplitude = 0.5 * kFull;
    IDirectSoundBuffer* buffer = Make(format, 2205);  // 100 periods of 1000 Hz
    Fill(buffer, Tone(format, 2205, 1000, 0.5, 1, M_PI / 2));
    ASSERT_EQ(buffer->SetCurrentPosition(2 * 2200), DS_OK);
    ASSERT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    const std::vector<double> x = Channel(Mix(20), 0);
    for (size_t j = 0; j < x.size(); ++j) {
        const double ideal = amplitude * std::cos(2 * M_PI * 1000 * (2200 + j / 2.0) / 22050);
        // Linear interpolation of 1000 Hz at 22050 Hz is within 1%.
        EXPECT_NEAR(x[j], ideal, 0.015 * amplitude) << j;
    }
}

TEST_F(Mixer, SameSoundHoweverTheTimeIsCut) {
    // Whatever the stretch boundaries, resampled voices come out sample for
    // sample the same, and end at the same frame.
    auto session = [this] {
        TwSoundReset();
        ASSERT_EQ(DirectSoundCreate(nullptr, &device, nullptr), DS_OK);
        IDirectSoundBuffer* a = MakeTone(Pcm(8, 2, 48000), 4801, 700, 0.4);
        IDirectSoundBuffer* b = MakeTone(Pcm(16, 1, 11025), 3000, 300, 0.4);
        IDirectSoundBuffer* c = MakeTone(Pcm(16, 2, 44100), 2000, 440, 0.4);
        ASSERT_EQ(a->SetCurrentPosition(2 * 1234), DS_OK);
        ASSERT_EQ(a->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
        ASSERT_EQ(b->Play(0, 0, 0), DS_OK);
        ASSERT_EQ(c->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    };
    const size_t total = 13000;
    session();
    const std::vector<int16_t> whole = Mix(total);
    for (const std::vector<size_t>& pieces :
         {std::vector<size_t>{1, 7, 511, 512, 513, 1024, 4000}, std::vector<size_t>{2047, 2049, 3}}) {
        session();
        std::vector<int16_t> cut;
        size_t done = 0;
        for (size_t i = 0; done < total; ++i) {
            const size_t n = std::min(pieces[i % pieces.size()], total - done);
            const std::vector<int16_t> part = Mix(n);
            cut.insert(cut.end(), part.begin(), part.end());
            done += n;
        }
        EXPECT_EQ(cut, whole);
    }
    EXPECT_EQ(TwSoundLiveBuffers(), 3u);
    EXPECT_FALSE(InfoOf(2).playing) << "the one played once ended";
    EXPECT_EQ(InfoOf(2).framesPlayed, 3000u);
}

TEST_F(Mixer, MixingWithoutOutputLetsTheTimePass) {
    IDirectSoundBuffer* once = Make(Pcm(16, 1, 22050), 1000, 0);
    std::vector<uint8_t> ramp(2000);
    for (size_t i = 0; i < 1000; ++i) {
        const auto v = static_cast<int16_t>(i + 1);
        std::memcpy(&ramp[2 * i], &v, 2);
    }
    Fill(once, ramp);
    IDirectSoundBuffer* looped = MakeTone(Pcm(8, 2, 48000), 480, 1000, 0.5);
    ASSERT_EQ(looped->SetPan(DSBPAN_LEFT), DS_OK);  // the right channel is `once` alone
    ASSERT_EQ(once->Play(0, 0, 0), DS_OK);
    ASSERT_EQ(looped->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    TwSoundMix(nullptr, 600);
    EXPECT_EQ(Position(once), 2u * 300);
    EXPECT_EQ(InfoOf(1).framesPlayed, 300u);
    EXPECT_EQ(Mix(1)[1], 301);
    TwSoundMix(nullptr, 5000);
    EXPECT_EQ(Status(once), 0u) << "played to its end meanwhile";
    EXPECT_EQ(Position(once), 0u);
    EXPECT_EQ(InfoOf(1).framesPlayed, 1000u);
    EXPECT_EQ(Status(looped), DWORD{DSBSTATUS_PLAYING | DSBSTATUS_LOOPING});
    // 5601 frames at 44100 are 6096.3 frames at 48000: 336.3 into the 480.
    EXPECT_EQ(Position(looped), 2u * 336);
}

}  // namespace
}  // namespace sound_test
