// The sound output's steps as the log tells them, for good sounds and for
// every way the sound device or a WAV file can fail: each failure leaves
// less sound and a log line, never a crash, a hang or a call on a buffer of
// a released device.
#include <gtest/gtest.h>

#include <control_window.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "sound_calls.h"
#include "sound_cases.h"
#include "sound_host.h"

namespace {

const std::vector<LogEntry> kDevice = {20, 21, 23, 25, 2};

class Output : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(TwSoundFaultCount(), 0u) << (TwSoundFaultCount() ? TwSoundFault(0) : ""); }

    // One item, "Sound", with the given WAV file bytes; loaded and placed.
    void LoadOne(const std::string& wav) {
        host.WriteConfig("[sounditems]\nSound, sound.wav\n");
        host.Write("sound.wav", wav);
        host.Load();
    }

    std::string Path() const { return host.moduleSoundFolder() + "\\sound.wav"; }

    // The log of the load after the configuration's messages: from message 7 on.
    std::vector<LogEntry> LoadingLog() const {
        std::vector<LogEntry> log = host.Log();
        auto start = std::find_if(log.begin(), log.end(), [](const LogEntry& e) { return e.number == 7; });
        return std::vector<LogEntry>(start, log.end());
    }

    SoundHost host;
};

TEST_F(Output, LoadingAGoodFileLogsEveryStep) {
    const std::string wav = ToneWav({.seconds = 0.25, .rate = 22050, .bits = 16});  // 11026 bytes of data? see below
    LoadOne(wav);
    const std::string size = std::to_string(wav.size() - 44);
    EXPECT_EQ(LoadingLog(), sound_cases::GoodLoadLog(wav.size() - 44, Path()));
    // The whole connect-to-window: the device, then the configuration.
    std::vector<LogEntry> log = host.Log();
    EXPECT_EQ(std::vector<LogEntry>(log.begin(), log.begin() + 6),
              (std::vector<LogEntry>{20, 21, 23, 25, 2, {6, Path()}}));
    const TwSoundBufferInfo buffer = LastBufferInfo(LiveBuffer(0));
    EXPECT_EQ(std::to_string(buffer.bytes), size);
    EXPECT_EQ(buffer.flags, static_cast<DWORD>(DSBCAPS_CTRLVOLUME | DSBCAPS_CTRLPAN | DSBCAPS_STATIC));
    EXPECT_EQ(0, std::memcmp(TwSoundBufferBytes(buffer.id), wav.data() + 44, buffer.bytes));
}

struct LoadFailure {
    const char* name;
    std::string wav;
    std::function<void()> inject;
    std::vector<int> log;  // from message 45 on
    bool buffer;           // a buffer exists afterwards
};

void PrintTo(const LoadFailure& c, std::ostream* out) { *out << c.name; }

class LoadFailures : public Output, public ::testing::WithParamInterface<LoadFailure> {};

TEST_P(LoadFailures, LeaveTheSlotWithoutSound) {
    const LoadFailure& c = GetParam();
    if (c.inject) c.inject();
    LoadOne(c.wav);
    std::vector<int> numbers = Numbers(LoadingLog());
    ASSERT_FALSE(numbers.empty());
    EXPECT_EQ(std::vector<int>(numbers.begin() + 1, numbers.end()), c.log);
    EXPECT_EQ(host.Buffers().size(), c.buffer ? 1u : 0u);

    // Commands for it are still taken and acknowledged.
    host.Set("Sound", 1);
    host.Update();
    EXPECT_EQ(host.Get("Sound"), -1);
}

// The file cases both builds run (sound_cases.h), then those that need the
// stand-in to refuse something.
std::vector<LoadFailure> LoadFailureCases() {
    std::vector<LoadFailure> cases;
    for (const sound_cases::LoadCase& c : sound_cases::LoadCases()) cases.push_back({c.name, c.wav, nullptr, c.log, c.buffer});
    const std::vector<LoadFailure> native = {
        {"FormatRefused", ToneWav({}), [] { TwSoundRefuseFormat(1); }, {45, 30, 32, 33, 31}, false},
        {"LockRefused", ToneWav({}), [] { TwSoundRefuseLock(1); }, {45, 30, 32, 34, 35, 32, 36, 39, 40}, true},
        {"NoDevice", ToneWav({}), [] { TwSoundRefuseCreate(1); }, {45, 30, 32, 33, 31}, false},
    };
    cases.insert(cases.end(), native.begin(), native.end());
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Cases, LoadFailures, ::testing::ValuesIn(LoadFailureCases()),
                         [](const auto& info) { return std::string(info.param.name); });

struct DeviceFailure {
    const char* name;
    std::function<void(Sim&)> inject;
    std::vector<int> log;
    bool soundsPlay;
};

void PrintTo(const DeviceFailure& c, std::ostream* out) { *out << c.name; }

class DeviceFailures : public Output, public ::testing::WithParamInterface<DeviceFailure> {};

TEST_P(DeviceFailures, LogAndKeepWhatCanBeUsed) {
    const DeviceFailure& c = GetParam();
    c.inject(host.sim());
    LoadOne(ToneWav({}));
    std::vector<int> numbers = Numbers(host.Log());
    ASSERT_GE(numbers.size(), c.log.size());
    EXPECT_EQ(std::vector<int>(numbers.begin(), numbers.begin() + c.log.size()), c.log);
    host.Set("Sound", 1);
    host.Update();
    EXPECT_EQ(!host.Buffers().empty() && host.Buffers().front().playing, c.soundsPlay);
    host.ClearLog();
    host.sim().RemoveGauge(host.gauge());
    EXPECT_EQ(Numbers(host.Log()), (std::vector<int>{28, 29}));
    EXPECT_EQ(TwSoundLiveDevices(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DeviceFailures,
    ::testing::Values(
        DeviceFailure{"CreateRefused", [](Sim&) { TwSoundRefuseCreate(1); }, {20, 3}, false},
        // The device is kept and used whatever the later steps said.
        DeviceFailure{"CooperativeLevelRefused", [](Sim&) { TwSoundRefuseCooperativeLevel(1); }, {20, 21, 22, 3}, true},
        DeviceFailure{"NoMainWindow", [](Sim& s) { s.CloseMainWindow(); }, {20, 21, 22, 3}, true},
        DeviceFailure{"ProbeRefused", [](Sim&) { TwSoundRefuseProbeBuffer(1); }, {20, 21, 23, 24, 3}, true}),
    [](const auto& info) { return std::string(info.param.name); });

class LostBuffer : public Output {
protected:
    void SetUp() override {
        sound = ToneWav({.frequency = 600, .seconds = 0.5});
        LoadOne(sound);
        buffer = LiveBuffer(0);
        host.ClearLog();
    }

    std::string sound;
    uint32_t buffer = 0;
};

TEST_F(LostBuffer, PlayOfABufferThatIsNotLostRestoresNothing) {
    host.Set("Sound", 1);
    host.Update();
    EXPECT_EQ(Numbers(host.Log()), (std::vector<int>{4, 14, 60, 62, 52, 59, 64, 55}));
}

TEST_F(LostBuffer, IsRestoredAndFilledFromTheStartBeforeItPlays) {
    ASSERT_TRUE(TwSoundLoseBuffer(buffer, 3));
    host.Set("Sound", 1);
    host.Update();
    EXPECT_EQ(Numbers(host.Log()), (std::vector<int>{4, 14, 60, 62, 52, 59, 64, 36, 39, 41, 42, 43, 44, 55}));
    EXPECT_TRUE(LastBufferInfo(buffer).playing);
    EXPECT_EQ(0, std::memcmp(TwSoundBufferBytes(buffer), sound.data() + 44, sound.size() - 44));
    EXPECT_EQ(host.Get("Sound"), -1);
}

TEST_F(LostBuffer, ThatNeverComesBackIsGivenUpAfterAboutASecond) {
    ASSERT_TRUE(TwSoundLoseBuffer(buffer, -1));
    const uint64_t sleptBefore = TwPlatformSleptMs();
    host.Set("Sound", 2);
    host.Update();
    EXPECT_EQ(Numbers(host.Log()), (std::vector<int>{4, 15, 60, 62, 52, 59, 64, 54}));
    const uint64_t slept = TwPlatformSleptMs() - sleptBefore;
    EXPECT_GE(slept, 500u);
    EXPECT_LE(slept, 2000u);
    EXPECT_FALSE(LastBufferInfo(buffer).playing);
    EXPECT_EQ(host.Get("Sound"), -1);  // acknowledged all the same
}

TEST(LostBufferAfterAFailedRead, IsRefilledWithWhatTheFileHasWithoutReadingPastTheBlock) {
    // The file is shorter than its data chunk says: the first fill fails and
    // leaves the reader with nothing left. A refill must copy only what it
    // read (under AddressSanitizer, anything more is a read past the block).
    SoundHost host;
    host.WriteConfig("[sounditems]\nSound, sound.wav\n");
    host.Write("sound.wav", sound_cases::Claiming(50000, ToneWav({.seconds = 0.1})));
    host.Load();
    const uint32_t buffer = LiveBuffer(0);
    ASSERT_TRUE(TwSoundLoseBuffer(buffer, 0));
    host.ClearLog();
    host.Set("Sound", 1);
    host.Update();
    EXPECT_EQ(Numbers(host.Log()), (std::vector<int>{4, 14, 60, 62, 52, 59, 64, 36, 39, 41, 42, 43, 44, 55}));
    EXPECT_EQ(TwSoundFaultCount(), 0u);
}

TEST(SplitLock, FillsBothRegions) {
    SoundHost host;
    TwSoundSplitLock(1);
    const std::string sound = ToneWav({.frequency = 700, .seconds = 0.3});
    host.WriteConfig("[sounditems]\nSound, sound.wav\n");
    host.Write("sound.wav", sound);
    host.Load();
    const TwSoundBufferInfo buffer = LastBufferInfo(LiveBuffer(0));
    EXPECT_EQ(0, std::memcmp(TwSoundBufferBytes(buffer.id), sound.data() + 44, buffer.bytes));
}

TEST_F(Output, VolumeReadBackIsTheDevicesValue) {
    host.WriteConfig("[general]\nbuffervolwrite=V\nbuffervolread=R\n[sounditems]\nSound, sound.wav, -700\n");
    host.Write("sound.wav", ToneWav({}));
    host.Load();
    host.Set("Sound", 1);
    host.Update();
    host.Set("Sound", 4);
    host.Update();
    EXPECT_EQ(host.Get("R"), -700);
    // A play command's volume outside DirectSound's range is refused by the
    // device, which keeps the level it had.
    host.Set("V", 500);
    host.Set("Sound", 7);
    host.Update();
    host.Set("Sound", 4);
    host.Update();
    EXPECT_EQ(host.Get("R"), -700);
}

TEST_F(Output, PreKillWithNoDeviceHeldLogsAndSucceeds) {
    TwSoundRefuseCreate(-1);
    LoadOne(ToneWav({}));
    host.ClearLog();
    host.sim().RemoveGauge(host.gauge());
    EXPECT_EQ(Numbers(host.Log()), (std::vector<int>{28, 29}));
    TwSoundRefuseCreate(0);
}

TEST_F(Output, ASlotWhoseDeviceCameLateGetsItsBufferOnTheNextConnect) {
    // No device at the first connect: the sound cannot be made then, but its
    // file is open, so the next connect makes it.
    TwSoundRefuseCreate(1);
    LoadOne(ToneWav({}));
    EXPECT_TRUE(host.Buffers().empty());
    host.sim().RemoveGauge(host.gauge());
    host.Place();
    ASSERT_EQ(host.Buffers().size(), 1u);
    host.Set("Sound", 1);
    host.Update();
    EXPECT_TRUE(host.Buffers().front().playing);
}

}  // namespace
