// tw_hx8.gau as the Windows tests see it: loaded fresh for each test beside
// the simulator's main window, with its records read by raw 32-bit offsets.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "win32_host.h"

namespace hx8 {

using win32host::Address;
using win32host::F64;
using win32host::S32;
using win32host::U32;

constexpr int kGauges = 8;
inline constexpr const char* kGaugeNames[kGauges] = {"EngOilPress1", "EngOilPress2", "EngOilTemp1", "EngOilTemp2",
                                                     "EngOilQty1",   "EngOilQty2",   "EngVib1",     "EngVib2"};

// Offsets the simulator reads.
constexpr uint32_t kLinkageGauges = 0x18;
constexpr uint32_t kHeaderName = 0x04, kHeaderRoot = 0x08, kHeaderRoutines = 0x0C, kHeaderMouse = 0x50,
                   kHeaderCallback = 0x54;
constexpr uint32_t kElementNext = 0x28;
constexpr uint32_t kNeedleCallback = 0xE0;

// The gauge header at position `index` of the gauge table.
inline uint32_t GaugeHeaderAt(const win32host::LoadedModule& module, int index) {
    return U32(module.linkage, kLinkageGauges + 4 * index);
}

inline std::string GaugeName(uint32_t header) {
    return reinterpret_cast<const char*>(static_cast<uintptr_t>(U32(header, kHeaderName)));
}

// The header whose name is `name`, or 0.
inline uint32_t FindGauge(const win32host::LoadedModule& module, const std::string& name) {
    for (int i = 0; i < kGauges; ++i) {
        const uint32_t header = GaugeHeaderAt(module, i);
        if (header != 0 && GaugeName(header) == name) return header;
    }
    return 0;
}

// The gauge's elements in drawing order: the root pointer's element, then
// the first entry of each next list. Stops at 16 elements, far more than any
// gauge has, so that a broken chain cannot loop forever.
inline std::vector<uint32_t> ElementChain(uint32_t header) {
    std::vector<uint32_t> chain;
    uint32_t element = U32(U32(header, kHeaderRoot), 0);
    while (element != 0 && chain.size() < 16) {
        chain.push_back(element);
        const uint32_t next = U32(element, kElementNext);
        element = next == 0 ? 0 : U32(next, 0);
    }
    return chain;
}

inline std::vector<uint32_t> NeedleElements(uint32_t header) {
    std::vector<uint32_t> needles;
    for (uint32_t element : ElementChain(header))
        if (U32(element, 0) == 1) needles.push_back(element);
    return needles;
}

// Calls every needle of the gauge as the simulator does on an update and
// returns what each callback gave.
inline std::vector<double> UpdateNeedles(uint32_t header) {
    std::vector<double> values;
    for (uint32_t needle : NeedleElements(header))
        values.push_back(win32host::CallNeedleCallback(U32(needle, kNeedleCallback), needle));
    return values;
}

// Loads the module afresh for every test and unloads it afterwards.
class Hx8Test : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(win32host::MainWindow(), nullptr) << "no main window: is there an X server?";
        std::string error;
        module = win32host::LoadGaugeModule(win32host::BesideProgram("tw_hx8.gau"), error);
        ASSERT_NE(module.handle, nullptr) << error;
    }
    void TearDown() override { win32host::UnloadGaugeModule(module); }

    void Set(const char* name, double value) { ASSERT_TRUE(win32host::Calculator().variables.Set(name, value)) << name; }
    double Get(const char* name) { return win32host::Calculator().variables.Value(name); }
    uint32_t Gauge(const char* name) {
        const uint32_t header = FindGauge(module, name);
        EXPECT_NE(header, 0u) << name;
        return header;
    }

    win32host::LoadedModule module;
};

}  // namespace hx8
