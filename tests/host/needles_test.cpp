// The needle values of the eight gauges (the table shared with the Windows
// tests) and how the host turns the needles.
#include <cctype>
#include <cmath>
#include <ostream>
#include <string>

#include "../cases/needle_cases.h"
#include "hx8_fixture.h"
#include "needle_geometry.h"

// Test names and failure messages show the case, not its bytes.
void PrintTo(const NeedleCase& c, std::ostream* os) { *os << c.gauge << ": " << c.what; }

namespace {

class NeedleCases : public Hx8Test, public ::testing::WithParamInterface<NeedleCase> {};

TEST_P(NeedleCases, NeedleShowsTheExpectedValue) {
    const NeedleCase& c = GetParam();
    for (const NeedleCaseVariable& v : c.variables) {
        if (v.name != nullptr) {
            ASSERT_TRUE(sim.variables().Set(v.name, v.value)) << v.name;
        }
    }
    PlacedGauge* gauge = Place(c.gauge);
    ASSERT_NE(gauge, nullptr);
    sim.Update();
    EXPECT_NEAR(Shown(gauge), c.expected, kNeedleCaseTolerance);
}

std::string CaseName(const ::testing::TestParamInfo<NeedleCase>& info) {
    std::string name = std::string(info.param.gauge) + "_" + info.param.what;
    for (char& ch : name) {
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(Hx8, NeedleCases, ::testing::ValuesIn(kNeedleCases), CaseName);

// How far the needle turned between two updates, along the dial.
double Turned(double fromSweep, double toSweep) { return std::fabs(toSweep - fromSweep); }

using NeedleMotion = Hx8Test;

TEST_F(NeedleMotion, VibrationNeedlesTurnAtMostThirtyDegreesPerSecond) {
    PlacedGauge* vib = Place("EngVib1");
    sim.variables().Set("A:Turb Eng Vibration:1,number", 0);
    sim.Update();
    const NeedleElement& element = *vib->needles.back().element;
    const double start = vib->needles.back().sweep;
    EXPECT_DOUBLE_EQ(start, NeedleSweepForValue(element, 0));

    // From 0 to 5 is a long way round the dial; the needle creeps there.
    sim.variables().Set("A:Turb Eng Vibration:1,number", 5);
    const double target = NeedleSweepForValue(element, 5);
    ASSERT_GT(Turned(start, target), 60.0);
    double previous = start;
    int updates = 0;
    while (std::fabs(vib->needles.back().sweep - target) > 1e-9 && updates < 20 * kUpdatesPerSecond) {
        sim.Update();
        ++updates;
        for (const NeedleState& needle : vib->needles) {
            EXPECT_EQ(needle.value, 5.0);  // the value is there at once; only the needle lags
            EXPECT_NEAR(std::remainder(needle.angle - needle.sweep, 360.0), 0.0, 1e-9);  // angle is sweep folded
            EXPECT_GT(needle.angle, -180.0);
            EXPECT_LE(needle.angle, 180.0);
        }
        EXPECT_LE(Turned(previous, vib->needles.back().sweep), 30.0 / kUpdatesPerSecond + 1e-9);
        previous = vib->needles.back().sweep;
    }
    // It moved along the scale, never through the gap between its ends, and
    // took as long as 30 degrees per second allow.
    EXPECT_NEAR(vib->needles.back().sweep, target, 1e-9);
    EXPECT_EQ(updates, static_cast<int>(std::ceil(Turned(start, target) / (30.0 / kUpdatesPerSecond) - 1e-9)));
    EXPECT_NEAR(vib->needles.back().angle, std::remainder(NeedleAngleForValue(element, 5), 360.0), 1e-9);
}

TEST_F(NeedleMotion, NeedlesWithoutASpeedLimitJumpToTheirValue) {
    struct Case {
        const char* gauge;
        const char* variable;
        double from, to;
    };
    const Case cases[] = {
        {"EngOilPress1", "A:Eng Oil Pressure:1,psi", 0, 100},
        {"EngOilTemp2", "A:General Eng2 Oil Temperature,Celsius", -50, 180},
        {"EngOilQty1", "A:Eng Oil Quantity:1,percent", 0, 100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.gauge);
        PlacedGauge* gauge = Place(c.gauge);
        sim.variables().Set(c.variable, c.from);
        sim.Update();
        sim.variables().Set(c.variable, c.to);
        sim.Update();
        for (const NeedleState& needle : gauge->needles) {
            EXPECT_EQ(needle.element->maxDegreesPerSecond, 0u);
            EXPECT_NEAR(needle.sweep, NeedleSweepForValue(*needle.element, needle.value), 1e-9);
        }
        sim.RemoveGauge(gauge);
    }
}

}  // namespace
