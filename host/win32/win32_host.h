// The Windows test host: a small stand-in for the simulator inside a real
// Windows process.
//
// It creates the simulator's main window (class "FS98MAIN") and runs its
// message loop, so that timers the modules set on it fire for real; loads a
// gauge module with LoadLibrary and finds ImportTable and Linkage by name;
// writes its panel-services table into ImportTable (slots 24 to 29 and 31
// record their calls, slot 69 runs calculator code against the host's
// variables, every other slot stops the process with a message); and calls
// the module's routines.
//
// Records are handed out as raw addresses: what lies at which 32-bit offset
// is for the caller to read.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "calculator_code.h"

namespace win32host {

// One call the module made to an element-list slot of the panel services.
struct ServiceCall {
    int slot;             // 24..29, 31
    uint32_t element;     // first element passed
    uint32_t value;       // install and generate: the value passed; else 0
    bool operator==(const ServiceCall&) const = default;
};

struct LoadedModule {
    HMODULE handle = nullptr;
    uint32_t importTable = 0;          // address of the exported ImportTable
    uint32_t linkage = 0;              // address of the exported Linkage
    uint32_t panelServicesAtLoad = 0;  // ImportTable +0x04 before the host wrote it
};

// The main window. Created once; later calls return the same window, or 0
// when it cannot be created (no window station, e.g. wine without X).
HWND MainWindow();

// Runs the message loop of this thread for `milliseconds`, dispatching
// timer messages to their procedures.
void PumpMessages(DWORD milliseconds);

// Runs the message loop until `done()` holds or `timeoutMs` passes; true if
// it held.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs);

// The path of a file beside this program.
std::string BesideProgram(const char* fileName);

// Loads the module, finds its two exports and writes the panel-services
// table into ImportTable. On failure `error` says why and the result is empty.
// Clears the recorded service calls and the calculator's variables and log,
// so that each load starts like a fresh simulator.
LoadedModule LoadGaugeModule(const std::string& path, std::string& error);
// Kills the test timers a module may have left on the main window (their
// procedures are about to go away), then unloads it.
void UnloadGaugeModule(LoadedModule& module);

// The panel-services table the host writes into modules: 80 slots.
void** PanelServicesTable();

// What the element-list slots received, in order.
std::vector<ServiceCall>& ServiceCalls();

// The variables and the texts slot 69 received.
CalculatorCodeService& Calculator();

// Calls through 32-bit addresses read from a module's records.
void CallModuleRoutine(uint32_t address);                       // start, stop, standard routines 1,3,4,6,7
void CallValueRoutine(uint32_t address, uint32_t value);        // standard routines 2 and 5
void CallGaugeCallback(uint32_t address, uint32_t header, int32_t code, uint32_t extra);
double CallNeedleCallback(uint32_t address, uint32_t needle);

// Reads a little-endian 32-bit integer, or a double, at `address + offset`.
uint32_t U32(uint32_t address, uint32_t offset);
int32_t S32(uint32_t address, uint32_t offset);
double F64(uint32_t address, uint32_t offset);
inline uint32_t Address(const void* pointer) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer)); }

}  // namespace win32host
