// The routines the simulator calls through the records: the seven standard
// routines of every header forward to their panel-services slot with the
// FIRST gauge's first element (whichever header they were reached through),
// install and generate pass the host's value on; the gauge callbacks and the
// module start and stop routines do nothing.
#include <algorithm>
#include <cstring>

#include "hx8_module.h"

namespace hx8 {
namespace {

using win32host::ServiceCall;
using win32host::ServiceCalls;

struct RoutineSpec {
    const char* role;
    int slot;
    bool takesValue;
};

constexpr RoutineSpec kRoutines[7] = {{"query", 24, false},   {"install", 25, true},  {"initialise", 26, false},
                                      {"update", 27, false},  {"generate", 28, true}, {"draw", 29, false},
                                      {"kill", 31, false}};

using StandardRoutines = Hx8Test;

std::vector<uint32_t> drawnOnSecondTable;
void __stdcall DrawOnSecondTable(uint32_t element) { drawnOnSecondTable.push_back(element); }

TEST_F(StandardRoutines, ForwardTheFirstGaugesChainFromEveryHeader) {
    const uint32_t firstElement = ElementChain(GaugeHeaderAt(module, 0)).at(0);
    for (int g = 0; g < kGauges; ++g) {
        const uint32_t header = GaugeHeaderAt(module, g);
        for (uint32_t r = 0; r < 7; ++r) {
            const RoutineSpec& spec = kRoutines[r];
            SCOPED_TRACE(GaugeName(header) + " " + spec.role);
            ServiceCalls().clear();
            const uint32_t routine = U32(header, kHeaderRoutines + 4 * r);
            // A value with every byte distinct shows it arrives unchanged.
            const uint32_t value = 0x8A6B4C2Du + r;
            if (spec.takesValue)
                win32host::CallValueRoutine(routine, value);
            else
                win32host::CallModuleRoutine(routine);
            const ServiceCall expected{spec.slot, firstElement, spec.takesValue ? value : 0u};
            EXPECT_EQ(ServiceCalls(), std::vector<ServiceCall>{expected});
        }
    }
}

TEST_F(StandardRoutines, ReadThePanelServicesPointerAtEveryCall) {
    // The simulator may write ImportTable again; the routines follow it.
    void* second[80];
    std::copy(win32host::PanelServicesTable(), win32host::PanelServicesTable() + 80, second);
    drawnOnSecondTable.clear();
    second[29] = reinterpret_cast<void*>(&DrawOnSecondTable);
    const uint32_t table = Address(second);
    std::memcpy(reinterpret_cast<void*>(static_cast<uintptr_t>(module.importTable + 4)), &table, 4);

    win32host::CallModuleRoutine(U32(GaugeHeaderAt(module, 3), kHeaderRoutines + 4 * 5));
    EXPECT_EQ(drawnOnSecondTable, std::vector<uint32_t>{ElementChain(GaugeHeaderAt(module, 0)).at(0)});
    EXPECT_TRUE(ServiceCalls().empty());
}

TEST_F(StandardRoutines, GaugeCallbacksAndModuleRoutinesDoNothing) {
    Set("L:Eng Oil Qty Test,number", 2);
    Set("L:Engine Vibration Test,number", 2);
    win32host::CallModuleRoutine(U32(module.linkage, 0x04));  // module start
    for (int g = 0; g < kGauges; ++g) {
        const uint32_t header = GaugeHeaderAt(module, g);
        // The codes the sound gauge acts on, and others around them.
        for (int32_t code : {-1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 10, 11, 12, 13, 14, 15, 16, 0x7FFFFFFF})
            win32host::CallGaugeCallback(U32(header, kHeaderCallback), header, code, 0x12345678);
    }
    win32host::CallModuleRoutine(U32(module.linkage, 0x08));  // module stop
    EXPECT_TRUE(ServiceCalls().empty());
    EXPECT_TRUE(win32host::Calculator().log.empty()) << win32host::Calculator().log.front();
    EXPECT_EQ(Get("L:Eng Oil Qty Test,number"), 2);
    EXPECT_EQ(Get("L:Engine Vibration Test,number"), 2);
}

}  // namespace
}  // namespace hx8
