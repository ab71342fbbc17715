// What a listener hears: the mixed output of the sound device, captured in
// step with the host's updates, analysed for each commanded tone's
// frequency, level and side.
#include <gtest/gtest.h>

#include <cmath>

#include "sound_host.h"

namespace {

constexpr double kAmplitude = 0.5;

class Audio : public ::testing::Test {
protected:
    void SetUp() override {
        host.WriteConfig(
            "[general]\nmastercontroller=Master\nbuffervolwrite=VolIn\nbufferpanwrite=PanIn\n"
            "[sounditems]\n"
            "Low, low.wav\n"
            "High, high.wav, -600\n"
            "Sweep, sweep.wav\n");
        host.Write("low.wav", ToneWav({.frequency = 440, .seconds = 0.5, .amplitude = kAmplitude}));
        host.Write("high.wav", ToneWav({.frequency = 1320, .seconds = 1.0, .rate = 44100, .amplitude = kAmplitude}));
        // One second at 500 Hz, then one at 1500 Hz: where it is heard from
        // tells where the buffer stands.
        std::string sweep = ToneWav({.frequency = 500, .seconds = 1.0, .amplitude = kAmplitude});
        const std::string second = ToneWav({.frequency = 1500, .seconds = 1.0, .amplitude = kAmplitude});
        sweep = WavFile(1, 1, 22050, 16, sweep.substr(44) + second.substr(44));
        host.Write("sweep.wav", sweep);
        host.Load();
        host.sim().CaptureAudio(true);
        rate = host.sim().audioRate();
        perUpdate = FramesPerUpdate(host.sim());
    }

    // The frame where the next update's sound starts.
    size_t Now() const { return host.sim().audio().size() / 2; }

    double Tone(double frequency, int channel, size_t first, size_t frames) const {
        return ToneAmplitude(host.sim().audio(), channel, frequency, rate, first, frames);
    }

    SoundHost host;
    uint32_t rate = 0;
    size_t perUpdate = 0;
};

TEST_F(Audio, APlayedSoundIsHeardAtItsFrequencyAndLevelOnBothSides) {
    host.Set("Low", 1);
    const size_t start = Now();
    host.Update(4);
    const size_t window = 3 * perUpdate;
    EXPECT_NEAR(Tone(440, 0, start, window), kAmplitude, 0.02);
    EXPECT_NEAR(Tone(440, 1, start, window), kAmplitude, 0.02);
    EXPECT_LT(Tone(1320, 0, start, window), 0.01);
}

TEST_F(Audio, VolumeAttenuatesByItsDecibels) {
    host.Set("High", 1);  // default volume -600: 6 dB down
    const size_t start = Now();
    host.Update(4);
    const double expected = kAmplitude * std::pow(10.0, -600.0 / 2000.0);
    const double heard = Tone(1320, 0, start, 3 * perUpdate);
    EXPECT_NEAR(20 * std::log10(heard / expected), 0.0, 0.2);
}

TEST_F(Audio, PanMovesTheSoundBetweenTheChannels) {
    host.Set("VolIn", 0);
    host.Set("PanIn", -10000);
    host.Set("Low", 7);
    size_t start = Now();
    host.Update(3);
    EXPECT_NEAR(Tone(440, 0, start, 2 * perUpdate), kAmplitude, 0.02);
    EXPECT_LT(Tone(440, 1, start, 2 * perUpdate), 0.001);

    host.Set("PanIn", 10000);
    host.Set("Low", 5);
    start = Now();
    host.Update(2);
    EXPECT_LT(Tone(440, 0, start + perUpdate, perUpdate), 0.001);
    EXPECT_NEAR(Tone(440, 1, start + perUpdate, perUpdate), kAmplitude, 0.02);

    host.Set("PanIn", 2000);  // 20 dB down on the left
    host.Set("Low", 5);
    start = Now();
    host.Update(2);
    EXPECT_NEAR(Tone(440, 0, start + perUpdate, perUpdate), kAmplitude * 0.1, 0.005);
}

TEST_F(Audio, VolumeSilentIsSilence) {
    host.Set("VolIn", -10000);
    host.Set("PanIn", 0);
    host.Set("Low", 7);
    const size_t start = Now();
    host.Update(4);
    EXPECT_LT(Levels(host.sim().audio(), start, 3 * perUpdate).left, 1e-4);
}

TEST_F(Audio, AOnceSoundEndsAndALoopedOneGoesOn) {
    host.Set("Low", 1);   // half a second
    host.Set("High", 2);  // one second, looping
    const size_t start = Now();
    host.sim().RunFor(3.0);
    const size_t tenth = rate / 10;
    EXPECT_NEAR(Tone(440, 0, start, 4 * tenth), kAmplitude, 0.02);
    EXPECT_LT(Tone(440, 0, start + 6 * tenth, 20 * tenth), 0.001);  // over after half a second
    for (int second = 0; second < 3; ++second) {
        EXPECT_GT(Tone(1320, 0, start + second * rate, 8 * tenth), 0.2) << "second " << second;
    }
    // Across the loop's seam the tone goes on without a gap.
    EXPECT_GT(Levels(host.sim().audio(), start + rate - tenth / 2, tenth).left, 0.1);
}

TEST_F(Audio, StopSilencesAndMasterStopSilencesEverything) {
    host.Set("High", 2);
    host.Set("Sweep", 2);
    host.Update(5);
    host.Set("High", 0);
    size_t start = Now();
    host.Update(3);
    EXPECT_LT(Tone(1320, 0, start, 3 * perUpdate), 0.01);  // the 500 Hz loop leaks a little into the filter
    EXPECT_GT(Tone(500, 0, start, 3 * perUpdate), 0.3);

    host.Set("Master", 1);
    start = Now();
    host.Update(3);
    EXPECT_LT(Levels(host.sim().audio(), start, 3 * perUpdate).left, 1e-4);
}

TEST_F(Audio, APauseSilencesAndTheLoopIsNotResumed) {
    host.Set("High", 2);
    host.Update(5);
    host.sim().Pause(true);
    size_t start = Now();
    host.Update(3);
    EXPECT_LT(Levels(host.sim().audio(), start, 3 * perUpdate).left, 1e-4);
    host.sim().Pause(false);
    start = Now();
    host.Update(10);
    EXPECT_LT(Levels(host.sim().audio(), start, 10 * perUpdate).left, 1e-4);
}

TEST_F(Audio, PlayWhilePlayingDoesNotRestartAndStopThenPlayStartsFromTheBeginning) {
    host.Set("Sweep", 1);
    host.sim().RunFor(0.5);
    host.Set("Sweep", 1);  // again, halfway through the first second
    const size_t again = Now();
    host.sim().RunFor(0.8);
    // Had it restarted, the 500 Hz part would still be playing.
    EXPECT_GT(Tone(1500, 0, again + rate * 6 / 10, rate / 10), 0.3);
    EXPECT_LT(Tone(500, 0, again + rate * 6 / 10, rate / 10), 0.01);

    host.Set("Sweep", 0);
    host.Update();
    host.Set("Sweep", 1);
    const size_t restart = Now();
    host.Update(3);
    EXPECT_GT(Tone(500, 0, restart, 2 * perUpdate), 0.3);
    EXPECT_LT(Tone(1500, 0, restart, 2 * perUpdate), 0.01);
}

TEST_F(Audio, TwoSoundsAreHeardTogether) {
    host.Set("Low", 1);
    host.Set("High", 1);
    const size_t start = Now();
    host.Update(4);
    EXPECT_NEAR(Tone(440, 0, start, 3 * perUpdate), kAmplitude, 0.02);
    EXPECT_NEAR(Tone(1320, 0, start, 3 * perUpdate), kAmplitude * std::pow(10.0, -0.3), 0.02);
}

}  // namespace
