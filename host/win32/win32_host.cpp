#include "win32_host.h"

#include <cstdio>
#include <cstring>
#include <utility>

namespace win32host {

namespace {

constexpr int kPanelServiceSlots = 80;
constexpr const char* kMainWindowClass = "FS98MAIN";

std::vector<ServiceCall> serviceCalls;
CalculatorCodeService calculator;
HWND mainWindow = nullptr;

void Record(int slot, void* element, uint32_t value) {
    serviceCalls.push_back({slot, Address(element), value});
}

template <int Slot>
void __stdcall ElementListSlot(void* element) { Record(Slot, element, 0); }

template <int Slot>
void __stdcall ElementListValueSlot(void* element, uint32_t value) { Record(Slot, element, value); }

int32_t __stdcall ExecuteCalculatorCodeSlot(const char* code, double* doubleResult, int32_t* intResult,
                                            const char** textResult) {
    // Nothing may throw back into the module.
    try {
        return calculator.Execute(code, doubleResult, intResult, textResult);
    } catch (...) {
        return 0;
    }
}

// A slot the host does not offer: the module's call would be undefined, so
// the process stops with a message naming the slot.
template <int Slot>
void __stdcall UnofferedSlot() {
    std::fprintf(stderr, "the module called panel-services slot %d, which the host does not offer\n", Slot);
    std::fflush(stderr);
    ExitProcess(70);
}

template <int... Slots>
void FillUnoffered(void** table, std::integer_sequence<int, Slots...>) {
    ((table[Slots] = reinterpret_cast<void*>(&UnofferedSlot<Slots>)), ...);
}

void** BuildTable() {
    static void* table[kPanelServiceSlots];
    FillUnoffered(table, std::make_integer_sequence<int, kPanelServiceSlots>{});
    table[24] = reinterpret_cast<void*>(&ElementListSlot<24>);       // query
    table[25] = reinterpret_cast<void*>(&ElementListValueSlot<25>);  // install
    table[26] = reinterpret_cast<void*>(&ElementListSlot<26>);       // initialise
    table[27] = reinterpret_cast<void*>(&ElementListSlot<27>);       // update
    table[28] = reinterpret_cast<void*>(&ElementListValueSlot<28>);  // generate
    table[29] = reinterpret_cast<void*>(&ElementListSlot<29>);       // draw
    table[31] = reinterpret_cast<void*>(&ElementListSlot<31>);       // kill
    table[69] = reinterpret_cast<void*>(&ExecuteCalculatorCodeSlot);
    return table;
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}

void DispatchPending() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

}  // namespace

void** PanelServicesTable() {
    static void** table = BuildTable();
    return table;
}

std::vector<ServiceCall>& ServiceCalls() { return serviceCalls; }

CalculatorCodeService& Calculator() { return calculator; }

HWND MainWindow() {
    if (mainWindow != nullptr) return mainWindow;
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kMainWindowClass;
    RegisterClassA(&windowClass);  // fails harmlessly when already registered
    mainWindow = CreateWindowExA(0, kMainWindowClass, "Gauge test host", WS_OVERLAPPEDWINDOW, 0, 0, 320, 240,
                                 nullptr, nullptr, instance, nullptr);
    return mainWindow;
}

void PumpMessages(DWORD milliseconds) {
    PumpUntil([] { return false; }, milliseconds);
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        DispatchPending();
        if (done()) return true;
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(deadline - now), QS_ALLINPUT);
    }
}

std::string BesideProgram(const char* fileName) {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string folder(path, length < sizeof path ? length : 0);
    const size_t slash = folder.find_last_of("\\/");
    folder.erase(slash == std::string::npos ? 0 : slash + 1);
    return folder + fileName;
}

LoadedModule LoadGaugeModule(const std::string& path, std::string& error) {
    serviceCalls.clear();
    calculator.variables.Clear();
    calculator.log.clear();

    LoadedModule module;
    module.handle = LoadLibraryA(path.c_str());
    if (module.handle == nullptr) {
        error = "LoadLibrary(" + path + ") failed with error " + std::to_string(GetLastError());
        return {};
    }
    auto* importTable = reinterpret_cast<uint8_t*>(GetProcAddress(module.handle, "ImportTable"));
    auto* linkage = reinterpret_cast<uint8_t*>(GetProcAddress(module.handle, "Linkage"));
    if (importTable == nullptr || linkage == nullptr) {
        error = path + " does not export ImportTable and Linkage";
        FreeLibrary(module.handle);
        return {};
    }
    module.importTable = Address(importTable);
    module.linkage = Address(linkage);
    std::memcpy(&module.panelServicesAtLoad, importTable + 4, 4);
    // The simulator writes its services table before it calls anything.
    const uint32_t table = Address(PanelServicesTable());
    std::memcpy(importTable + 4, &table, 4);
    return module;
}

void UnloadGaugeModule(LoadedModule& module) {
    if (module.handle == nullptr) return;
    if (mainWindow != nullptr) {
        KillTimer(mainWindow, 1);
        KillTimer(mainWindow, 2);
        // A WM_TIMER already queued would still name the old procedure.
        MSG message;
        while (PeekMessageA(&message, mainWindow, WM_TIMER, WM_TIMER, PM_REMOVE)) {
        }
    }
    FreeLibrary(module.handle);
    module = {};
}

void CallModuleRoutine(uint32_t address) { reinterpret_cast<void(__stdcall*)()>(address)(); }

void CallValueRoutine(uint32_t address, uint32_t value) {
    reinterpret_cast<void(__stdcall*)(uint32_t)>(address)(value);
}

void CallGaugeCallback(uint32_t address, uint32_t header, int32_t code, uint32_t extra) {
    reinterpret_cast<void(__stdcall*)(uint32_t, int32_t, uint32_t)>(address)(header, code, extra);
}

double CallNeedleCallback(uint32_t address, uint32_t needle) {
    return reinterpret_cast<double(__stdcall*)(uint32_t)>(address)(needle);
}

uint32_t U32(uint32_t address, uint32_t offset) {
    uint32_t value;
    std::memcpy(&value, reinterpret_cast<const void*>(static_cast<uintptr_t>(address + offset)), 4);
    return value;
}

int32_t S32(uint32_t address, uint32_t offset) { return static_cast<int32_t>(U32(address, offset)); }

double F64(uint32_t address, uint32_t offset) {
    double value;
    std::memcpy(&value, reinterpret_cast<const void*>(static_cast<uintptr_t>(address + offset)), 8);
    return value;
}

}  // namespace win32host
