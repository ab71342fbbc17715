// What a listener hears from tw_sound.gau under wine: the sound wine's real
// DirectSound mixes into the ALSA file sink, analysed for each commanded
// tone's frequency (a Goertzel filter over 20 ms blocks).
//
// The sink takes the sound faster than real time and may get runs of zeros
// where the mixer had nothing ready, so the checks cut those runs out and
// count the frames and blocks in which a tone sounds, over stretches of real time long enough for
// any of that, and never look at exact times: after a command the test
// waits a settling time (the mixer may have mixed a little ahead) before it
// listens. A tone "sounds" in a block above half its level and is "gone"
// below kQuiet.
#include <cstdio>

#include "captured_sound.h"
#include "sound_module.h"

namespace sound_win {
namespace {

constexpr double kAmplitude = 0.5;      // of every test tone
constexpr size_t kBlock = 960;          // 20 ms at 48 kHz: whole cycles of 500, 1000 and 1500 Hz
constexpr double kQuiet = 0.01;         // a tone is gone below this (-34 dB of the test tones)
constexpr double kSettle = 0.5;         // seconds of real time for a command to be heard, or to die away
constexpr double kListen = 0.6;         // seconds of real time to listen for
constexpr size_t kEnoughFrames = 4800;  // 0.1 s: the sink did get sound while the test listened
constexpr size_t kMinSounding = 10;     // 0.2 s of a tone heard: it plays

struct Heard {
    size_t blocks = 0;    // whole blocks listened to
    size_t sounding = 0;  // blocks in which the tone sounds (above half its level)
    double frames = 0.0;  // how many frames of the tone at its level all blocks add up to
    double level = 0.0;   // its median amplitude in the blocks where it sounds
    double peak = 0.0;    // its largest block amplitude
};

// How `frequency` sounds in one channel, if played at amplitude `level`.
// Runs of zeros (the mixer late) are cut out first, so that they cannot
// split the sound across blocks; a block where the tone sounds for only part
// of its frames (at a start or an end) shows about that part of its level,
// and `frames` adds up the sound's frames however they fell into blocks.
Heard Listen(const std::vector<float>& captured, int channel, double frequency, double level = kAmplitude) {
    Heard heard;
    const std::vector<float> stereo = WithoutZeroRuns(captured);
    const size_t frames = stereo.size() / 2;
    std::vector<double> sounding;
    for (size_t first = 0; first + kBlock <= frames; first += kBlock) {
        const double a = ToneAmplitude(stereo, channel, frequency, first, kBlock);
        ++heard.blocks;
        heard.peak = std::max(heard.peak, a);
        heard.frames += std::min(a / level, 1.0) * kBlock;
        if (a > level / 2) sounding.push_back(a);
    }
    heard.sounding = sounding.size();
    if (!sounding.empty()) {
        std::nth_element(sounding.begin(), sounding.begin() + sounding.size() / 2, sounding.end());
        heard.level = sounding[sounding.size() / 2];
    }
    return heard;
}

class Audio : public SoundModuleTest {
protected:
    void SetUp() override {
        SoundModuleTest::SetUp();
        WriteConfig(
            "[general]\nmastercontroller=Master\nbuffervolwrite=VolIn\nbufferpanwrite=PanIn\n"
            "[sounditems]\n"
            "Low, low.wav\n"
            "High, high.wav\n"
            "Short, short.wav\n"
            "Soft, soft.wav, -600\n");
        // Whole cycles in every file, so that looping makes no click.
        Write("low.wav", ToneWav({.frequency = 500, .seconds = 1.0, .rate = 22050, .amplitude = kAmplitude}));
        Write("high.wav", ToneWav({.frequency = 1500, .seconds = 1.0, .rate = 44100, .amplitude = kAmplitude}));
        Write("short.wav", ToneWav({.frequency = 1000, .seconds = 0.25, .rate = 22050, .amplitude = kAmplitude}));
        Write("soft.wav", ToneWav({.frequency = 1000, .seconds = 1.0, .rate = 22050, .amplitude = kAmplitude}));
        Load();
        Set("VolIn", 0);
        Set("PanIn", 0);
        Update();
    }

    // Runs the simulator for `seconds` and gives what the sink got meanwhile.
    std::vector<float> Hear(double seconds) {
        const uint64_t mark = CaptureSize();
        sim.RunFor(seconds);
        std::vector<float> heard = CaptureSince(mark);
        EXPECT_GE(heard.size() / 2, kEnoughFrames) << "the sink got (almost) nothing: is wine's sound device there?";
        return heard;
    }
    // After a command: let it take effect, then listen.
    std::vector<float> Settle(double listen = kListen) {
        sim.RunFor(kSettle);
        return Hear(listen);
    }

    static void Report(const char* what, const Heard& heard) {
        std::printf("[audio] %-34s %3zu of %3zu blocks sounding, %6.0f frames, level %.4f, peak %.2e\n", what,
                    heard.sounding, heard.blocks, heard.frames, heard.level, heard.peak);
    }
    // The tone is heard for a while, at its level.
    static void ExpectSounding(const char* what, const Heard& heard, double level = kAmplitude) {
        Report(what, heard);
        EXPECT_GE(heard.sounding, kMinSounding) << what;
        EXPECT_NEAR(heard.level, level, 0.1 * level) << what;
    }
    static void ExpectQuiet(const char* what, const Heard& heard, double limit = kQuiet) {
        Report(what, heard);
        EXPECT_LT(heard.peak, limit) << what;
    }
};

TEST_F(Audio, ATonePlaysUntilStoppedAndAMasterStopSilencesEverything) {
    Set("Low", 2);
    Set("High", 2);
    Update();
    std::vector<float> heard = Settle();
    ExpectSounding("500 Hz looping", Listen(heard, 0, 500));
    ExpectSounding("1500 Hz looping", Listen(heard, 0, 1500));
    ExpectQuiet("1000 Hz never commanded", Listen(heard, 0, 1000));

    Set("Low", 0);
    Update();
    heard = Settle();
    ExpectQuiet("500 Hz after its stop", Listen(heard, 0, 500));
    ExpectSounding("1500 Hz after the other's stop", Listen(heard, 0, 1500));

    Set("Master", 1);
    Update();
    heard = Settle();
    ExpectQuiet("1500 Hz after a master stop", Listen(heard, 0, 1500));
    ExpectQuiet("500 Hz after a master stop", Listen(heard, 0, 500));
}

TEST_F(Audio, ALoopedSoundKeepsSoundingForSecondsAndAOnceSoundEnds) {
    Set("Low", 2);    // one second, looping
    Set("Short", 1);  // a quarter of a second, once
    const uint64_t start = CaptureSize();
    Update();
    sim.RunFor(3.0);
    const std::vector<float> all = CaptureSince(start);
    const std::vector<float> last = Hear(kListen);

    // Far more than the file's one second was heard, and it still sounds.
    const Heard loop = Listen(all, 0, 500);
    Report("500 Hz looped, 3 s", loop);
    EXPECT_GT(loop.frames, 2.0 * kCaptureRate);
    ExpectSounding("500 Hz looped, after 3 s", Listen(last, 0, 500));

    // Its quarter second (12000 frames) once, not repeated, and then nothing.
    const Heard once = Listen(all, 0, 1000);
    Report("1000 Hz once, 3 s", once);
    EXPECT_GT(once.frames, 0.5 * 0.25 * kCaptureRate);
    EXPECT_LT(once.frames, 1.5 * 0.25 * kCaptureRate);
    ExpectQuiet("1000 Hz once, after 3 s", Listen(last, 0, 1000));
}

TEST_F(Audio, APauseTransitionSilencesAndTheLoopIsNotResumed) {
    Set("Low", 2);
    Update();
    ExpectSounding("500 Hz looping", Listen(Settle(), 0, 500));
    ASSERT_TRUE(sim.Pause(true));
    Update();
    ExpectQuiet("500 Hz paused", Listen(Settle(), 0, 500));
    ASSERT_TRUE(sim.Pause(false));
    Update();
    ExpectQuiet("500 Hz after the pause", Listen(Settle(), 0, 500));
}

TEST_F(Audio, VolumeMinus10000SilencesAndMinus600Attenuates) {
    Set("VolIn", -10000);
    Set("Low", 8);   // looped, volume and pan from the registers
    Set("High", 2);  // looped at its default volume, 0
    Set("Soft", 2);  // looped at its default volume, -600
    Update();
    const std::vector<float> heard = Settle();
    ExpectQuiet("500 Hz at volume -10000", Listen(heard, 0, 500), 0.001);
    ExpectSounding("1500 Hz at volume 0", Listen(heard, 0, 1500));
    const double attenuated = kAmplitude * std::pow(10.0, -600.0 / 2000.0);  // 6 dB down
    ExpectSounding("1000 Hz at volume -600", Listen(heard, 0, 1000, attenuated), attenuated);
}

TEST_F(Audio, PanMinus10000LeavesTheRightChannelNearSilent) {
    Set("PanIn", -10000);
    Set("Low", 8);
    Update();
    const std::vector<float> heard = Settle();
    const Heard left = Listen(heard, 0, 500);
    const Heard right = Listen(heard, 1, 500);
    ExpectSounding("500 Hz panned left, left channel", left);
    ExpectQuiet("500 Hz panned left, right channel", right, 0.001);
}

}  // namespace
}  // namespace sound_win
