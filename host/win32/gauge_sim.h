// The Windows test host's simulator loop: a gauge module loaded into a real
// Windows process and driven the way the simulator drives it.
//
//   loading    LoadLibrary, the panel-services table written into
//              ImportTable, then the module start routine Linkage names
//   placing    0, query routine, 1; 2, install routine, 3;
//              14 (connect to window); 4, initialise routine, 5;
//              8, generate routine, 9
//   updating   6, update routine, 7; 10, draw routine, 11 for every placed
//              gauge in placing order, 18 times a second of real time, with
//              the main window's messages dispatched while it waits
//   removing   12, kill routine, 13
//   unloading  every gauge removed, the module stop routine, FreeLibrary
//
// SimConnect notices are sent between gauge calls (SendNotice), through the
// SimConnect.dll the module itself imports from: the tests' stand-in, whose
// control functions are looked up in whatever SimConnect.dll the loader
// gave the module.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "win32_host.h"

namespace win32host {

constexpr int kUpdatesPerSecond = 18;

// The stand-in SimConnect.dll's control functions (platform/control_simconnect.h).
struct SimConnectControl {
    HMODULE dll = nullptr;
    void(__cdecl* RefuseOpen)(BOOL) = nullptr;
    void(__cdecl* RefuseSubscription)(const char*, BOOL) = nullptr;
    BOOL(__cdecl* IsOpen)() = nullptr;
    BOOL(__cdecl* HasDispatch)() = nullptr;
    BOOL(__cdecl* SendSystemEvent)(const char*, DWORD) = nullptr;
    BOOL(__cdecl* SendEvent)(DWORD, DWORD) = nullptr;
    BOOL(__cdecl* SendRawMessage)(const void*, DWORD) = nullptr;  // TwSimConnectSendMessage
    size_t(__cdecl* CallCount)() = nullptr;
    const char*(__cdecl* Call)(size_t) = nullptr;
    void(__cdecl* ClearCalls)() = nullptr;
    void(__cdecl* Reset)() = nullptr;

    bool Complete() const;
    std::vector<std::string> Calls() const;
};

// The module whose code lies at `address` (GetModuleHandleEx by address), or 0.
HMODULE ModuleAt(const void* address);
// The DLL `module` really calls for its import `function` from `dll` (names
// compared without regard to case): found through the module's import
// address table, as the loader filled it. 0 when it has no such import.
HMODULE ProviderOfImport(HMODULE module, const char* dll, const char* function);
// The full path of a loaded module.
std::string ModulePath(HMODULE module);
// The control functions of a loaded stand-in SimConnect.dll; Complete() is
// false when `dll` is not the stand-in.
SimConnectControl SimConnectControlOf(HMODULE dll);

class GaugeSim {
public:
    GaugeSim() = default;
    ~GaugeSim();
    GaugeSim(const GaugeSim&) = delete;
    GaugeSim& operator=(const GaugeSim&) = delete;

    // Loads the module and calls its start routine. False, with the reason
    // in `error`, when it cannot be loaded.
    bool Load(const std::string& path, std::string& error);
    // Loads without calling the start routine.
    bool LoadOnly(const std::string& path, std::string& error);
    void Start();
    // Removes every gauge, calls the stop routine and unloads the module.
    void Unload();
    const LoadedModule& module() const { return module_; }

    // Places the module's gauge of that name; 0 when there is none.
    uint32_t Place(const char* name);
    void Remove(uint32_t header);
    const std::vector<uint32_t>& gauges() const { return gauges_; }
    // One service code to one gauge's callback, as the simulator sends it.
    void Service(uint32_t header, int32_t code);

    // `count` updates of every placed gauge, each at its 1/18 s tick.
    void Update(int count = 1);
    // As many updates as fit into `seconds`.
    void RunFor(double seconds) { Update(static_cast<int>(seconds * kUpdatesPerSecond + 0.5)); }

    // The SimConnect.dll the module imports from, and its control functions.
    const SimConnectControl& simConnect() const { return simConnect_; }
    // A system event to the module, between gauge calls: whether it was delivered.
    bool SendNotice(const char* systemEvent, DWORD data);
    bool Pause(bool paused) { return SendNotice("Pause", paused ? 1 : 0); }
    // Slew mode: the aircraft variable the sound module reads on every update.
    void SetSlew(bool slewing);

private:
    LoadedModule module_;
    std::vector<uint32_t> gauges_;
    SimConnectControl simConnect_;
    ULONGLONG firstUpdate_ = 0;  // when update 0 of the current run of updates happened
    ULONGLONG ticks_ = 0;        // updates since then
    bool started_ = false;
};

}  // namespace win32host
