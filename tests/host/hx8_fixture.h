// The engine instruments module loaded into the substitute simulator.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "sim.h"

inline constexpr const char* kHx8Path = TW_HX8_PATH;

inline constexpr const char* kHx8GaugeNames[] = {"EngOilPress1", "EngOilPress2", "EngOilTemp1", "EngOilTemp2",
                                                 "EngOilQty1",   "EngOilQty2",   "EngVib1",     "EngVib2"};

class Hx8Test : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        module = sim.LoadModule(kHx8Path, &error);
        ASSERT_NE(module, nullptr) << error;
    }

    PlacedGauge* Place(const char* name) {
        PlacedGauge* gauge = sim.PlaceGauge(module, name);
        EXPECT_NE(gauge, nullptr) << name;
        return gauge;
    }

    // The value the gauge's needles got on the last update; every needle
    // element of a gauge shows the same value.
    static double Shown(const PlacedGauge* gauge) {
        EXPECT_FALSE(gauge->needles.empty());
        for (const NeedleState& needle : gauge->needles) {
            EXPECT_TRUE(needle.shown);
            EXPECT_EQ(needle.value, gauge->needles.front().value) << gauge->name;
        }
        return gauge->needles.front().value;
    }

    Sim sim;
    LoadedModule* module = nullptr;
};
