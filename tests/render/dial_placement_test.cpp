// The rendering check that catches misplaced art. For every numbered value
// of each dial, the gauge is drawn by the renderer with its needles at that
// value, and the pixels must show
//   - the needle pointing at the value's scale point (its direction from the
//     turning point, measured on the drawn needle), and
//   - the numeral drawn on the face along the radial line of that scale
//     point, inside the tick marks.
// The scale points come from the module's own records, so face, needle art
// and records are checked against each other.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "needle_geometry.h"
#include "records.h"
#include "render.h"
#include "test_support.h"

namespace {

struct Instrument {
    const char* gauges[2];          // engine 1 and engine 2: identical art
    std::vector<double> numerals;   // values printed on the face
};

const Instrument kInstruments[] = {
    {{"EngOilPress1", "EngOilPress2"}, {0, 20, 40, 60, 80, 100}},
    {{"EngOilTemp1", "EngOilTemp2"}, {-40, 0, 40, 80, 120}},
    {{"EngOilQty1", "EngOilQty2"}, {0, 1, 2, 3, 4}},
    {{"EngVib1", "EngVib2"}, {0, 1, 2, 3, 4, 5}},
};

// Tolerances: the needle is a few pixels wide and 40 long; numerals sit
// about 30 pixels out, where one pixel is about two degrees.
constexpr double kNeedleToleranceDegrees = 3.0;
constexpr double kNumeralOffLinePixels = 1.5;
// Where the measurements look, in pixels from the turning point: beyond the
// hub (and the quantity needle's counterweight), and for numerals inside the
// tick marks but outside the labels in the middle.
constexpr double kNeedleFrom = 14, kNeedleTo = 38;
constexpr double kNumeralFrom = 23, kNumeralTo = 36;
constexpr double kNumeralCorridor = 5;

double Luma(const uint8_t* p) { return 0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2]; }

double AngleDifference(double a, double b) { return std::fabs(std::remainder(a - b, 360.0)); }

const NeedleScalePoint& PointFor(const NeedleElement& needle, double value) {
    for (uint32_t i = 0; i < needle.scaleCount; ++i) {
        if (needle.scale[i].value == value) return needle.scale[i];
    }
    throw std::runtime_error("no scale point for " + std::to_string(value));
}

RenderedGauge Draw(const GaugeHeader& gauge, std::optional<double> value) {
    return RenderGauge(
        gauge, [](uint32_t id) { return Hx8().Bitmap(id); },
        [&](const ElementHeader* e) -> std::optional<double> {
            if (!value) return std::nullopt;
            return NeedleAngleForValue(*reinterpret_cast<const NeedleElement*>(e), *value);
        });
}

// Direction of the drawn needle: the mean direction of the pixels the needle
// made brighter (its shadow only darkens), away from the hub.
struct Measured {
    double direction = 0;
    int pixels = 0;
    double reach = 0;
};

Measured MeasureNeedle(const RenderedGauge& with, const RenderedGauge& without, double cx, double cy) {
    Measured m;
    double sx = 0, sy = 0;
    for (int y = 0; y < with.height; ++y) {
        for (int x = 0; x < with.width; ++x) {
            const double dx = x + 0.5 - cx, dy = y + 0.5 - cy, r = std::hypot(dx, dy);
            const double brighter = Luma(with.At(x, y)) - Luma(without.At(x, y));
            if (brighter < 60) continue;
            m.reach = std::max(m.reach, r);
            if (r < kNeedleFrom || r > kNeedleTo) continue;
            sx += dx / r * brighter, sy += dy / r * brighter;
            ++m.pixels;
        }
    }
    m.direction = std::atan2(sy, sx) * 180 / M_PI;
    return m;
}

// Light (white-ish, not band-coloured) face pixels in a corridor along the
// radial line towards (px, py): how many lie on the line, and how far off
// the line their centroid lies.
struct NumeralInk {
    int onLine = 0;
    int inCorridor = 0;
    double centroidOffLine = 0;
};

NumeralInk MeasureNumeral(const DecodedBitmap& face, double cx, double cy, double px, double py) {
    const double len = std::hypot(px - cx, py - cy), ux = (px - cx) / len, uy = (py - cy) / len;
    NumeralInk ink;
    double sumAcross = 0;
    for (int y = 0; y < face.height; ++y) {
        for (int x = 0; x < face.width; ++x) {
            const uint8_t* p = &face.rgba[(static_cast<size_t>(y) * face.width + x) * 4];
            if (std::min({p[0], p[1], p[2]}) < 150) continue;
            const double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
            const double along = dx * ux + dy * uy, across = dx * -uy + dy * ux;
            if (along < kNumeralFrom || along > kNumeralTo || std::fabs(across) > kNumeralCorridor) continue;
            ++ink.inCorridor;
            sumAcross += across;
            if (std::fabs(across) <= 1.5) ++ink.onLine;
        }
    }
    if (ink.inCorridor > 0) ink.centroidOffLine = sumAcross / ink.inCorridor;
    return ink;
}

void PrintTo(const Instrument& instrument, std::ostream* os) { *os << instrument.gauges[0]; }

class DialPlacement : public testing::TestWithParam<Instrument> {};

TEST_P(DialPlacement, NeedleAndNumeralMeetAtEveryNumberedScalePoint) {
    const Instrument& instrument = GetParam();
    for (const char* name : instrument.gauges) {
        SCOPED_TRACE(name);
        const GaugeHeader* gauge = Hx8().FindGauge(name);
        ASSERT_NE(gauge, nullptr);
        const std::vector<ElementHeader*> chain = ElementChain(*gauge);
        const std::vector<NeedleElement*> needles = NeedleElements(*gauge);
        ASSERT_FALSE(chain.empty());
        ASSERT_FALSE(needles.empty());
        const NeedleElement& needle = *needles.back();  // the needle itself; a shadow comes first
        const double cx = needle.head.positionX, cy = needle.head.positionY;

        const std::optional<DecodedBitmap> face = DecodeDib(Hx8().Bitmap(chain.front()->bitmapId));
        ASSERT_TRUE(face);
        const RenderedGauge bare = Draw(*gauge, std::nullopt);
        ASSERT_TRUE(bare.problems.empty()) << bare.problems.front();

        for (double value : instrument.numerals) {
            SCOPED_TRACE("value " + std::to_string(value));
            const NeedleScalePoint& point = PointFor(needle, value);
            const double expected = DirectionDegrees(cx, cy, point.x, point.y);

            const Measured m = MeasureNeedle(Draw(*gauge, value), bare, cx, cy);
            EXPECT_GE(m.pixels, 20) << "too little of the needle drawn";
            EXPECT_GE(m.reach, 36) << "the needle reaches out to the numerals";
            EXPECT_LE(AngleDifference(m.direction, expected), kNeedleToleranceDegrees)
                << "needle drawn towards " << m.direction << " degrees, scale point at " << expected;

            const NumeralInk ink = MeasureNumeral(*face, cx, cy, point.x, point.y);
            EXPECT_GE(ink.inCorridor, 8) << "no numeral along the radial line of the scale point";
            EXPECT_GE(ink.onLine, 2) << "the numeral's ink does not cross the radial line";
            EXPECT_LE(std::fabs(ink.centroidOffLine), kNumeralOffLinePixels)
                << "numeral drawn " << ink.centroidOffLine << " pixels beside the radial line";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Hx8, DialPlacement, testing::ValuesIn(kInstruments),
                         [](const auto& info) { return std::string(info.param.gauges[0]).substr(0, 10); });

// The check itself must see misplaced art: the same face read against the
// scale of another instrument fails it.
TEST(DialPlacementCheck, FindsNumeralsMissingFromAnotherInstrumentsFace) {
    const GaugeHeader* press = Hx8().FindGauge("EngOilPress1");
    const GaugeHeader* temp = Hx8().FindGauge("EngOilTemp1");
    const std::optional<DecodedBitmap> pressFace = DecodeDib(Hx8().Bitmap(ElementChain(*press).front()->bitmapId));
    ASSERT_TRUE(pressFace);
    const NeedleElement& tempNeedle = *NeedleElements(*temp).back();
    int misses = 0;
    for (double value : {-40.0, 0.0, 40.0, 80.0, 120.0}) {
        const NeedleScalePoint& p = PointFor(tempNeedle, value);
        const NumeralInk ink = MeasureNumeral(*pressFace, 52, 52, p.x, p.y);
        misses += ink.inCorridor < 8 || ink.onLine < 2 || std::fabs(ink.centroidOffLine) > kNumeralOffLinePixels;
    }
    EXPECT_GE(misses, 3);
}

}  // namespace
