// The four SimConnect client calls the sound module makes, and the messages
// it receives, declared from what the module needs of them. Both builds use
// this header: the Windows module imports the functions by name from
// SimConnect.dll (found through the side-by-side assembly its manifest
// names); natively the platform library provides a stand-in that the host
// steers (control_simconnect.h), and the Windows tests build the same
// stand-in as a SimConnect.dll of their own.
#pragma once

#include <windows.h>

#include <cstdint>

typedef HANDLE HSIMCONNECT;

// Every message starts with its size, the protocol version and its kind.
struct SimConnectMessage {
    DWORD dwSize;
    DWORD dwVersion;
    DWORD dwID;
};

enum SimConnectMessageId : DWORD {
    kSimConnectMessageNull = 0,
    kSimConnectMessageException = 1,
    kSimConnectMessageOpen = 2,
    kSimConnectMessageQuit = 3,
    kSimConnectMessageEvent = 4,
};

// A subscribed event: the client's own event identifier and its data word.
struct SimConnectEventMessage {
    SimConnectMessage head;
    DWORD uGroupID;
    DWORD uEventID;
    DWORD dwData;
};

static_assert(sizeof(SimConnectMessage) == 12);
static_assert(sizeof(SimConnectEventMessage) == 24);

// The group identifier of an event that belongs to no notification group.
constexpr DWORD kSimConnectUnknownGroup = 0xFFFFFFFF;
// Configuration index of the local simulator connection.
constexpr DWORD kSimConnectLocalConfiguration = 0xFFFFFFFF;

typedef void(CALLBACK* SimConnectDispatchProc)(SimConnectMessage* message, DWORD size, void* context);

#if defined(_WIN32) && defined(TW_SIMCONNECT_STANDIN)
// The stand-in SimConnect.dll of the Windows tests defines them (its .def
// file exports them by their undecorated names).
#define SIMCONNECT_API extern "C" HRESULT __stdcall
#elif defined(_WIN32)
#define SIMCONNECT_API extern "C" __declspec(dllimport) HRESULT __stdcall
#else
#define SIMCONNECT_API extern "C" HRESULT
#endif

SIMCONNECT_API SimConnect_Open(HSIMCONNECT* handle, LPCSTR name, HWND window, DWORD userEventWin32,
                               HANDLE eventHandle, DWORD configIndex);
SIMCONNECT_API SimConnect_SubscribeToSystemEvent(HSIMCONNECT handle, DWORD clientEventId, const char* systemEventName);
SIMCONNECT_API SimConnect_CallDispatch(HSIMCONNECT handle, SimConnectDispatchProc dispatch, void* context);
SIMCONNECT_API SimConnect_Close(HSIMCONNECT handle);
