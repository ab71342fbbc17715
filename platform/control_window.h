// Host-facing control of the native window and timer stand-ins.
//
// The modules see only FindWindowA, SetTimer, KillTimer and Sleep. The host
// registers the windows those calls can find (the simulator's main window,
// class "FS98MAIN"), owns the clock, and decides when timers fire: time is
// simulated, and a timer fires only when the host moves the clock past it.
//
// Timer procedures run inside TwPlatformAdvanceTime / TwPlatformRunUntil, on
// the caller's thread, in time order (timers due at the same moment in the
// order they were set or last fired). A procedure may set or kill timers,
// its own included.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

extern "C" {

// Makes a window of `className` findable by FindWindowA and returns its
// handle. A class may be registered more than once; FindWindowA then finds
// the one registered first.
HWND TwPlatformRegisterWindow(const char* className);

// Removes the window and, as destroying a window does on Windows, every
// timer set on it. Returns FALSE for a handle that is not registered.
BOOL TwPlatformUnregisterWindow(HWND window);

// The simulated clock in milliseconds since the last reset. Timer
// procedures get it (truncated to 32 bits) as their time argument.
uint64_t TwPlatformGetTime(void);

// Moves the clock forward to `timeMs`, firing every timer that falls due on
// the way, each at its own due time. A time earlier than now changes nothing.
void TwPlatformRunUntil(uint64_t timeMs);

// TwPlatformRunUntil(now + deltaMs).
void TwPlatformAdvanceTime(uint64_t deltaMs);

// One pending timer, for tests and diagnostics.
struct TwPendingTimer {
    HWND window;        // 0 for a thread timer
    UINT_PTR id;
    UINT intervalMs;
    uint64_t dueMs;     // when it fires next
    TIMERPROC proc;
};

// Copies up to `capacity` pending timers, in the order they will fire, into
// `timers` (which may be 0 when `capacity` is 0) and returns how many are
// pending in all.
size_t TwPlatformListTimers(struct TwPendingTimer* timers, size_t capacity);

// Makes the next `count` SetTimer calls fail (return 0, set nothing); a
// negative count makes every call fail until this is called again with 0.
void TwPlatformRefuseSetTimer(int count);

// Milliseconds the modules spent in Sleep since the last reset. Sleep does
// not move the clock; it holds up the simulator's thread.
uint64_t TwPlatformSleptMs(void);

// Forgets every window and timer, clears refusals and sets the clock to 0.
void TwPlatformResetWindowsAndTimers(void);

}  // extern "C"
