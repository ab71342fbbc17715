// Stand-in for the SimConnect client library: one connection at a time, the
// system events a client subscribed to, and the dispatch procedure that the
// host's messages are delivered to (control_simconnect.h). Everything runs
// on the host's one thread, like the simulator's own calls.
//
// Natively it is part of the platform library. The Windows tests build the
// same file as their own SimConnect.dll (tests/windows/), which the sound
// module finds through its manifest; the test host reaches the control
// functions by GetProcAddress.
#include "control_simconnect.h"

#if defined(_WIN32)
#include <string.h>
#define strcasecmp _stricmp
#else
#include <strings.h>
#endif

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Subscription {
    std::string systemEvent;
    DWORD clientEventId;
};

struct State {
    bool open = false;
    bool refuseOpen = false;
    std::vector<std::string> refusedEvents;
    std::vector<Subscription> subscriptions;
    SimConnectDispatchProc dispatch = nullptr;
    void* context = nullptr;
    std::vector<std::string> calls;
};

State& state() {
    static State s;
    return s;
}

// The one connection's handle: any value the client cannot mistake for 0.
HSIMCONNECT const kHandle = reinterpret_cast<HSIMCONNECT>(static_cast<uintptr_t>(0x5C0));

bool SameName(const std::string& a, const char* b) { return b != nullptr && strcasecmp(a.c_str(), b) == 0; }

bool Refused(const char* systemEvent) {
    for (const std::string& refused : state().refusedEvents) {
        if (SameName(refused, systemEvent)) return true;
    }
    return false;
}

HRESULT Record(HRESULT result, const char* format, ...) __attribute__((format(gnu_printf, 2, 3)));
HRESULT Record(HRESULT result, const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    char tail[32];
    if (result == S_OK) {
        std::snprintf(tail, sizeof tail, " -> 0");
    } else {
        std::snprintf(tail, sizeof tail, " -> %08X", static_cast<unsigned>(result));
    }
    state().calls.push_back(std::string(text) + tail);
    return result;
}

bool ValidHandle(HSIMCONNECT handle) { return state().open && handle == kHandle; }

BOOL Deliver(SimConnectMessage* message, DWORD size) {
    State& s = state();
    if (!s.open || s.dispatch == nullptr) return FALSE;
    s.dispatch(message, size, s.context);
    return TRUE;
}

}  // namespace

extern "C" {

HRESULT SimConnect_Open(HSIMCONNECT* handle, LPCSTR name, HWND window, DWORD userEventWin32, HANDLE eventHandle,
                        DWORD configIndex) {
    State& s = state();
    HRESULT result = S_OK;
    if (handle == nullptr) {
        result = E_FAIL;
    } else if (s.refuseOpen) {
        *handle = nullptr;
        result = E_FAIL;
    } else {
        // One client per process here: a second Open gets the same
        // connection back, afresh.
        s.open = true;
        s.subscriptions.clear();
        s.dispatch = nullptr;
        *handle = kHandle;
    }
    return Record(result, "Open(\"%s\", window %lu, user event %u, event handle %lu, configuration %d)",
                  name != nullptr ? name : "(null)", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(window)),
                  static_cast<unsigned>(userEventWin32),
                  static_cast<unsigned long>(reinterpret_cast<uintptr_t>(eventHandle)), static_cast<int>(configIndex));
}

HRESULT SimConnect_SubscribeToSystemEvent(HSIMCONNECT handle, DWORD clientEventId, const char* systemEventName) {
    State& s = state();
    HRESULT result = S_OK;
    if (!ValidHandle(handle) || systemEventName == nullptr || Refused(systemEventName)) {
        result = E_FAIL;
    } else {
        s.subscriptions.push_back({systemEventName, clientEventId});
    }
    return Record(result, "SubscribeToSystemEvent(%u, \"%s\")", static_cast<unsigned>(clientEventId),
                  systemEventName != nullptr ? systemEventName : "(null)");
}

HRESULT SimConnect_CallDispatch(HSIMCONNECT handle, SimConnectDispatchProc dispatch, void* context) {
    State& s = state();
    HRESULT result = S_OK;
    if (!ValidHandle(handle) || dispatch == nullptr) {
        result = E_FAIL;
    } else {
        s.dispatch = dispatch;
        s.context = context;
    }
    return Record(result, "CallDispatch(context %lu)", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(context)));
}

HRESULT SimConnect_Close(HSIMCONNECT handle) {
    State& s = state();
    HRESULT result = S_OK;
    if (!ValidHandle(handle)) {
        result = E_FAIL;
    } else {
        s.open = false;
        s.subscriptions.clear();
        s.dispatch = nullptr;
        s.context = nullptr;
    }
    return Record(result, "Close()");
}

void TwSimConnectRefuseOpen(BOOL refuse) { state().refuseOpen = refuse != FALSE; }

void TwSimConnectRefuseSubscription(const char* systemEventName, BOOL refuse) {
    if (systemEventName == nullptr) return;
    auto& refused = state().refusedEvents;
    for (auto it = refused.begin(); it != refused.end();) {
        it = SameName(*it, systemEventName) ? refused.erase(it) : it + 1;
    }
    if (refuse) refused.emplace_back(systemEventName);
}

BOOL TwSimConnectIsOpen(void) { return state().open ? TRUE : FALSE; }
BOOL TwSimConnectHasDispatch(void) { return state().open && state().dispatch != nullptr ? TRUE : FALSE; }

BOOL TwSimConnectSendSystemEvent(const char* systemEventName, DWORD data) {
    // A copy: the procedure may subscribe or close while it runs.
    const std::vector<Subscription> subscriptions = state().subscriptions;
    BOOL delivered = FALSE;
    for (const Subscription& subscription : subscriptions) {
        if (SameName(subscription.systemEvent, systemEventName)) {
            delivered = TwSimConnectSendEvent(subscription.clientEventId, data) || delivered;
        }
    }
    return delivered;
}

BOOL TwSimConnectSendEvent(DWORD clientEventId, DWORD data) {
    SimConnectEventMessage event{};
    event.head.dwSize = sizeof event;
    event.head.dwVersion = 1;
    event.head.dwID = kSimConnectMessageEvent;
    event.uGroupID = kSimConnectUnknownGroup;
    event.uEventID = clientEventId;
    event.dwData = data;
    return Deliver(&event.head, sizeof event);
}

BOOL TwSimConnectSendMessage(const void* message, DWORD size) {
    if (message == nullptr || size < sizeof(SimConnectMessage)) return FALSE;
    // The procedure gets its own aligned copy, as SimConnect hands out its own buffer.
    std::vector<DWORD> copy((size + sizeof(DWORD) - 1) / sizeof(DWORD));
    std::memcpy(copy.data(), message, size);
    return Deliver(reinterpret_cast<SimConnectMessage*>(copy.data()), size);
}

size_t TwSimConnectCallCount(void) { return state().calls.size(); }

const char* TwSimConnectCall(size_t index) {
    const auto& calls = state().calls;
    return index < calls.size() ? calls[index].c_str() : nullptr;
}

void TwSimConnectClearCalls(void) { state().calls.clear(); }

void TwSimConnectReset(void) { state() = State(); }

}  // extern "C"
