// Loading and unloading modules in the host: refusals, a fresh module state
// on every load, placing gauges by name, bitmaps by resource number.
#include <dlfcn.h>

#include <cstring>

#include "control_window.h"
#include "hx8_fixture.h"
#include "records.h"

namespace {

TEST(ModuleLoading, RefusesWhatIsNotAGaugeModule) {
    Sim sim;
    std::string error;
    EXPECT_EQ(sim.LoadModule("/nonexistent/tw_none.so", &error), nullptr);
    EXPECT_NE(error.find("/nonexistent/tw_none.so"), std::string::npos) << error;

    // A shared library without ImportTable and Linkage.
    Dl_info info{};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(&TwPlatformGetTime), &info), 0);
    error.clear();
    EXPECT_EQ(sim.LoadModule(info.dli_fname, &error), nullptr);
    EXPECT_NE(error.find("not a gauge module"), std::string::npos) << error;
    EXPECT_TRUE(sim.modules().empty());
}

TEST(ModuleLoading, EveryLoadStartsFromTheInitialState) {
    {
        Sim sim;
        LoadedModule* module = sim.LoadModule(kHx8Path);
        ASSERT_NE(module, nullptr);
        sim.PlaceGauge(module, "EngOilQty1");
        sim.variables().Set("L:Eng Oil Qty Test,number", 2);
        sim.Update();
        ASSERT_EQ(TwPlatformListTimers(nullptr, 0), 1u);

        // Unloading takes the module's pending timer with it: nothing may
        // call into the unloaded code.
        sim.UnloadModule(module);
        EXPECT_TRUE(sim.modules().empty());
        EXPECT_TRUE(sim.gauges().empty());
        EXPECT_EQ(TwPlatformListTimers(nullptr, 0), 0u);
        EXPECT_EQ(dlopen(kHx8Path, RTLD_NOW | RTLD_NOLOAD), nullptr) << "the module stayed in memory";
        sim.RunFor(2.0);
    }
    // Loaded again, its test is not running any more.
    Sim sim;
    LoadedModule* module = sim.LoadModule(kHx8Path);
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(sim.LoadModule(kHx8Path), module) << "a module is loaded once";
    EXPECT_EQ(sim.modules().size(), 1u);
    PlacedGauge* qty1 = sim.PlaceGauge(module, "EngOilQty1");
    sim.variables().Set("A:Eng Oil Quantity:1,percent", 100);
    sim.variables().Set("L:Eng Oil Qty Test,number", 1);
    sim.Update();
    EXPECT_EQ(qty1->needles.front().value, 3.75);
}

using GaugePlacing = Hx8Test;

TEST_F(GaugePlacing, ByNameWithoutRegardToCase) {
    PlacedGauge* gauge = sim.PlaceGauge(module, "engoiltemp2");
    ASSERT_NE(gauge, nullptr);
    EXPECT_EQ(gauge->name, "EngOilTemp2");
    EXPECT_EQ(gauge->needles.size(), 2u);
    EXPECT_EQ(sim.PlaceGauge(module, "EngOilTemp3"), nullptr);
    EXPECT_EQ(sim.PlaceGauge(module, ""), nullptr);
    EXPECT_EQ(sim.PlaceGauge(nullptr, "EngOilTemp2"), nullptr);

    // Before the first update a needle has no displayed angle.
    EXPECT_FALSE(gauge->AngleOf(&gauge->needles[0].element->head).has_value());
    sim.Update();
    EXPECT_TRUE(gauge->AngleOf(&gauge->needles[0].element->head).has_value());
    EXPECT_FALSE(gauge->AngleOf(*gauge->header->rootPointer).has_value()) << "the dial face is no needle";
}

TEST_F(GaugePlacing, BitmapsByResourceNumber) {
    if (!module->HasBitmapTable()) GTEST_SKIP() << "this build of the module carries no bitmap table";
    for (GaugeHeader* header : module->Gauges()) {
        for (const ElementHeader* element : ElementChain(*header)) {
            const std::span<const uint8_t> dib = module->Bitmap(element->bitmapId);
            ASSERT_GE(dib.size(), 40u) << header->name << " bitmap " << element->bitmapId;
            uint32_t headerSize = 0;
            std::memcpy(&headerSize, dib.data(), 4);
            EXPECT_EQ(headerSize, 40u) << "a packed DIB starts with its BITMAPINFOHEADER";
        }
    }
    EXPECT_TRUE(module->Bitmap(0).empty());
    EXPECT_TRUE(module->Bitmap(257).empty());
}

}  // namespace
