// Press-to-test: a test variable above 1 starts a one-second timer on the
// simulator's main window; while it is pending the needles show their test
// value, and when it fires the variable goes back to its idle value 1.
#include "engine_instruments.h"
#include "var_access.h"

bool oilQtyTestRunning = false;
bool vibrationTestRunning = false;

namespace {

constexpr const char* kMainWindowClass = "FS98MAIN";

// Without the main window there is nothing to hang the timer on (a timer on
// no window would be a thread timer that the timer procedure could never
// kill), and a refused timer would never fire: either way the test does not
// start, so the needles keep showing the real value and a later update may
// try again.
void StartTestTimer(bool& running, UINT_PTR id, TIMERPROC proc) {
    if (running) return;
    running = true;
    HWND mainWindow = FindWindowA(kMainWindowClass, nullptr);
    if (mainWindow == nullptr || SetTimer(mainWindow, id, kTestTimerMs, proc) == 0) running = false;
}

void EndTest(bool& running, const char* testVariable, UINT_PTR id) {
    running = false;
    SetVarInt(testVariable, 1);
    KillTimer(FindWindowA(kMainWindowClass, nullptr), id);
}

}  // namespace

void StartOilQtyTest() { StartTestTimer(oilQtyTestRunning, kOilQtyTestTimer, OilQtyTestTimerProc); }

void StartVibrationTest() {
    StartTestTimer(vibrationTestRunning, kVibrationTestTimer, VibrationTestTimerProc);
}

void CALLBACK OilQtyTestTimerProc(HWND, UINT, UINT_PTR, DWORD) {
    EndTest(oilQtyTestRunning, "L:Eng Oil Qty Test,number", kOilQtyTestTimer);
}

void CALLBACK VibrationTestTimerProc(HWND, UINT, UINT_PTR, DWORD) {
    EndTest(vibrationTestRunning, "L:Engine Vibration Test,number", kVibrationTestTimer);
}
