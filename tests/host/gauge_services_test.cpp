// The standard routines and gauge callbacks of the engine instruments, and
// the order in which the host calls them.
#include <vector>

#include "control_window.h"
#include "hx8_fixture.h"

namespace {

using StandardRoutines = Hx8Test;

TEST_F(StandardRoutines, EveryHeaderHandsTheFirstGaugesFirstElementToItsSlot) {
    const std::vector<GaugeHeader*> gauges = module->Gauges();
    ASSERT_EQ(gauges.size(), 8u);
    ElementHeader* firstElement = *gauges[0]->rootPointer;  // EngOilPress1's dial face
    ASSERT_EQ(firstElement->bitmapId, 256u);

    const uint32_t values[] = {0u, 1u, 0x80000000u, 0xFFFFFFFFu, 0xDEADBEEFu};
    for (GaugeHeader* header : gauges) {
        SCOPED_TRACE(header->name);
        for (uint32_t value : values) {
            sim.ClearPanelCalls();
            header->query();
            header->install(value);
            header->initialise();
            header->update();
            header->generate(value);
            header->draw();
            header->kill();
            const std::vector<PanelCall>& calls = sim.panelCalls();
            const int slots[] = {24, 25, 26, 27, 28, 29, 31};
            ASSERT_EQ(calls.size(), std::size(slots));
            for (size_t i = 0; i < calls.size(); ++i) {
                SCOPED_TRACE("slot " + std::to_string(slots[i]));
                EXPECT_EQ(calls[i].slot, slots[i]);
                EXPECT_EQ(calls[i].element, firstElement);
                if (slots[i] == 25 || slots[i] == 28) {
                    EXPECT_EQ(calls[i].value, value) << "passed on unchanged";
                } else {
                    EXPECT_FALSE(calls[i].value.has_value());
                }
            }
        }
    }
}

TEST_F(StandardRoutines, HostSendsServicesInTheSimulatorsOrder) {
    PlacedGauge* gauge = Place("EngOilQty2");
    ElementHeader* firstElement = *module->Gauges()[0]->rootPointer;
    auto codes = [&] {
        std::vector<int32_t> sent;
        for (const ServiceCall& call : sim.serviceCalls()) {
            EXPECT_EQ(call.header, gauge->header);
            sent.push_back(call.code);
        }
        return sent;
    };
    auto slots = [&] {
        std::vector<int> called;
        for (const PanelCall& call : sim.panelCalls()) {
            EXPECT_EQ(call.element, firstElement);
            called.push_back(call.slot);
        }
        return called;
    };
    EXPECT_EQ(codes(), (std::vector<int32_t>{0, 1, 2, 3, 14, 4, 5, 8, 9}));
    EXPECT_EQ(slots(), (std::vector<int>{24, 25, 26, 28}));
    EXPECT_EQ(sim.panelCalls()[1].value, gauge->installValue);

    sim.ClearPanelCalls();
    sim.RunUpdates(2);
    EXPECT_EQ(codes(), (std::vector<int32_t>{0, 1, 2, 3, 14, 4, 5, 8, 9, 6, 7, 10, 11, 6, 7, 10, 11}));
    EXPECT_EQ(slots(), (std::vector<int>{27, 29, 27, 29}));

    sim.ClearPanelCalls();
    sim.RemoveGauge(gauge);
    EXPECT_TRUE(sim.gauges().empty());
    EXPECT_EQ(slots(), (std::vector<int>{31}));
}

// The engine gauges' callbacks do nothing for any code: no variable read or
// written, no element-list call, no timer, even with both tests requested.
TEST_F(StandardRoutines, EngineGaugeCallbacksIgnoreEveryServiceCode) {
    sim.variables().Set("L:Eng Oil Qty Test,number", 2);
    sim.variables().Set("L:Engine Vibration Test,number", 2);
    sim.ClearCodeLog();
    sim.ClearPanelCalls();
    for (GaugeHeader* header : module->Gauges()) {
        for (int32_t code = -1; code <= 20; ++code) {
            header->callback(header, code, 0);
            header->callback(header, code, 0xFFFFFFFFu);
        }
    }
    EXPECT_TRUE(sim.codeLog().empty());
    EXPECT_TRUE(sim.panelCalls().empty());
    EXPECT_EQ(TwPlatformListTimers(nullptr, 0), 0u);
    EXPECT_EQ(sim.variables().Value("L:Eng Oil Qty Test,number"), 2.0);
}

}  // namespace
