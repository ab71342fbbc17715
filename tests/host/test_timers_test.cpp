// Press-to-test of the oil quantity and vibration instruments, run through
// the host in simulated time: the one-second timers on the main window, the
// test values, and what happens without a main window or a timer.
#include <algorithm>
#include <vector>

#include "control_window.h"
#include "hx8_fixture.h"

namespace {

constexpr const char* kQtyTest = "L:Eng Oil Qty Test,number";
constexpr const char* kVibTest = "L:Engine Vibration Test,number";
constexpr const char* kQuantity1 = "A:Eng Oil Quantity:1,percent";
constexpr const char* kQuantity2 = "A:Eng Oil Quantity:2,percent";

std::vector<TwPendingTimer> PendingTimers() {
    std::vector<TwPendingTimer> timers(TwPlatformListTimers(nullptr, 0));
    TwPlatformListTimers(timers.data(), timers.size());
    return timers;
}

class TestTimers : public Hx8Test {
protected:
    void SetUp() override {
        Hx8Test::SetUp();
        sim.variables().Set(kQuantity1, 100);  // 3.75 gallons
        sim.variables().Set(kQuantity2, 40);   // 1.5 gallons
        sim.variables().Set("A:Turb Eng Vibration:1,number", 1.5);
        sim.variables().Set("A:Turb Eng Vibration:2,number", 0.5);
        sim.variables().Set(kQtyTest, 1);
        sim.variables().Set(kVibTest, 1);
    }

    // Runs updates until the variable reads `value`; gives the time that took
    // in ms, or -1 when it did not happen within `limitMs`.
    int64_t MsUntil(const char* variable, double value, uint64_t limitMs) {
        const uint64_t start = sim.NowMs();
        while (sim.NowMs() - start <= limitMs) {
            if (sim.variables().Value(variable) == value) return static_cast<int64_t>(sim.NowMs() - start);
            sim.Update();
        }
        return -1;
    }
};

TEST_F(TestTimers, OilQuantityTestShowsTestValueForAboutOneSecond) {
    PlacedGauge* qty1 = Place("EngOilQty1");
    PlacedGauge* qty2 = Place("EngOilQty2");
    sim.Update();
    EXPECT_DOUBLE_EQ(Shown(qty1), 3.75);
    EXPECT_DOUBLE_EQ(Shown(qty2), 1.5);

    sim.variables().Set(kQtyTest, 2);
    sim.Update();
    EXPECT_DOUBLE_EQ(Shown(qty1), 4.75);
    EXPECT_DOUBLE_EQ(Shown(qty2), 4.75);
    const auto timers = PendingTimers();
    ASSERT_EQ(timers.size(), 1u);
    EXPECT_EQ(timers[0].window, sim.mainWindow());
    EXPECT_EQ(timers[0].id, 1u);
    EXPECT_EQ(timers[0].intervalMs, 1000u);
    EXPECT_EQ(timers[0].dueMs, sim.NowMs() + 1000);

    // Still testing just before the second is up.
    sim.RunFor(0.9);
    EXPECT_DOUBLE_EQ(Shown(qty1), 4.75);
    EXPECT_DOUBLE_EQ(Shown(qty2), 4.75);
    EXPECT_EQ(sim.variables().Value(kQtyTest), 2.0);

    const int64_t ms = MsUntil(kQtyTest, 1, 500);
    EXPECT_GE(ms, 0) << "the timer never reset the test variable";
    EXPECT_EQ(sim.variables().Find(kQtyTest)->value, 1.0);
    sim.Update();
    EXPECT_DOUBLE_EQ(Shown(qty1), 3.75);
    EXPECT_DOUBLE_EQ(Shown(qty2), 1.5);
    EXPECT_TRUE(PendingTimers().empty()) << "the timer procedure kills its timer";

    // The module wrote the reset through calculator code, with 1 as the idle value.
    const auto& log = sim.codeLog();
    EXPECT_EQ(std::count(log.begin(), log.end(), "1 (>L:Eng Oil Qty Test,number)"), 1);
}

TEST_F(TestTimers, TestVariableMustBeAboveOne) {
    PlacedGauge* qty1 = Place("EngOilQty1");
    PlacedGauge* vib1 = Place("EngVib1");
    sim.variables().Set(kQtyTest, 1);
    sim.variables().Set(kVibTest, 1);
    sim.RunFor(1.5);
    EXPECT_TRUE(PendingTimers().empty());
    EXPECT_DOUBLE_EQ(Shown(qty1), 3.75);
    EXPECT_DOUBLE_EQ(Shown(vib1), 1.5);

    sim.variables().Set(kQtyTest, 1.01);
    sim.variables().Set(kVibTest, 1.01);
    sim.Update();
    EXPECT_EQ(PendingTimers().size(), 2u);
    EXPECT_DOUBLE_EQ(Shown(qty1), 4.75);
    EXPECT_DOUBLE_EQ(Shown(vib1), 5.0);
}

TEST_F(TestTimers, SecondStartWhileTestRunsChangesNothing) {
    Place("EngOilQty1");
    Place("EngOilQty1");  // the same gauge twice on the panels: two start requests per update
    sim.variables().Set(kQtyTest, 2);
    sim.Update();
    const auto first = PendingTimers();
    ASSERT_EQ(first.size(), 1u);

    sim.RunFor(0.5);
    const auto later = PendingTimers();
    ASSERT_EQ(later.size(), 1u);
    EXPECT_EQ(later[0].dueMs, first[0].dueMs) << "a second SetTimer would have pushed the timer back";

    // One test, one reset, ending one second after it started.
    sim.RunFor(1.0);
    EXPECT_EQ(sim.variables().Value(kQtyTest), 1.0);
    const auto& log = sim.codeLog();
    EXPECT_EQ(std::count(log.begin(), log.end(), "1 (>L:Eng Oil Qty Test,number)"), 1);
}

TEST_F(TestTimers, NewTestStartsAfterTheLastOneEnded) {
    PlacedGauge* qty1 = Place("EngOilQty1");
    sim.variables().Set(kQtyTest, 2);
    sim.Update();
    ASSERT_GE(MsUntil(kQtyTest, 1, 1500), 0);
    sim.Update();
    EXPECT_DOUBLE_EQ(Shown(qty1), 3.75);

    sim.variables().Set(kQtyTest, 3);
    sim.Update();
    EXPECT_DOUBLE_EQ(Shown(qty1), 4.75);
    EXPECT_GE(MsUntil(kQtyTest, 1, 1500), 900);
}

TEST_F(TestTimers, BothVibrationNeedlesShowFiveDuringTheTest) {
    PlacedGauge* vib1 = Place("EngVib1");
    PlacedGauge* vib2 = Place("EngVib2");
    sim.variables().Set(kVibTest, 2);
    sim.Update();
    EXPECT_DOUBLE_EQ(Shown(vib1), 5.0);
    EXPECT_DOUBLE_EQ(Shown(vib2), 5.0);
    const auto timers = PendingTimers();
    ASSERT_EQ(timers.size(), 1u);
    EXPECT_EQ(timers[0].id, 2u);

    const int64_t ms = MsUntil(kVibTest, 1, 1500);
    EXPECT_GE(ms, 900);
    EXPECT_LE(ms, 1100);
    sim.Update();
    EXPECT_DOUBLE_EQ(Shown(vib1), 1.5);
    EXPECT_DOUBLE_EQ(Shown(vib2), 0.5);
    EXPECT_TRUE(PendingTimers().empty());
}

TEST_F(TestTimers, VibrationTestWithOnlyEngineTwoPlacedDoesNothing) {
    PlacedGauge* vib2 = Place("EngVib2");
    sim.variables().Set(kVibTest, 2);
    sim.RunFor(2.0);
    EXPECT_TRUE(PendingTimers().empty());
    EXPECT_DOUBLE_EQ(Shown(vib2), 0.5);
    EXPECT_EQ(sim.variables().Value(kVibTest), 2.0) << "nothing resets the variable";
}

// Without a timer the test cannot end: it does not start, the needles keep
// showing the real value, and a later update tries again.
TEST_F(TestTimers, NoTestWithoutMainWindowOrTimerAndLaterUpdateRetries) {
    enum Fault { kNoMainWindow, kSetTimerRefused };
    for (Fault fault : {kNoMainWindow, kSetTimerRefused}) {
        SCOPED_TRACE(fault == kNoMainWindow ? "no main window" : "SetTimer refused");
        PlacedGauge* qty1 = Place("EngOilQty1");
        PlacedGauge* vib1 = Place("EngVib1");
        if (fault == kNoMainWindow) sim.CloseMainWindow();
        if (fault == kSetTimerRefused) TwPlatformRefuseSetTimer(-1);
        sim.variables().Set(kQtyTest, 2);
        sim.variables().Set(kVibTest, 2);
        sim.RunFor(2.0);
        EXPECT_TRUE(PendingTimers().empty());
        EXPECT_DOUBLE_EQ(Shown(qty1), 3.75);
        EXPECT_DOUBLE_EQ(Shown(vib1), 1.5);

        // The window appears (or timers work again): the next update starts the tests.
        sim.OpenMainWindow();
        TwPlatformRefuseSetTimer(0);
        sim.Update();
        EXPECT_DOUBLE_EQ(Shown(qty1), 4.75);
        EXPECT_DOUBLE_EQ(Shown(vib1), 5.0);
        EXPECT_EQ(PendingTimers().size(), 2u);
        EXPECT_GE(MsUntil(kQtyTest, 1, 1500), 0);
        EXPECT_GE(MsUntil(kVibTest, 1, 1500), 0);
        sim.Update();
        EXPECT_DOUBLE_EQ(Shown(qty1), 3.75);
        EXPECT_DOUBLE_EQ(Shown(vib1), 1.5);
        sim.RemoveGauge(qty1);
        sim.RemoveGauge(vib1);
    }
}

}  // namespace
