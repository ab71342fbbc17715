// The enable state: sounds only while the simulation runs unpaused, not
// slewing, with the simulator's sound on. Every change stops everything and
// discards pending commands; the notices arrive through SimConnect. The
// condition and notice tables are shared with the Windows tests.
#include <gtest/gtest.h>

#include <cstring>

#include "sound_calls.h"
#include "sound_cases.h"
#include "sound_host.h"

namespace {

using namespace sound_cases;

class EnableState : public ::testing::Test {
protected:
    void SetUp() override {
        host.WriteConfig(kEnableConfig);
        for (const File& file : EnableFiles()) host.Write(file.name, file.bytes);
        host.Load();
        host.ClearLog();
    }

    // Starts the horn looping on an enabled update.
    void StartHorn() {
        host.Set("Horn", 2);
        host.Update();
        ASSERT_TRUE(LastBufferInfo(LiveBuffer(0)).playing);
        host.ClearLog();
    }

    SoundHost host;
};

TEST_F(EnableState, FirstUpdateWithNoNoticeIsEnabledAndPlays) {
    host.Set("Horn", 1);
    host.Update();
    EXPECT_EQ(host.Get("Horn"), -1);
    EXPECT_TRUE(LastBufferInfo(LiveBuffer(0)).playing);
}

TEST_F(EnableState, SlewOnAtTheFirstUpdateIsATransitionToDisabled) {
    host.sim().SetSlew(true);
    host.Set("Horn", 1);
    host.Update();
    EXPECT_EQ(Numbers(host.Log()), (std::vector<int>{16, 56, 58, 56, 58}));
    EXPECT_EQ(host.Get("Horn"), -1);  // discarded, not executed
    EXPECT_FALSE(LastBufferInfo(LiveBuffer(0)).playing);
}

// A condition's event as the simulator makes it: a notice, or slew mode.
void Apply(Sim& sim, const char* event, uint32_t data) {
    if (std::strcmp(event, kSlew) == 0) {
        sim.SetSlew(data != 0);
    } else {
        ASSERT_TRUE(sim.SendNotice(event, data)) << event;
    }
}

class EachCondition : public EnableState, public ::testing::WithParamInterface<EnableCondition> {};

TEST_P(EachCondition, DisablingAndEnablingStopAllAndResetAll) {
    StartHorn();
    Apply(host.sim(), GetParam().disableEvent, GetParam().disableData);
    host.Set("Chime", 1);  // written on the transition's own frame
    host.Update();
    EXPECT_EQ(Numbers(host.Log()), kDisabledLog);
    EXPECT_FALSE(LastBufferInfo(LiveBuffer(0)).playing);
    EXPECT_FALSE(LastBufferInfo(LiveBuffer(1)).playing);
    EXPECT_EQ(host.Get("Horn"), -1);
    EXPECT_EQ(host.Get("Chime"), -1);
    EXPECT_EQ(host.Get("Master"), 0);

    // While disabled nothing is read or executed.
    host.ClearLog();
    host.sim().ClearCodeLog();
    host.Set("Horn", 1);
    host.Set("Master", 2);
    host.Update(3);
    EXPECT_TRUE(host.Log().empty());
    EXPECT_EQ(host.Get("Horn"), 1);
    EXPECT_EQ(host.Get("Master"), 2);
    EXPECT_EQ(host.sim().codeLog(), std::vector<std::string>(3, "((A:IS SLEW ACTIVE, bool))"));

    // Enabling again discards what was written meanwhile: the transition's
    // update stops and resets, and reads no command.
    Apply(host.sim(), GetParam().enableEvent, GetParam().enableData);
    host.sim().ClearCodeLog();
    host.Update();
    EXPECT_EQ(host.sim().codeLog(),
              (std::vector<std::string>{"((A:IS SLEW ACTIVE, bool))", "1 (>L:master, number)", "(L:master, number)",
                                        "-1 (>L:horn, number)", "-1 (>L:chime, number)", "0 (>L:master, number)"}));
    EXPECT_EQ(Numbers(host.Log()), kEnabledLog);
    EXPECT_EQ(host.Get("Horn"), -1);
    EXPECT_EQ(host.Get("Master"), 0);
    EXPECT_FALSE(LastBufferInfo(LiveBuffer(0)).playing);

    // And the next update executes commands again.
    host.ClearLog();
    host.Set("Horn", 1);
    host.Update();
    EXPECT_TRUE(LastBufferInfo(LiveBuffer(0)).playing);
}

INSTANTIATE_TEST_SUITE_P(Conditions, EachCondition, ::testing::ValuesIn(kEnableConditions),
                         [](const auto& info) { return std::string(info.param.name); });

class NoticeData : public EnableState, public ::testing::WithParamInterface<NoticeCase> {};

TEST_P(NoticeData, DecidesTheState) {
    const NoticeCase& c = GetParam();
    ASSERT_TRUE(host.sim().SendNotice(c.event, c.data));
    host.Update();
    EXPECT_EQ(Numbers(host.Log()).empty(), c.enabledAfter) << "a transition happened";
}

INSTANTIATE_TEST_SUITE_P(Values, NoticeData, ::testing::ValuesIn(kNoticeCases));

TEST_F(EnableState, AnyPauseValueOtherThanOneUnpauses) {
    host.sim().Pause(true);
    host.Update();
    ASSERT_TRUE(host.sim().SendNotice("Pause", 5));
    host.ClearLog();
    host.Update();
    const std::vector<int> numbers = Numbers(host.Log());
    ASSERT_FALSE(numbers.empty());
    EXPECT_EQ(numbers.front(), 17);
}

TEST_F(EnableState, SimStopDisablesUntilSimStart) {
    host.sim().SimStop();
    host.sim().Pause(true);
    host.sim().Pause(false);
    host.Update(5);
    host.Set("Horn", 1);
    host.Update();
    EXPECT_EQ(host.Get("Horn"), 1);
    host.sim().SimStart();
    host.Update();
    EXPECT_EQ(host.Get("Horn"), -1);
    EXPECT_FALSE(LastBufferInfo(LiveBuffer(0)).playing);
}

TEST_F(EnableState, AnyNonZeroSlewValueCountsAsSlewing) {
    host.sim().variables().Set("A:IS SLEW ACTIVE,bool", -1);
    host.Update();
    const std::vector<int> numbers = Numbers(host.Log());
    ASSERT_FALSE(numbers.empty());
    EXPECT_EQ(numbers.front(), 16);
}

TEST_F(EnableState, NoticesThatCancelOutBeforeAnUpdateMakeNoTransition) {
    StartHorn();
    host.sim().Pause(true);
    host.sim().Pause(false);
    host.Update();
    EXPECT_TRUE(host.Log().empty());
    EXPECT_TRUE(LastBufferInfo(LiveBuffer(0)).playing);
}

TEST_F(EnableState, ViewNoticesWriteTheViewCodeEveryTime) {
    for (const auto& [data, code] : kViewCodes) {
        host.sim().ClearCodeLog();
        ASSERT_TRUE(host.sim().View(data));
        EXPECT_EQ(host.sim().codeLog(), std::vector<std::string>{std::to_string(code) + " (>L:ViewSystemStatus, number)"})
            << data;
        EXPECT_EQ(host.Get("ViewSystemStatus"), code);
    }
    host.Update();
    EXPECT_TRUE(host.Log().empty());  // the view does not touch the enable state
}

TEST_F(EnableState, UnknownEventsAndOtherMessagesChangeNothing) {
    StartHorn();
    for (DWORD id : {1u, 6u, 99u, 0xFFFFFFFFu}) EXPECT_TRUE(TwSimConnectSendEvent(id, 1));
    SimConnectMessage quit{sizeof(SimConnectMessage), 1, kSimConnectMessageQuit};
    EXPECT_TRUE(TwSimConnectSendMessage(&quit, sizeof quit));
    // A message that only claims to be an event, too short to hold one.
    SimConnectMessage shortEvent{sizeof(SimConnectMessage), 1, kSimConnectMessageEvent};
    EXPECT_TRUE(TwSimConnectSendMessage(&shortEvent, sizeof shortEvent));
    host.Update();
    EXPECT_TRUE(host.Log().empty());
    EXPECT_TRUE(LastBufferInfo(LiveBuffer(0)).playing);
}

TEST(EnableStateWithoutMaster, TransitionStillStopsAndResetsEverything) {
    SoundHost host;
    host.WriteConfig("[sounditems]\nHorn, horn.wav\n");
    host.Write("horn.wav", ToneWav({.frequency = 500, .seconds = 2}));
    host.Load();
    host.Set("Horn", 2);
    host.Update();
    host.ClearLog();
    host.sim().ClearCodeLog();
    host.sim().Pause(true);
    host.Update();
    EXPECT_EQ(Numbers(host.Log()), (std::vector<int>{16, 56, 58}));
    EXPECT_FALSE(LastBufferInfo(LiveBuffer(0)).playing);
    EXPECT_EQ(host.Get("Horn"), -1);
    // No master value is read or written on enabled updates either.
    host.sim().Pause(false);
    host.Update(2);
    for (const std::string& code : host.sim().codeLog()) EXPECT_NE(code, "");
    EXPECT_EQ(host.sim().codeLog().back(), "(L:horn, number)");
}

TEST(EnableStateWithoutSimConnect, ModuleWorksWithTheStartValues) {
    SoundHost host;
    TwSimConnectRefuseOpen(TRUE);
    host.WriteConfig("[sounditems]\nHorn, horn.wav\n");
    host.Write("horn.wav", ToneWav({}));
    host.Load();
    EXPECT_EQ(host.SimConnectCalls().size(), 1u);  // the refused Open alone
    EXPECT_FALSE(host.sim().Pause(true));          // nobody to hear it
    host.Set("Horn", 1);
    host.Update();
    EXPECT_TRUE(LastBufferInfo(LiveBuffer(0)).playing);
    host.sim().SetSlew(true);
    host.Update();
    EXPECT_FALSE(LastBufferInfo(LiveBuffer(0)).playing);
}

}  // namespace
