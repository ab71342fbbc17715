// The native behaviour tables (tests/cases/sound_cases.h) run against
// tw_sound.gau under wine, over wine's real DirectSound: what the module
// logs, what it writes into the variables, and when the enable state
// changes. Rows that need a fault injected stay native.
#include <cstring>

#include "sound_cases.h"
#include "sound_module.h"

namespace sound_win {
namespace {

using namespace sound_cases;

// ---------------------------------------------------------------------------
// Commands and the master controller.

class Commands : public SoundModuleTest {
protected:
    void SetUp() override {
        SoundModuleTest::SetUp();
        WriteConfig(kCommandConfig);
        for (const File& file : CommandFiles()) Write(file.name, file.bytes);
        Load();
        Set("VolIn", kVolumeRegister);
        Set("PanIn", kPanRegister);
        Update();  // first update: enabled, nothing pending
        ClearLog();
    }
};

class CommandTable : public Commands, public ::testing::WithParamInterface<CommandCase> {};

TEST_P(CommandTable, ExecutesLogsAndAcknowledges) {
    const CommandCase& c = GetParam();
    const char* variable = c.withBuffer ? "Tone" : "Broken";
    Set(variable, c.value);
    Update();

    std::vector<LogEntry> expected;
    if (c.value >= 0) expected.push_back({4, Path(c.withBuffer ? "tone.wav" : "broken.wav"), CommandText(c.value)});
    expected.insert(expected.end(), c.log.begin(), c.log.end());
    EXPECT_EQ(Log(), expected);
    EXPECT_EQ(Get(variable), c.after);

    // A value from 9 up stays, and is logged again on every enabled update.
    ClearLog();
    Update();
    EXPECT_EQ(Log().size(), c.value >= 9 ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(ValuesAndSlots, CommandTable, ::testing::ValuesIn(CommandCases()));

TEST_F(Commands, ReadsGiveDirectSoundsValuesBack) {
    Set("VolIn", -2500);
    Set("PanIn", -7000);
    Set("Tone", 3);
    Update();
    Set("Tone", 5);
    Update();
    Set("Tone", 4);
    Update();
    Set("Tone", 6);
    Update();
    EXPECT_EQ(Get("VolOut"), -2500);
    EXPECT_EQ(Get("PanOut"), -7000);
    // Beyond DirectSound's range a play command passes the value on
    // unclamped, and DirectSound refuses it: the buffer keeps its old one.
    Set("VolIn", 500);
    Set("Tone", 7);
    Update();
    Set("Tone", 4);
    Update();
    EXPECT_EQ(Get("VolOut"), -2500);
}

class MasterTable : public Commands, public ::testing::WithParamInterface<MasterCase> {};

TEST_P(MasterTable, ExecutesAndWritesZero) {
    const MasterCase& c = GetParam();
    Set("Master", c.value);
    Update();
    EXPECT_EQ(Numbers(Log()), c.log);
    EXPECT_EQ(Get("Master"), c.after);
}

INSTANTIATE_TEST_SUITE_P(Values, MasterTable, ::testing::ValuesIn(MasterCases()));

TEST_F(Commands, SilenceTwiceThenRestoreBringsBackTheLevelsFromBefore) {
    Set("VolIn", -2500);
    Set("Tone", 3);
    Update();
    Set("Master", 2);
    Update();
    Set("Master", 2);
    Update();
    Set("Master", 3);
    Update();
    Set("Tone", 4);
    Update();
    EXPECT_EQ(Get("VolOut"), -2500);
    Set("Second", 4);
    Update();
    EXPECT_EQ(Get("VolOut"), 0);
}

// ---------------------------------------------------------------------------
// The enable state.

class EnableState : public SoundModuleTest {
protected:
    void SetUp() override {
        SoundModuleTest::SetUp();
        WriteConfig(kEnableConfig);
        for (const File& file : EnableFiles()) Write(file.name, file.bytes);
        Load();
        ClearLog();
    }

    void Apply(const char* event, uint32_t data) {
        if (std::strcmp(event, kSlew) == 0) {
            sim.SetSlew(data != 0);
        } else {
            ASSERT_TRUE(sim.SendNotice(event, data)) << event;
        }
    }
};

class EachCondition : public EnableState, public ::testing::WithParamInterface<EnableCondition> {};

TEST_P(EachCondition, DisablingAndEnablingStopAllAndResetAll) {
    Set("Horn", 2);
    Update();
    ClearLog();
    Apply(GetParam().disableEvent, GetParam().disableData);
    Set("Chime", 1);  // written on the transition's own frame
    Update();
    EXPECT_EQ(Numbers(Log()), kDisabledLog);
    EXPECT_EQ(Get("Horn"), -1);
    EXPECT_EQ(Get("Chime"), -1);
    EXPECT_EQ(Get("Master"), 0);

    // While disabled nothing is read or executed.
    ClearLog();
    CodeLog().clear();
    Set("Horn", 1);
    Set("Master", 2);
    Update(3);
    EXPECT_TRUE(Log().empty());
    EXPECT_EQ(Get("Horn"), 1);
    EXPECT_EQ(Get("Master"), 2);
    EXPECT_EQ(CodeLog(), std::vector<std::string>(3, "((A:IS SLEW ACTIVE, bool))"));

    // Enabling again discards what was written meanwhile.
    Apply(GetParam().enableEvent, GetParam().enableData);
    Update();
    EXPECT_EQ(Numbers(Log()), kEnabledLog);
    EXPECT_EQ(Get("Horn"), -1);
    EXPECT_EQ(Get("Master"), 0);

    // And the next update executes commands again.
    ClearLog();
    Set("Horn", 1);
    Update();
    EXPECT_EQ(Numbers(Log()), kPlayLog);
}

INSTANTIATE_TEST_SUITE_P(Conditions, EachCondition, ::testing::ValuesIn(kEnableConditions),
                         [](const auto& info) { return std::string(info.param.name); });

class NoticeData : public EnableState, public ::testing::WithParamInterface<NoticeCase> {};

TEST_P(NoticeData, DecidesTheState) {
    const NoticeCase& c = GetParam();
    ASSERT_TRUE(sim.SendNotice(c.event, c.data));
    Update();
    EXPECT_EQ(Numbers(Log()).empty(), c.enabledAfter) << "a transition happened";
}

INSTANTIATE_TEST_SUITE_P(Values, NoticeData, ::testing::ValuesIn(kNoticeCases));

TEST_F(EnableState, ViewNoticesWriteTheViewCodeEveryTime) {
    for (const auto& [data, code] : kViewCodes) {
        CodeLog().clear();
        ASSERT_TRUE(sim.SendNotice("View", data));
        EXPECT_EQ(CodeLog(), std::vector<std::string>{std::to_string(code) + " (>L:ViewSystemStatus, number)"}) << data;
        EXPECT_EQ(Get("ViewSystemStatus"), code);
    }
    Update();
    EXPECT_TRUE(Log().empty());
}

// ---------------------------------------------------------------------------
// The sound output's steps, as the log tells them, over the real device.

class Output : public SoundModuleTest {
protected:
    void LoadOne(const std::string& wav) {
        WriteConfig("[sounditems]\nSound, sound.wav\n");
        Write("sound.wav", wav);
        Load();
    }
    // The log from message 7 (loading) on.
    std::vector<LogEntry> LoadingLog() const {
        std::vector<LogEntry> log = Log();
        auto start = std::find_if(log.begin(), log.end(), [](const LogEntry& e) { return e.number == 7; });
        return std::vector<LogEntry>(start, log.end());
    }
};

TEST_F(Output, PlacingMakesTheDeviceThenLoadsEverySound) {
    const std::string wav = ToneWav({.seconds = 0.25});
    LoadOne(wav);
    const std::vector<int> numbers = Numbers(Log());
    ASSERT_GE(numbers.size(), kDeviceLog.size());
    EXPECT_EQ(std::vector<int>(numbers.begin(), numbers.begin() + kDeviceLog.size()), kDeviceLog);
    EXPECT_EQ(LoadingLog(), GoodLoadLog(wav.size() - 44, Path("sound.wav")));
}

TEST_F(Output, PreKillReleasesAndTheNextConnectGivesTheSoundsBack) {
    LoadOne(ToneWav({.seconds = 0.25}));
    Update();
    ClearLog();
    sim.Remove(gauge);
    EXPECT_EQ(Numbers(Log()), kPreKillLog);
    ClearLog();
    Place();
    std::vector<int> again = kDeviceLog;
    for (int n : {30, 32, 34, 35, 36, 39, 41, 42, 43, 44}) again.push_back(n);
    EXPECT_EQ(Numbers(Log()), again);
    ClearLog();
    Set("Sound", 1);
    Update();
    EXPECT_EQ(Numbers(Log()), kPlayLog);
}

TEST_F(Output, ASecondConnectMakesAnotherDevice) {
    LoadOne(ToneWav({.seconds = 0.25}));
    Set("Sound", 2);
    Update();
    ClearLog();
    sim.Service(gauge, 14);
    EXPECT_EQ(Numbers(Log()), kDeviceLog);
    ClearLog();
    Set("Sound", 0);
    Update();
    EXPECT_EQ(Numbers(Log()), (std::vector<int>{4, 56, 58}));
}

class LoadFailures : public Output, public ::testing::WithParamInterface<LoadCase> {};

TEST_P(LoadFailures, LeaveTheSlotWithoutSound) {
    const LoadCase& c = GetParam();
    LoadOne(c.wav);
    std::vector<int> numbers = Numbers(LoadingLog());
    ASSERT_FALSE(numbers.empty());
    EXPECT_EQ(std::vector<int>(numbers.begin() + 1, numbers.end()), c.log);

    // Commands for it are still taken and acknowledged; a play tells whether
    // a buffer was left.
    ClearLog();
    Set("Sound", 1);
    Update();
    EXPECT_EQ(Get("Sound"), -1);
    const std::vector<int> played = Numbers(Log());
    ASSERT_FALSE(played.empty());
    EXPECT_EQ(played.back(), c.buffer ? 55 : 53);
}

INSTANTIATE_TEST_SUITE_P(Cases, LoadFailures, ::testing::ValuesIn(LoadCases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace sound_win
