// Host-facing control of the native SimConnect stand-in (simconnect.h).
//
// The stand-in records every call the module makes, can refuse the
// connection or a subscription, and delivers messages to the dispatch
// procedure the module registered with SimConnect_CallDispatch, when the
// host says so: between gauge calls, on the host's thread, as the simulator
// does.
#pragma once

#include <simconnect.h>

#include <cstddef>

extern "C" {

// SimConnect_Open fails with E_FAIL (and opens nothing) while refused.
void TwSimConnectRefuseOpen(BOOL refuse);
// SimConnect_SubscribeToSystemEvent for `systemEventName` ("Pause", ...,
// compared without regard to case) fails with E_FAIL and subscribes nothing
// while refused.
void TwSimConnectRefuseSubscription(const char* systemEventName, BOOL refuse);

// Whether a connection is open, and whether it has a dispatch procedure.
BOOL TwSimConnectIsOpen(void);
BOOL TwSimConnectHasDispatch(void);

// Sends the system event to the client that subscribed to it, as an event
// message with the client's own event identifier, group
// kSimConnectUnknownGroup and `data`. FALSE (nothing delivered) when no
// connection is open, no dispatch procedure is registered or the event was
// not subscribed.
BOOL TwSimConnectSendSystemEvent(const char* systemEventName, DWORD data);
// Delivers an event message with any client event identifier.
BOOL TwSimConnectSendEvent(DWORD clientEventId, DWORD data);
// Delivers a message as given (its first 12 bytes are the head), e.g. the
// quit message. `size` must be at least 12.
BOOL TwSimConnectSendMessage(const void* message, DWORD size);

// Every call the module made, in order, as text:
//   Open("TWSoundGauge", window 0, user event 0, event handle 0, configuration -1) -> 0
//   SubscribeToSystemEvent(0, "Pause") -> 0
//   CallDispatch(context 0) -> 0
//   Close() -> 0
size_t TwSimConnectCallCount(void);
const char* TwSimConnectCall(size_t index);
void TwSimConnectClearCalls(void);

// Closes any connection, forgets subscriptions, refusals and calls.
void TwSimConnectReset(void);

}  // extern "C"
