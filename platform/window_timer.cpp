// Native stand-ins for the simulator's main window and the timers on it.
//
// Windows are only names the host registers; timers fire when the host moves
// the simulated clock (control_window.h). Everything runs on the host's one
// thread, like the simulator's message loop, so nothing here takes a lock.
#include "control_window.h"
#include "window_registry.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Windows raises intervals below this to it; it also keeps a zero interval
// from firing endlessly at one instant.
constexpr UINT kMinimumIntervalMs = 10;

// Ids Windows makes up for timers set without a window.
constexpr UINT_PTR kFirstThreadTimerId = 0x7FF0;

struct Window {
    HWND handle;
    std::string className;
};

struct Timer {
    HWND window;
    UINT_PTR id;
    UINT intervalMs;
    uint64_t dueMs;
    TIMERPROC proc;
    uint64_t order;  // breaks ties between timers due at the same time
};

struct State {
    std::vector<Window> windows;
    std::vector<Timer> timers;
    uint64_t nowMs = 0;
    uint64_t nextOrder = 0;
    UINT_PTR nextThreadTimerId = kFirstThreadTimerId;
    int refuseCount = 0;
    bool firing = false;
    uint64_t sleptMs = 0;
};

State& state() {
    static State s;
    return s;
}

// Handles are never reused, not even after a reset, so a stale handle can
// never find a newer window.
uintptr_t nextHandle = 0x10000;

bool SameClassName(const std::string& a, const char* b) {
    if (a.size() != std::strlen(b)) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

bool IsWindow(HWND window) {
    const auto& windows = state().windows;
    return std::any_of(windows.begin(), windows.end(), [&](const Window& w) { return w.handle == window; });
}

std::vector<Timer>::iterator FindTimer(HWND window, UINT_PTR id) {
    auto& timers = state().timers;
    return std::find_if(timers.begin(), timers.end(),
                        [&](const Timer& t) { return t.window == window && t.id == id; });
}

bool FiresBefore(const Timer& a, const Timer& b) {
    return a.dueMs != b.dueMs ? a.dueMs < b.dueMs : a.order < b.order;
}

}  // namespace

bool TwPlatformIsRegisteredWindow(HWND window) { return window != nullptr && IsWindow(window); }

extern "C" {

HWND WINAPI FindWindowA(LPCSTR className, LPCSTR windowName) {
    // Registered windows have no title: a window name other than "" matches none.
    if (windowName != nullptr && windowName[0] != '\0') return nullptr;
    for (const Window& w : state().windows) {
        if (className == nullptr || SameClassName(w.className, className)) return w.handle;
    }
    return nullptr;
}

UINT_PTR WINAPI SetTimer(HWND window, UINT_PTR id, UINT elapseMs, TIMERPROC proc) {
    State& s = state();
    if (s.refuseCount != 0) {
        if (s.refuseCount > 0) --s.refuseCount;
        return 0;
    }
    if (window != nullptr && !IsWindow(window)) return 0;
    // Without a window, an id that names no existing thread timer is ignored
    // and a new one made up, as Windows does.
    if (window == nullptr && FindTimer(nullptr, id) == s.timers.end()) id = s.nextThreadTimerId++;

    const UINT interval = std::max(elapseMs, kMinimumIntervalMs);
    const Timer timer{window, id, interval, s.nowMs + interval, proc, s.nextOrder++};
    auto existing = FindTimer(window, id);
    if (existing != s.timers.end()) {
        *existing = timer;  // same window and id: replaces the pending timer
    } else {
        s.timers.push_back(timer);
    }
    // A zero would read as failure to the caller.
    return id != 0 ? id : 1;
}

BOOL WINAPI KillTimer(HWND window, UINT_PTR id) {
    auto& timers = state().timers;
    auto timer = FindTimer(window, id);
    if (timer == timers.end()) return FALSE;
    timers.erase(timer);
    return TRUE;
}

// The simulated clock does not move while a module sleeps.
// The simulated clock does not move while a module sleeps (the simulator's
// thread is simply held up); the host can see how long it was held.
void WINAPI Sleep(DWORD milliseconds) { state().sleptMs += milliseconds; }

uint64_t TwPlatformSleptMs(void) { return state().sleptMs; }

HWND TwPlatformRegisterWindow(const char* className) {
    HWND handle = reinterpret_cast<HWND>(nextHandle);
    nextHandle += 0x10;
    state().windows.push_back({handle, className != nullptr ? className : ""});
    return handle;
}

BOOL TwPlatformUnregisterWindow(HWND window) {
    State& s = state();
    auto w = std::find_if(s.windows.begin(), s.windows.end(), [&](const Window& x) { return x.handle == window; });
    if (w == s.windows.end()) return FALSE;
    s.windows.erase(w);
    std::erase_if(s.timers, [&](const Timer& t) { return t.window == window; });
    return TRUE;
}

uint64_t TwPlatformGetTime(void) { return state().nowMs; }

void TwPlatformRunUntil(uint64_t timeMs) {
    State& s = state();
    // A timer procedure that moves the clock itself would fire timers out of
    // order; the outer call goes on with them.
    if (s.firing) return;
    s.firing = true;
    for (;;) {
        auto next = std::min_element(s.timers.begin(), s.timers.end(), FiresBefore);
        if (next == s.timers.end() || next->dueMs > timeMs) break;
        s.nowMs = next->dueMs;
        // Rescheduled before the call: the procedure may kill or replace it.
        next->dueMs += next->intervalMs;
        next->order = s.nextOrder++;
        const Timer fired = *next;
        if (fired.proc != nullptr) fired.proc(fired.window, WM_TIMER, fired.id, static_cast<DWORD>(s.nowMs));
    }
    s.nowMs = std::max(s.nowMs, timeMs);
    s.firing = false;
}

void TwPlatformAdvanceTime(uint64_t deltaMs) { TwPlatformRunUntil(state().nowMs + deltaMs); }

size_t TwPlatformListTimers(TwPendingTimer* timers, size_t capacity) {
    std::vector<Timer> sorted = state().timers;
    std::sort(sorted.begin(), sorted.end(), FiresBefore);
    for (size_t i = 0; i < sorted.size() && i < capacity; ++i) {
        const Timer& t = sorted[i];
        timers[i] = {t.window, t.id, t.intervalMs, t.dueMs, t.proc};
    }
    return sorted.size();
}

void TwPlatformRefuseSetTimer(int count) { state().refuseCount = count; }

void TwPlatformResetWindowsAndTimers(void) { state() = State{}; }

}  // extern "C"
