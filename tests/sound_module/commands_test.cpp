// The command protocol as another gauge sees it: a value written into an
// item's variable or the master controller, executed on the next enabled
// update, acknowledged with the idle value; what the module logged and
// which sound device calls it made. The command and master tables are
// shared with the Windows tests (tests/cases/sound_cases.h).
#include <gtest/gtest.h>

#include "sound_calls.h"
#include "sound_cases.h"
#include "sound_host.h"

namespace {

using namespace sound_cases;

class Commands : public ::testing::Test {
protected:
    void SetUp() override {
        host.WriteConfig(kCommandConfig);
        for (const File& file : CommandFiles()) host.Write(file.name, file.bytes);  // broken.wav: no RIFF file, no buffer
        host.Load();
        host.Set("VolIn", kVolumeRegister);
        host.Set("PanIn", kPanRegister);
        host.Update();  // first update: enabled, nothing pending
        tone = LiveBuffer(0);  // slot 1 has none
        second = LiveBuffer(1);
        ASSERT_NE(tone, 0u);
        ASSERT_NE(second, 0u);
        host.ClearLog();
        host.ClearSoundCalls();
    }

    std::string Path(const char* file) const { return host.moduleSoundFolder() + "\\" + file; }

    SoundHost host;
    uint32_t tone = 0;
    uint32_t second = 0;
};

class CommandTable : public Commands, public ::testing::WithParamInterface<CommandCase> {};

TEST_P(CommandTable, ExecutesLogsAndAcknowledges) {
    const CommandCase& c = GetParam();
    const char* variable = c.withBuffer ? "Tone" : "Broken";
    host.Set(variable, c.value);
    host.Update();

    std::vector<LogEntry> expected;
    if (c.value >= 0) expected.push_back({4, Path(c.withBuffer ? "tone.wav" : "broken.wav"), CommandText(c.value)});
    expected.insert(expected.end(), c.log.begin(), c.log.end());
    EXPECT_EQ(host.Log(), expected);
    // No other buffer is touched, and the slot without a buffer makes no call at all.
    EXPECT_EQ(host.SoundCalls(), c.withBuffer ? BufferCalls(tone, c.calls) : std::vector<std::string>{});
    EXPECT_EQ(host.Get(variable), c.after);

    // A value from 9 up stays, and is logged again on every enabled update.
    host.ClearLog();
    host.Update();
    EXPECT_EQ(host.Log().size(), c.value >= 9 ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(ValuesAndSlots, CommandTable, ::testing::ValuesIn(CommandCases()));

TEST_F(Commands, ReadsWriteTheBuffersValuesIntoTheOutputRegisters) {
    host.Set("VolIn", -2500);
    host.Set("PanIn", -7000);
    host.Set("Tone", 3);
    host.Update();
    host.Set("Tone", 5);
    host.Update();
    host.Set("Tone", 4);
    host.Set("Broken", 6);  // no buffer: centred
    host.Update();
    EXPECT_EQ(host.Get("VolOut"), -2500);
    EXPECT_EQ(host.Get("PanOut"), 0);
    host.Set("Tone", 6);
    host.Set("Broken", 4);  // no buffer: silent
    host.Update();
    EXPECT_EQ(host.Get("PanOut"), -7000);
    EXPECT_EQ(host.Get("VolOut"), -10000);
}

struct ClampCase {
    int command;
    const char* reg;
    int value;
    int expected;  // the value handed to the sound output
    const char* call;
};

class Clamps : public Commands, public ::testing::WithParamInterface<ClampCase> {};

TEST_P(Clamps, SetCommandsClampAndPlayCommandsPassValuesOn) {
    const ClampCase& c = GetParam();
    host.Set(c.reg, c.value);
    host.Set("Tone", c.command);
    host.Update();
    const std::string set = std::string(c.call) + "(" + std::to_string(c.expected) + ")";
    const std::vector<std::string> calls = BufferCalls(tone, {});
    bool found = false;
    for (const std::string& call : host.SoundCalls()) found = found || call.find(set) != std::string::npos;
    EXPECT_TRUE(found) << set;
}

INSTANTIATE_TEST_SUITE_P(Registers, Clamps,
                         ::testing::Values(ClampCase{3, "VolIn", 500, 0, "SetVolume"},
                                           ClampCase{3, "VolIn", -20000, -10000, "SetVolume"},
                                           ClampCase{3, "VolIn", -9999, -9999, "SetVolume"},
                                           ClampCase{5, "PanIn", 12000, 10000, "SetPan"},
                                           ClampCase{5, "PanIn", -12000, -10000, "SetPan"},
                                           ClampCase{5, "PanIn", 9999, 9999, "SetPan"},
                                           ClampCase{7, "VolIn", 500, 500, "SetVolume"},
                                           ClampCase{8, "PanIn", -12000, -12000, "SetPan"}));

TEST_F(Commands, RepeatedCommandIsExecutedAgain) {
    host.Set("Tone", 2);
    host.Update();
    host.Set("Tone", 2);
    host.Update();
    EXPECT_EQ(CountCalls(host, tone, "Play(flags 1)"), 2);
    EXPECT_EQ(host.Get("Tone"), -1);
}

TEST_F(Commands, SetPanThenPlayOncePlaysCentredAndVolPanUsesTheRegister) {
    host.Set("Tone", 5);
    host.Update();
    host.Set("Tone", 1);
    host.Update();
    EXPECT_EQ(LastBufferInfo(tone).pan, 0);
    EXPECT_EQ(LastBufferInfo(tone).volume, -600);
    host.Set("Tone", 7);
    host.Update();
    EXPECT_EQ(LastBufferInfo(tone).pan, 2345);
    EXPECT_EQ(LastBufferInfo(tone).volume, -1234);
}

TEST_F(Commands, TwoItemsOnOneUpdateReadTheSameRegisterAndTheLaterReadBackRemains) {
    host.Set("VolIn", -4000);
    host.Set("Tone", 3);
    host.Set("Second", 3);
    host.Update();
    EXPECT_EQ(LastBufferInfo(tone).volume, -4000);
    EXPECT_EQ(LastBufferInfo(second).volume, -4000);

    host.Set("VolIn", -100);
    host.Set("Second", 3);
    host.Update();
    host.Set("Tone", 4);
    host.Set("Second", 4);
    host.ClearSoundCalls();
    host.Update();
    // Table order: the tone's volume is written first, the second's last.
    EXPECT_EQ(host.Get("VolOut"), -100);
    const std::vector<std::string> calls = host.SoundCalls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0], BufferCalls(tone, {"GetVolume"})[0]);
    EXPECT_EQ(calls[1], BufferCalls(second, {"GetVolume"})[0]);
}

class MasterTable : public Commands, public ::testing::WithParamInterface<MasterCase> {};

TEST_P(MasterTable, ExecutesAndWritesZero) {
    const MasterCase& c = GetParam();
    host.Set("Master", c.value);
    host.Update();
    EXPECT_EQ(Numbers(host.Log()), c.log);
    EXPECT_EQ(host.Get("Master"), c.after);
}

INSTANTIATE_TEST_SUITE_P(Values, MasterTable, ::testing::ValuesIn(MasterCases()));

TEST_F(Commands, StopAllResetsEveryItemVariable) {
    host.Set("Tone", 2);
    host.Update();
    host.Set("Second", 9);
    host.Set("Master", 1);
    host.Update();
    EXPECT_EQ(host.Get("Tone"), -1);
    EXPECT_EQ(host.Get("Broken"), -1);
    EXPECT_EQ(host.Get("Second"), -1);  // reset before the items were read: the 9 is gone
    EXPECT_FALSE(LastBufferInfo(tone).playing);
    EXPECT_EQ(LastBufferInfo(tone).position, 0u);
}

TEST_F(Commands, MasterRunsBeforeTheItemsSoAStopOnTheSameFrameWins) {
    host.Set("Tone", 2);
    host.Set("Master", 1);
    host.Update();
    EXPECT_EQ(CountCalls(host, tone, "Play(flags 1)"), 0);
    EXPECT_FALSE(LastBufferInfo(tone).playing);
    EXPECT_EQ(host.Get("Tone"), -1);
    EXPECT_EQ(host.Get("Master"), 0);
}

TEST_F(Commands, SilenceTwiceThenRestoreBringsBackTheLevelsFromBefore) {
    host.Set("VolIn", -2500);
    host.Set("Tone", 3);
    host.Update();
    host.Set("Master", 2);
    host.Update();
    EXPECT_EQ(LastBufferInfo(tone).volume, -10000);
    host.Set("Master", 2);
    host.Update();
    host.Set("Master", 3);
    host.Update();
    EXPECT_EQ(LastBufferInfo(tone).volume, -2500);
    EXPECT_EQ(LastBufferInfo(second).volume, 0);
}

TEST_F(Commands, RestoreBeforeAnySilenceGivesTheConfiguredVolume) {
    host.Set("Master", 3);
    host.Update();
    EXPECT_EQ(LastBufferInfo(tone).volume, -600);
    EXPECT_EQ(LastBufferInfo(second).volume, 0);
}

TEST_F(Commands, SilenceDoesNotBlockALaterPlay) {
    host.Set("Master", 2);
    host.Update();
    host.Set("Tone", 1);
    host.Update();
    EXPECT_EQ(LastBufferInfo(tone).volume, -600);
    EXPECT_TRUE(LastBufferInfo(tone).playing);
}

}  // namespace
