// The native window and timer stand-ins, driven through the host's control
// calls: finding windows, timers in simulated time, replacing, repeating,
// killing and refusing them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "control_window.h"

namespace {

struct Fired {
    HWND window;
    UINT message;
    UINT_PTR id;
    DWORD time;
};

std::vector<Fired> fired;

void CALLBACK Record(HWND window, UINT message, UINT_PTR id, DWORD time) { fired.push_back({window, message, id, time}); }

class WindowTimer : public ::testing::Test {
protected:
    void SetUp() override {
        TwPlatformResetWindowsAndTimers();
        fired.clear();
        main = TwPlatformRegisterWindow("FS98MAIN");
    }
    void TearDown() override { TwPlatformResetWindowsAndTimers(); }
    HWND main = nullptr;
};

TEST_F(WindowTimer, FindWindowFindsRegisteredClasses) {
    HWND other = TwPlatformRegisterWindow("Other");
    EXPECT_EQ(FindWindowA("FS98MAIN", nullptr), main);
    EXPECT_EQ(FindWindowA("fs98main", nullptr), main) << "class names ignore case, as on Windows";
    EXPECT_EQ(FindWindowA("Other", nullptr), other);
    EXPECT_EQ(FindWindowA("FS98MAIN", ""), main);
    EXPECT_EQ(FindWindowA("FS98MAIN", "Some Title"), nullptr);
    EXPECT_EQ(FindWindowA("Missing", nullptr), nullptr);
    EXPECT_NE(main, other);

    EXPECT_TRUE(TwPlatformUnregisterWindow(main));
    EXPECT_FALSE(TwPlatformUnregisterWindow(main));
    EXPECT_EQ(FindWindowA("FS98MAIN", nullptr), nullptr);
    EXPECT_NE(TwPlatformRegisterWindow("FS98MAIN"), main) << "handles are not reused";
}

TEST_F(WindowTimer, TimerFiresWhenSimulatedTimeReachesItAndRepeats) {
    EXPECT_EQ(SetTimer(main, 7, 1000, Record), 7u);
    TwPlatformAdvanceTime(999);
    EXPECT_TRUE(fired.empty());
    TwPlatformAdvanceTime(1);
    ASSERT_EQ(fired.size(), 1u);
    EXPECT_EQ(fired[0].window, main);
    EXPECT_EQ(fired[0].message, static_cast<UINT>(WM_TIMER));
    EXPECT_EQ(fired[0].id, 7u);
    EXPECT_EQ(fired[0].time, 1000u);

    // Until killed it fires every interval, each time at its own due time.
    TwPlatformRunUntil(3500);
    ASSERT_EQ(fired.size(), 3u);
    EXPECT_EQ(fired[1].time, 2000u);
    EXPECT_EQ(fired[2].time, 3000u);
    EXPECT_EQ(TwPlatformGetTime(), 3500u);

    EXPECT_TRUE(KillTimer(main, 7));
    TwPlatformAdvanceTime(5000);
    EXPECT_EQ(fired.size(), 3u);
    EXPECT_FALSE(KillTimer(main, 7)) << "already killed";
    EXPECT_FALSE(KillTimer(main, 99)) << "never set";
    EXPECT_FALSE(KillTimer(nullptr, 7));
}

TEST_F(WindowTimer, SecondSetTimerWithSameWindowAndIdReplacesTheFirst) {
    SetTimer(main, 1, 1000, Record);
    TwPlatformAdvanceTime(600);
    EXPECT_EQ(SetTimer(main, 1, 1000, Record), 1u);
    ASSERT_EQ(TwPlatformListTimers(nullptr, 0), 1u);
    TwPlatformRunUntil(1599);
    EXPECT_TRUE(fired.empty()) << "the replacement starts its interval anew";
    TwPlatformRunUntil(1600);
    EXPECT_EQ(fired.size(), 1u);

    // A different id or window is a second timer.
    HWND other = TwPlatformRegisterWindow("Other");
    SetTimer(main, 2, 100, Record);
    SetTimer(other, 1, 100, Record);
    EXPECT_EQ(TwPlatformListTimers(nullptr, 0), 3u);
}

TEST_F(WindowTimer, DueTimersFireInTimeOrder) {
    SetTimer(main, 1, 300, Record);
    SetTimer(main, 2, 200, Record);
    SetTimer(main, 3, 200, Record);  // due with 2: fires after it, as set later
    // At 600 all three are due: 1 was rescheduled (at 300) before 2 and 3 (at 400).
    TwPendingTimer listed[8];
    ASSERT_EQ(TwPlatformListTimers(listed, 8), 3u);
    EXPECT_EQ(listed[0].id, 2u);
    EXPECT_EQ(listed[1].id, 3u);
    EXPECT_EQ(listed[2].id, 1u);
    EXPECT_EQ(listed[2].dueMs, 300u);
    EXPECT_EQ(listed[2].intervalMs, 300u);
    EXPECT_EQ(listed[2].proc, &Record);

    TwPlatformRunUntil(600);
    std::vector<std::pair<UINT_PTR, DWORD>> order;
    for (const Fired& f : fired) order.emplace_back(f.id, f.time);
    EXPECT_EQ(order, (std::vector<std::pair<UINT_PTR, DWORD>>{
                         {2, 200}, {3, 200}, {1, 300}, {2, 400}, {3, 400}, {1, 600}, {2, 600}, {3, 600}}));
}

// A procedure that kills its own timer (as the test timers do) fires once;
// one that sets another timer gets it fired in the same run when due.
void CALLBACK KillSelf(HWND window, UINT message, UINT_PTR id, DWORD time) {
    Record(window, message, id, time);
    KillTimer(window, id);
    SetTimer(window, 9, 50, Record);
}

TEST_F(WindowTimer, ProcedureMayKillItsTimerAndSetOthers) {
    SetTimer(main, 1, 100, KillSelf);
    TwPlatformRunUntil(1000);
    ASSERT_GE(fired.size(), 2u);
    EXPECT_EQ(fired[0].id, 1u);
    EXPECT_EQ(fired[1].id, 9u);
    EXPECT_EQ(fired[1].time, 150u);
    for (size_t i = 1; i < fired.size(); ++i) EXPECT_EQ(fired[i].id, 9u);
}

TEST_F(WindowTimer, RefusedOrWindowlessSetTimer) {
    EXPECT_EQ(SetTimer(reinterpret_cast<HWND>(0x1234), 1, 100, Record), 0u) << "not a window";

    TwPlatformRefuseSetTimer(2);
    EXPECT_EQ(SetTimer(main, 1, 100, Record), 0u);
    EXPECT_EQ(SetTimer(main, 1, 100, Record), 0u);
    EXPECT_EQ(TwPlatformListTimers(nullptr, 0), 0u);
    EXPECT_EQ(SetTimer(main, 1, 100, Record), 1u);

    TwPlatformRefuseSetTimer(-1);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(SetTimer(main, 2, 100, Record), 0u);
    TwPlatformRefuseSetTimer(0);
    EXPECT_EQ(SetTimer(main, 2, 100, Record), 2u);

    // Without a window Windows makes up the id; only that id kills the timer.
    const UINT_PTR threadTimer = SetTimer(nullptr, 1, 100, Record);
    EXPECT_NE(threadTimer, 0u);
    EXPECT_NE(threadTimer, 1u);
    EXPECT_FALSE(KillTimer(nullptr, 1));
    EXPECT_TRUE(KillTimer(nullptr, threadTimer));
}

TEST_F(WindowTimer, ClosingTheWindowKillsItsTimersAndResetForgetsAll) {
    HWND other = TwPlatformRegisterWindow("Other");
    SetTimer(main, 1, 100, Record);
    SetTimer(other, 1, 100, Record);
    TwPlatformUnregisterWindow(main);
    TwPendingTimer listed[4];
    ASSERT_EQ(TwPlatformListTimers(listed, 4), 1u);
    EXPECT_EQ(listed[0].window, other);

    SetTimer(nullptr, 0, 0, Record);  // a zero interval still advances
    TwPlatformAdvanceTime(100);
    EXPECT_EQ(fired.size(), 11u);  // the thread timer every 10 ms, the other once

    TwPlatformRefuseSetTimer(-1);
    TwPlatformResetWindowsAndTimers();
    EXPECT_EQ(TwPlatformGetTime(), 0u);
    EXPECT_EQ(TwPlatformListTimers(nullptr, 0), 0u);
    EXPECT_EQ(FindWindowA(nullptr, nullptr), nullptr);
    HWND again = TwPlatformRegisterWindow("FS98MAIN");
    EXPECT_NE(SetTimer(again, 1, 100, Record), 0u) << "refusals are cleared";
}

}  // namespace
