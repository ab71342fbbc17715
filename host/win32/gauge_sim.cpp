#include "gauge_sim.h"

#include <cstring>

namespace win32host {

namespace {

// Offsets the simulator reads.
constexpr uint32_t kLinkageStart = 0x04, kLinkageStop = 0x08, kLinkageGauges = 0x18;
constexpr uint32_t kHeaderName = 0x04, kHeaderQuery = 0x0C, kHeaderInstall = 0x10, kHeaderInitialise = 0x14,
                   kHeaderUpdate = 0x18, kHeaderGenerate = 0x1C, kHeaderDraw = 0x20, kHeaderKill = 0x24,
                   kHeaderCallback = 0x54;

// Gauge tables are short; this bounds a walk over a broken one.
constexpr int kMaxGauges = 64;

template <typename Fn>
void Bind(HMODULE dll, const char* name, Fn& fn) {
    fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
}

void CallRoutine(uint32_t header, uint32_t offset) {
    const uint32_t routine = U32(header, offset);
    if (routine != 0) CallModuleRoutine(routine);
}

void CallValue(uint32_t header, uint32_t offset, uint32_t value) {
    const uint32_t routine = U32(header, offset);
    if (routine != 0) CallValueRoutine(routine, value);
}

}  // namespace

bool SimConnectControl::Complete() const {
    return RefuseOpen && RefuseSubscription && IsOpen && HasDispatch && SendSystemEvent && SendEvent &&
           SendRawMessage && CallCount && Call && ClearCalls && Reset;
}

std::vector<std::string> SimConnectControl::Calls() const {
    std::vector<std::string> calls;
    if (!Complete()) return calls;
    for (size_t i = 0; i < CallCount(); ++i) calls.emplace_back(Call(i));
    return calls;
}

HMODULE ModuleAt(const void* address) {
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCSTR>(address), &module))
        return nullptr;
    return module;
}

HMODULE ProviderOfImport(HMODULE module, const char* dll, const char* function) {
    if (module == nullptr) return nullptr;
    auto* base = reinterpret_cast<const BYTE*>(module);
    auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (directory.VirtualAddress == 0) return nullptr;
    for (auto* entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress); entry->Name != 0;
         ++entry) {
        if (lstrcmpiA(reinterpret_cast<const char*>(base + entry->Name), dll) != 0) continue;
        // The names stay in the lookup table; the loader wrote the addresses
        // into the address table beside it.
        auto* names = reinterpret_cast<const IMAGE_THUNK_DATA32*>(base + entry->OriginalFirstThunk);
        auto* addresses = reinterpret_cast<const IMAGE_THUNK_DATA32*>(base + entry->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++addresses) {
            if (IMAGE_SNAP_BY_ORDINAL32(names->u1.Ordinal)) continue;
            auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) == 0)
                return ModuleAt(reinterpret_cast<const void*>(static_cast<uintptr_t>(addresses->u1.Function)));
        }
    }
    return nullptr;
}

std::string ModulePath(HMODULE module) {
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(module, path, sizeof path);
    return std::string(path, length < sizeof path ? length : 0);
}

SimConnectControl SimConnectControlOf(HMODULE dll) {
    SimConnectControl control;
    if (dll == nullptr) return control;
    control.dll = dll;
    Bind(dll, "TwSimConnectRefuseOpen", control.RefuseOpen);
    Bind(dll, "TwSimConnectRefuseSubscription", control.RefuseSubscription);
    Bind(dll, "TwSimConnectIsOpen", control.IsOpen);
    Bind(dll, "TwSimConnectHasDispatch", control.HasDispatch);
    Bind(dll, "TwSimConnectSendSystemEvent", control.SendSystemEvent);
    Bind(dll, "TwSimConnectSendEvent", control.SendEvent);
    Bind(dll, "TwSimConnectSendMessage", control.SendRawMessage);
    Bind(dll, "TwSimConnectCallCount", control.CallCount);
    Bind(dll, "TwSimConnectCall", control.Call);
    Bind(dll, "TwSimConnectClearCalls", control.ClearCalls);
    Bind(dll, "TwSimConnectReset", control.Reset);
    return control;
}

GaugeSim::~GaugeSim() { Unload(); }

bool GaugeSim::LoadOnly(const std::string& path, std::string& error) {
    Unload();
    module_ = LoadGaugeModule(path, error);
    if (module_.handle == nullptr) return false;
    simConnect_ = SimConnectControlOf(ProviderOfImport(module_.handle, "SimConnect.dll", "SimConnect_Open"));
    ticks_ = 0;
    return true;
}

bool GaugeSim::Load(const std::string& path, std::string& error) {
    if (!LoadOnly(path, error)) return false;
    Start();
    return true;
}

void GaugeSim::Start() {
    if (module_.handle == nullptr || started_) return;
    started_ = true;
    const uint32_t start = U32(module_.linkage, kLinkageStart);
    if (start != 0) CallModuleRoutine(start);
}

void GaugeSim::Unload() {
    if (module_.handle == nullptr) return;
    while (!gauges_.empty()) Remove(gauges_.back());
    if (started_) {
        const uint32_t stop = U32(module_.linkage, kLinkageStop);
        if (stop != 0) CallModuleRoutine(stop);
    }
    started_ = false;
    simConnect_ = {};
    UnloadGaugeModule(module_);
}

uint32_t GaugeSim::Place(const char* name) {
    if (module_.handle == nullptr) return 0;
    uint32_t header = 0;
    for (int i = 0; i < kMaxGauges; ++i) {
        const uint32_t candidate = U32(module_.linkage, kLinkageGauges + 4 * i);
        if (candidate == 0) break;
        const char* gaugeName = reinterpret_cast<const char*>(static_cast<uintptr_t>(U32(candidate, kHeaderName)));
        if (gaugeName != nullptr && lstrcmpiA(gaugeName, name) == 0) {
            header = candidate;
            break;
        }
    }
    if (header == 0) return 0;
    gauges_.push_back(header);
    Service(header, 0);
    CallRoutine(header, kHeaderQuery);
    Service(header, 1);
    Service(header, 2);
    CallValue(header, kHeaderInstall, 0);
    Service(header, 3);
    Service(header, 14);
    Service(header, 4);
    CallRoutine(header, kHeaderInitialise);
    Service(header, 5);
    Service(header, 8);
    CallValue(header, kHeaderGenerate, 0);
    Service(header, 9);
    return header;
}

void GaugeSim::Remove(uint32_t header) {
    for (auto it = gauges_.begin(); it != gauges_.end(); ++it) {
        if (*it != header) continue;
        gauges_.erase(it);
        Service(header, 12);
        CallRoutine(header, kHeaderKill);
        Service(header, 13);
        return;
    }
}

void GaugeSim::Service(uint32_t header, int32_t code) {
    const uint32_t callback = U32(header, kHeaderCallback);
    if (callback != 0) CallGaugeCallback(callback, header, code, 0);
}

void GaugeSim::Update(int count) {
    for (int n = 0; n < count; ++n) {
        // Each update at its tick; the window's messages (timers) meanwhile.
        ULONGLONG now = GetTickCount64();
        ULONGLONG due = firstUpdate_ + ticks_ * 1000 / kUpdatesPerSecond;
        if (ticks_ == 0 || due + 1000 < now) {  // the first, or far behind: the clock starts afresh
            firstUpdate_ = now;
            ticks_ = 0;
            due = now;
        }
        if (due > now) PumpMessages(static_cast<DWORD>(due - now));
        ++ticks_;
        for (uint32_t header : std::vector<uint32_t>(gauges_)) {
            Service(header, 6);
            CallRoutine(header, kHeaderUpdate);
            Service(header, 7);
            Service(header, 10);
            CallRoutine(header, kHeaderDraw);
            Service(header, 11);
        }
    }
}

bool GaugeSim::SendNotice(const char* systemEvent, DWORD data) {
    if (!simConnect_.Complete()) return false;
    return simConnect_.SendSystemEvent(systemEvent, data) != FALSE;
}

void GaugeSim::SetSlew(bool slewing) { Calculator().variables.Set("A:IS SLEW ACTIVE,bool", slewing ? 1 : 0); }

}  // namespace win32host
