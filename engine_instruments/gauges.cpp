// The module's records as the simulator reads them: ImportTable, Linkage, and
// for each of the eight gauges its header, element chain, scale table,
// failure list, mouse rectangles and tooltip. Everything here is static,
// initialised and writable: the simulator writes into ImportTable and works
// with the other records in place.
#include "engine_instruments.h"
#include "standard_routines.h"

namespace {

// Every needle is dropped on the simulator's failure 20 (action 2).
constexpr FailureRecord kNeedleFailures[2] = {{20, 2, 0}, {0, 0, 0}};

constexpr NeedleScalePoint Point(double value, int32_t x, int32_t y) { return {x, y, value, 0, 0}; }

constexpr NeedleScalePoint kOilPressScale[8] = {
    Point(0, 90, 80),  Point(10, 70, 97), Point(20, 43, 100), Point(40, 4, 65),
    Point(60, 19, 17), Point(80, 67, 8),  Point(90, 88, 23),  Point(100, 98, 48)};
constexpr NeedleScalePoint kOilTempScale[8] = {
    Point(-50, 94, 72), Point(-40, 89, 81), Point(0, 58, 100),  Point(40, 22, 91),
    Point(80, 3, 54),   Point(120, 19, 15), Point(160, 54, 2), Point(180, 75, 8)};
constexpr NeedleScalePoint kOilQtyScale[6] = {Point(0, 24, 89), Point(1, 6, 46),  Point(2, 34, 9),
                                              Point(3, 79, 16), Point(4, 97, 59), Point(5, 69, 94)};
constexpr NeedleScalePoint kVibScale[6] = {Point(0, 8, 76),  Point(1, 4, 35),   Point(2, 32, 5),
                                           Point(3, 74, 6), Point(4, 100, 39), Point(5, 93, 81)};

constexpr ElementHeader Static(uint32_t bitmap, int32_t x, int32_t y, uint32_t flags, GaugeHeader* gauge,
                               ElementList* next) {
    return {kStaticImage, bitmap, x, y, {0, 0}, 0, 0, gauge, nullptr, next, nullptr, flags, 0, 0};
}

constexpr ElementHeader Needle(uint32_t bitmap, int32_t x, int32_t y, int32_t offsetX, int32_t offsetY,
                               GaugeHeader* gauge, ElementList* next, FailureRecord* failures) {
    return {kNeedle, bitmap, x, y, {0, 0}, offsetX, offsetY, gauge, nullptr, next, failures, kImageNeedle, 0, 0};
}

constexpr MouseRectangle Mouse(uint32_t kind, int32_t width, int32_t height, const char* tooltip) {
    return {kind, 0, 0, width, height, -1, 0, 0, 0, tooltip, nullptr};
}

void FSAPI EngineGaugeCallback(GaugeHeader*, int32_t, uint32_t) {}

template <std::size_t N>
struct Scale {
    NeedleScalePoint points[N];
};

template <std::size_t N>
constexpr Scale<N> CopyOf(const NeedleScalePoint (&points)[N]) {
    Scale<N> copy{};
    for (std::size_t i = 0; i < N; ++i) copy.points[i] = points[i];
    return copy;
}

constexpr GaugeHeader Header(const char* name, ElementHeader** root, MouseRectangle* mouse) {
    return {kGaugeHeaderVersion, name, root, STANDARD_GAUGE_ROUTINES, nullptr, 104, {}, mouse, EngineGaugeCallback, {}};
}

// Pressure, temperature and vibration gauges: face, needle shadow, needle,
// hub cap, glass. Each gauge has its own copy of every record.
template <std::size_t ScalePoints>
struct DialGauge {
    GaugeHeader header;
    ElementHeader* root;
    StaticImageElement face;
    NeedleElement shadow;
    NeedleElement needle;
    StaticImageElement hub;
    StaticImageElement glass;
    ElementList afterFace, afterShadow, afterNeedle, afterHub;
    FailureRecord failures[2];
    Scale<ScalePoints> scale;
    MouseRectangle mouse[6];
};

// Oil quantity gauges: face, needle with its own hub, glass.
struct QuantityGauge {
    GaugeHeader header;
    ElementHeader* root;
    StaticImageElement face;
    NeedleElement needle;
    StaticImageElement glass;
    ElementList afterFace, afterNeedle;
    FailureRecord failures[2];
    Scale<6> scale;
    MouseRectangle mouse[6];
};

// The mouse list of every gauge: an empty region, the whole gauge with its
// tooltip, both regions closed. No clicks are handled.
#define GAUGE_MOUSE(tooltip)                                                           \
    {Mouse(kMouseRegionOpen, 0, 0, nullptr), Mouse(kMouseRegionOpen, 104, 104, nullptr), \
     Mouse(kMouseTooltip, 0, 0, tooltip), Mouse(kMouseRegionClose, 0, 0, nullptr),       \
     Mouse(kMouseRegionClose, 0, 0, nullptr), Mouse(kMouseEnd, 0, 0, nullptr)}

#define NEEDLE_TAIL(g, callback, speed) \
    {}, g.scale.points, sizeof g.scale.points / sizeof g.scale.points[0], speed, {}, callback, {}

#define DIAL_GAUGE(g, name, tooltip, bmp, scalePoints, callback, speed)                                     \
    DialGauge<sizeof scalePoints / sizeof scalePoints[0]> g = {                                             \
        Header(name, &g.root, g.mouse),                                                                     \
        &g.face.head,                                                                                       \
        {Static(bmp, 0, 0, kImageOpaque, &g.header, &g.afterFace), {}},                                     \
        {Needle(bmp + 4, 52, 56, 5, 6, &g.header, &g.afterShadow, g.failures), NEEDLE_TAIL(g, callback, speed)}, \
        {Needle(bmp + 8, 52, 52, 3, 4, &g.header, &g.afterNeedle, g.failures), NEEDLE_TAIL(g, callback, speed)}, \
        {Static(bmp + 12, 35, 39, kImageOverlay, &g.header, &g.afterHub), {}},                              \
        {Static(bmp + 16, 0, 0, kImageOverlay, &g.header, nullptr), {}},                                    \
        {{&g.shadow.head, nullptr}},                                                                        \
        {{&g.needle.head, nullptr}},                                                                        \
        {{&g.hub.head, nullptr}},                                                                           \
        {{&g.glass.head, nullptr}},                                                                         \
        {kNeedleFailures[0], kNeedleFailures[1]},                                                           \
        CopyOf(scalePoints),                                                                                \
        GAUGE_MOUSE(tooltip)}

#define QUANTITY_GAUGE(g, name, tooltip, callback)                                                            \
    QuantityGauge g = {                                                                                       \
        Header(name, &g.root, g.mouse),                                                                       \
        &g.face.head,                                                                                         \
        {Static(kBmpOilQtyFace, 0, 0, kImageOpaque, &g.header, &g.afterFace), {}},                            \
        {Needle(kBmpOilQtyNeedle, 52, 52, 16, 7, &g.header, &g.afterNeedle, g.failures), NEEDLE_TAIL(g, callback, 0)}, \
        {Static(kBmpOilQtyGlass, 0, 0, kImageOverlay, &g.header, nullptr), {}},                               \
        {{&g.needle.head, nullptr}},                                                                          \
        {{&g.glass.head, nullptr}},                                                                           \
        {kNeedleFailures[0], kNeedleFailures[1]},                                                             \
        CopyOf(kOilQtyScale),                                                                                 \
        GAUGE_MOUSE(tooltip)}

// Names and tooltips are writable character arrays like the records that
// point to them. Tooltips are code page 1252 text; 0xB0 is the degree sign.
char nameOilPress1[] = "EngOilPress1";
char nameOilPress2[] = "EngOilPress2";
char nameOilTemp1[] = "EngOilTemp1";
char nameOilTemp2[] = "EngOilTemp2";
char nameOilQty1[] = "EngOilQty1";
char nameOilQty2[] = "EngOilQty2";
char nameVib1[] = "EngVib1";
char nameVib2[] = "EngVib2";

char tipOilPress1[] = "Engine 1 Oil Pressure (%((A:ENG OIL Pressure:1, psi))%!d!PSI)";
char tipOilPress2[] = "Engine 2 Oil Pressure (%((A:ENG OIL Pressure:2, psi))%!d!PSI)";
char tipOilTemp1[] = "Engine 1 Oil Temperature (%((A:GENERAL ENG1 OIL TEMPERATURE, celsius))%!d!\xB0" "C)";
char tipOilTemp2[] = "Engine 2 Oil Temperature (%((A:GENERAL ENG2 OIL TEMPERATURE, celsius))%!d!\xB0" "C)";
char tipOilQty1[] = "Engine 1 Oil Quantity";
char tipOilQty2[] = "Engine 2 Oil Quantity";
char tipVib1[] = "Engine 1 Vibration";
char tipVib2[] = "Engine 2 Vibration";

DIAL_GAUGE(oilPress1, nameOilPress1, tipOilPress1, kBmpOilPressFace, kOilPressScale, EngOilPress1Value, 0);
DIAL_GAUGE(oilPress2, nameOilPress2, tipOilPress2, kBmpOilPressFace, kOilPressScale, EngOilPress2Value, 0);
DIAL_GAUGE(oilTemp1, nameOilTemp1, tipOilTemp1, kBmpOilTempFace, kOilTempScale, EngOilTemp1Value, 0);
DIAL_GAUGE(oilTemp2, nameOilTemp2, tipOilTemp2, kBmpOilTempFace, kOilTempScale, EngOilTemp2Value, 0);
QUANTITY_GAUGE(oilQty1, nameOilQty1, tipOilQty1, EngOilQty1Value);
QUANTITY_GAUGE(oilQty2, nameOilQty2, tipOilQty2, EngOilQty2Value);
DIAL_GAUGE(vib1, nameVib1, tipVib1, kBmpVibFace, kVibScale, EngVib1Value, 30);
DIAL_GAUGE(vib2, nameVib2, tipVib2, kBmpVibFace, kVibScale, EngVib2Value, 30);

void FSAPI ModuleStart() {}
void FSAPI ModuleStop() {}

}  // namespace

extern "C" {

GAUGE_EXPORT ImportTableRecord ImportTable = {kPanelServicesId, nullptr, 0, nullptr};

GAUGE_EXPORT LinkageRecord<8> Linkage = {
    kLinkageId,
    ModuleStart,
    ModuleStop,
    0,
    0,
    kLinkageVersion,
    {&oilPress1.header, &oilPress2.header, &oilTemp1.header, &oilTemp2.header, &oilQty1.header,
     &oilQty2.header, &vib1.header, &vib2.header, nullptr}};

}  // extern "C"

GaugeHeader** const moduleGaugeTable = Linkage.gauges;
