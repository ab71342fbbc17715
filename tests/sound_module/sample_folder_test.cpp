// The worked example folder (examples/sound-sample) flown end to end: the
// module loads it, a panel gauge plays its sounds, and the mixed output goes
// to a WAV file a person can listen to (sample_folder.wav in the test's
// build folder), which the test reads back and checks.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "audio_file.h"
#include "sound_calls.h"
#include "sound_host.h"

namespace {

double Seconds(const std::filesystem::path& wav) {
    WavContents contents;
    EXPECT_TRUE(ReadWavFile(wav.string(), &contents));
    return contents.rate == 0 ? 0.0 : static_cast<double>(contents.samples.size()) / contents.channels / contents.rate;
}

TEST(SampleFolder, PlaysThroughTheHostIntoAWavFile) {
    SoundHost host;
    const std::filesystem::path sample = TW_EXAMPLES_DIR "/sound-sample";
    std::filesystem::copy(sample, host.soundFolder(),
                          std::filesystem::copy_options::recursive | std::filesystem::copy_options::overwrite_existing);
    const double startLength = Seconds(sample / "apu_start.wav");
    const double hornLength = Seconds(sample / "horns" / "gear_horn.wav");
    ASSERT_GT(startLength, 0.1);
    ASSERT_GT(hornLength, 0.1);

    host.Load();
    ASSERT_EQ(host.Buffers().size(), 3u);
    host.sim().CaptureAudio(true);

    host.Set("apustart", 1);
    host.sim().RunFor(startLength + 0.5);
    EXPECT_EQ(host.Get("apustart"), -1);
    host.Set("apurun", 2);
    host.sim().RunFor(1.0);
    host.Set("gearhorn", 1);
    host.sim().RunFor(hornLength + 0.5);
    host.Set("soundmaster", 1);
    host.sim().RunFor(1.0);
    EXPECT_EQ(host.Get("soundmaster"), 0);
    EXPECT_EQ(host.Get("apurun"), -1);
    EXPECT_EQ(TwSoundFaultCount(), 0u);

    const std::string out = TW_TEST_OUTPUT_DIR "/sample_folder.wav";
    std::string error;
    ASSERT_TRUE(host.sim().WriteAudio(out, &error)) << error;
    WavContents heard;
    ASSERT_TRUE(ReadWavFile(out, &heard, &error)) << error;
    EXPECT_EQ(heard.rate, host.sim().audioRate());
    EXPECT_EQ(heard.channels, 2);
    EXPECT_EQ(heard.samples, host.sim().audio());

    const size_t rate = heard.rate;
    auto level = [&](double from, double seconds) {
        return Levels(heard.samples, static_cast<size_t>(from * rate), static_cast<size_t>(seconds * rate)).left;
    };
    const double runStart = std::round((startLength + 0.5) * 18) / 18;
    const double hornStart = runStart + 1.0;
    const double stopAt = hornStart + std::round((hornLength + 0.5) * 18) / 18;
    EXPECT_GT(level(0.05, startLength - 0.1), 0.05);                      // the APU starting
    EXPECT_LT(level(startLength + 0.05, runStart - startLength - 0.1), 1e-4);  // then nothing
    EXPECT_GT(level(runStart + 0.05, 0.9), 0.02);                         // the APU running, looped
    EXPECT_GT(level(hornStart + 0.05, hornLength - 0.1), level(runStart + 0.05, 0.9));  // horn over it
    EXPECT_GT(level(stopAt - 0.3, 0.25), 0.02);                           // the loop still going
    EXPECT_LT(level(stopAt + 0.1, 0.8), 1e-4);                            // master stop: silence
}

}  // namespace
