// The engine instruments module's records as the host reads them in place:
// the descriptor, the gauge table, each gauge's own element chain, scale
// table, failure list, mouse rectangles and tooltip.
#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "hx8_fixture.h"
#include "records.h"

namespace {

struct ElementExpect {
    uint32_t kind;
    uint32_t bitmap;
    int32_t x, y;
    int32_t offsetX, offsetY;
    uint32_t flags;
    uint32_t speed;  // needles only
};

struct ScaleExpect {
    double value;
    int32_t x, y;
};

struct GaugeExpect {
    const char* name;
    std::vector<ElementExpect> chain;
    std::vector<ScaleExpect> scale;
    std::string tooltip;
};

std::vector<ElementExpect> DialChain(uint32_t bitmap, uint32_t speed) {
    return {{kStaticImage, bitmap, 0, 0, 0, 0, 0x1, 0},
            {kNeedle, bitmap + 4, 52, 56, 5, 6, 0x83, speed},
            {kNeedle, bitmap + 8, 52, 52, 3, 4, 0x83, speed},
            {kStaticImage, bitmap + 12, 35, 39, 0, 0, 0x2003, 0},
            {kStaticImage, bitmap + 16, 0, 0, 0, 0, 0x2003, 0}};
}

const std::vector<ElementExpect> kQuantityChain = {{kStaticImage, 1280, 0, 0, 0, 0, 0x1, 0},
                                                   {kNeedle, 1284, 52, 52, 16, 7, 0x83, 0},
                                                   {kStaticImage, 1288, 0, 0, 0, 0, 0x2003, 0}};

const std::vector<ScaleExpect> kPressureScale = {{0, 90, 80},  {10, 70, 97}, {20, 43, 100}, {40, 4, 65},
                                                 {60, 19, 17}, {80, 67, 8},  {90, 88, 23},  {100, 98, 48}};
const std::vector<ScaleExpect> kTemperatureScale = {{-50, 94, 72}, {-40, 89, 81}, {0, 58, 100}, {40, 22, 91},
                                                    {80, 3, 54},   {120, 19, 15}, {160, 54, 2}, {180, 75, 8}};
const std::vector<ScaleExpect> kQuantityScale = {{0, 24, 89}, {1, 6, 46},  {2, 34, 9},
                                                 {3, 79, 16}, {4, 97, 59}, {5, 69, 94}};
const std::vector<ScaleExpect> kVibrationScale = {{0, 8, 76},  {1, 4, 35},   {2, 32, 5},
                                                  {3, 74, 6}, {4, 100, 39}, {5, 93, 81}};

const std::vector<GaugeExpect>& Expected() {
    static const std::vector<GaugeExpect> gauges = {
        {"EngOilPress1", DialChain(256, 0), kPressureScale,
         "Engine 1 Oil Pressure (%((A:ENG OIL Pressure:1, psi))%!d!PSI)"},
        {"EngOilPress2", DialChain(256, 0), kPressureScale,
         "Engine 2 Oil Pressure (%((A:ENG OIL Pressure:2, psi))%!d!PSI)"},
        {"EngOilTemp1", DialChain(512, 0), kTemperatureScale,
         "Engine 1 Oil Temperature (%((A:GENERAL ENG1 OIL TEMPERATURE, celsius))%!d!\xB0" "C)"},
        {"EngOilTemp2", DialChain(512, 0), kTemperatureScale,
         "Engine 2 Oil Temperature (%((A:GENERAL ENG2 OIL TEMPERATURE, celsius))%!d!\xB0" "C)"},
        {"EngOilQty1", kQuantityChain, kQuantityScale, "Engine 1 Oil Quantity"},
        {"EngOilQty2", kQuantityChain, kQuantityScale, "Engine 2 Oil Quantity"},
        {"EngVib1", DialChain(1536, 30), kVibrationScale, "Engine 1 Vibration"},
        {"EngVib2", DialChain(1536, 30), kVibrationScale, "Engine 2 Vibration"},
    };
    return gauges;
}

template <typename T, size_t N>
bool AllZero(const T (&fields)[N]) {
    return std::all_of(std::begin(fields), std::end(fields), [](const T& v) { return v == T{}; });
}

using ModuleRecords = Hx8Test;

TEST_F(ModuleRecords, DescriptorAndImportTable) {
    const ImportTableRecord* imports = module->importTable();
    EXPECT_EQ(imports->panelServicesId, 0xFu);
    EXPECT_EQ(imports->panelServices, sim.services()) << "the host writes its table in after loading";
    EXPECT_EQ(imports->endId, 0u);
    EXPECT_EQ(imports->endTable, nullptr);

    const LinkageHead* linkage = module->linkage();
    EXPECT_EQ(linkage->id, 0x13u);
    EXPECT_NE(linkage->moduleStart, nullptr);
    EXPECT_NE(linkage->moduleStop, nullptr);
    EXPECT_EQ(linkage->flags, 0u);
    EXPECT_EQ(linkage->priority, 0u);
    EXPECT_EQ(linkage->version, 0x900u);

    std::vector<std::string> names;
    for (GaugeHeader* gauge : module->Gauges()) names.emplace_back(gauge->name);
    EXPECT_EQ(names, std::vector<std::string>(std::begin(kHx8GaugeNames), std::end(kHx8GaugeNames)));
    GaugeHeader* const* table = linkage->gauges;
    EXPECT_EQ(table[8], nullptr) << "the gauge table ends with a 0 entry";
}

TEST_F(ModuleRecords, GaugeHeaders) {
    const std::vector<GaugeHeader*> gauges = module->Gauges();
    ASSERT_EQ(gauges.size(), 8u);
    const GaugeHeader& first = *gauges[0];
    for (const GaugeHeader* g : gauges) {
        SCOPED_TRACE(g->name);
        EXPECT_EQ(g->version, 0x320u);
        EXPECT_EQ(g->defaultSize, 104u);
        ASSERT_NE(g->rootPointer, nullptr);
        // Every header points to the module's same seven routines.
        EXPECT_NE(g->query, nullptr);
        EXPECT_EQ(g->query, first.query);
        EXPECT_EQ(g->install, first.install);
        EXPECT_EQ(g->initialise, first.initialise);
        EXPECT_EQ(g->update, first.update);
        EXPECT_EQ(g->generate, first.generate);
        EXPECT_EQ(g->draw, first.draw);
        EXPECT_EQ(g->kill, first.kill);
        std::set<const void*> routines = {reinterpret_cast<const void*>(g->query), reinterpret_cast<const void*>(g->install),
                                          reinterpret_cast<const void*>(g->initialise), reinterpret_cast<const void*>(g->update),
                                          reinterpret_cast<const void*>(g->generate), reinterpret_cast<const void*>(g->draw),
                                          reinterpret_cast<const void*>(g->kill)};
        EXPECT_EQ(routines.size(), 7u) << "seven distinct routines";
        EXPECT_EQ(g->zero28, nullptr);
        EXPECT_TRUE(AllZero(g->zero30));
        EXPECT_TRUE(AllZero(g->zero58));
        EXPECT_NE(g->mouseRectangles, nullptr);
        EXPECT_NE(g->callback, nullptr);
        EXPECT_TRUE(module->Contains(g)) << "headers are the module's own static records";
    }
}

TEST_F(ModuleRecords, EachGaugeHasItsOwnChainInDrawingOrder) {
    std::set<const void*> seenScales, seenFailures, seenElements;
    for (const GaugeExpect& expect : Expected()) {
        SCOPED_TRACE(expect.name);
        GaugeHeader* header = module->FindGauge(expect.name);
        ASSERT_NE(header, nullptr);
        const std::vector<ElementHeader*> chain = ElementChain(*header);
        ASSERT_EQ(chain.size(), expect.chain.size());

        const NeedleScalePoint* gaugeScale = nullptr;
        const FailureRecord* gaugeFailures = nullptr;
        for (size_t i = 0; i < chain.size(); ++i) {
            SCOPED_TRACE("element " + std::to_string(i + 1));
            const ElementHeader& e = *chain[i];
            const ElementExpect& x = expect.chain[i];
            EXPECT_TRUE(seenElements.insert(&e).second) << "elements are not shared between gauges";
            EXPECT_EQ(e.kind, x.kind);
            EXPECT_EQ(e.bitmapId, x.bitmap);
            EXPECT_EQ(e.positionX, x.x);
            EXPECT_EQ(e.positionY, x.y);
            EXPECT_EQ(e.offsetX, x.offsetX);
            EXPECT_EQ(e.offsetY, x.offsetY);
            EXPECT_EQ(e.imageFlags, x.flags);
            EXPECT_EQ(e.gauge, header) << "each element points to its own gauge's header";
            EXPECT_TRUE(AllZero(e.zero10));
            EXPECT_EQ(e.zero24, nullptr);
            EXPECT_EQ(e.zero34, 0u);
            EXPECT_EQ(e.zero38, 0u);
            // Every next list holds exactly the following element.
            if (i + 1 < chain.size()) {
                ASSERT_NE(e.nextList, nullptr);
                EXPECT_EQ(e.nextList->elements[0], chain[i + 1]);
                EXPECT_EQ(e.nextList->elements[1], nullptr);
            } else {
                EXPECT_EQ(e.nextList, nullptr);
            }

            if (x.kind == kStaticImage) {
                EXPECT_EQ(e.failures, nullptr);
                EXPECT_TRUE(AllZero(reinterpret_cast<const StaticImageElement&>(e).zeroTail));
                continue;
            }
            const NeedleElement& n = reinterpret_cast<const NeedleElement&>(e);
            EXPECT_EQ(n.maxDegreesPerSecond, x.speed);
            EXPECT_NE(n.valueCallback, nullptr);
            EXPECT_TRUE(AllZero(n.zero3C));
            EXPECT_TRUE(AllZero(n.zero7C));
            EXPECT_TRUE(AllZero(n.zeroE4));
            // The gauge's needles share one scale table and one failure list.
            if (gaugeScale == nullptr) gaugeScale = n.scale;
            if (gaugeFailures == nullptr) gaugeFailures = e.failures;
            EXPECT_EQ(n.scale, gaugeScale);
            EXPECT_EQ(e.failures, gaugeFailures);
            ASSERT_EQ(n.scaleCount, expect.scale.size());
            for (size_t p = 0; p < expect.scale.size(); ++p) {
                EXPECT_EQ(n.scale[p].value, expect.scale[p].value) << "point " << p;
                EXPECT_EQ(n.scale[p].x, expect.scale[p].x) << "point " << p;
                EXPECT_EQ(n.scale[p].y, expect.scale[p].y) << "point " << p;
                EXPECT_EQ(n.scale[p].angle, 0);
                EXPECT_EQ(n.scale[p].zero, 0);
            }
            ASSERT_NE(e.failures, nullptr);
            EXPECT_EQ(e.failures[0].key, 20u);
            EXPECT_EQ(e.failures[0].action, 2u);
            EXPECT_EQ(e.failures[0].zero, 0u);
            EXPECT_EQ(e.failures[1].key, 0u);
            EXPECT_EQ(e.failures[1].action, 0u);
            EXPECT_EQ(e.failures[1].zero, 0u);
        }
        // The engine 1 and 2 gauges have their own copies.
        EXPECT_TRUE(seenScales.insert(gaugeScale).second);
        EXPECT_TRUE(seenFailures.insert(gaugeFailures).second);

        // Both needle elements of a gauge name the gauge's one callback.
        const std::vector<NeedleElement*> needles = NeedleElements(*header);
        for (const NeedleElement* n : needles) EXPECT_EQ(n->valueCallback, needles.front()->valueCallback);
    }
}

TEST_F(ModuleRecords, MouseRectanglesAndTooltipBytes) {
    struct MouseExpect {
        uint32_t kind;
        int32_t x, y, width, height;
    };
    const MouseExpect expectedMouse[] = {{1, 0, 0, 0, 0},   {1, 0, 0, 104, 104}, {4, 0, 0, 0, 0},
                                         {3, 0, 0, 0, 0},   {3, 0, 0, 0, 0},     {0, 0, 0, 0, 0}};
    for (const GaugeExpect& expect : Expected()) {
        SCOPED_TRACE(expect.name);
        const GaugeHeader* header = module->FindGauge(expect.name);
        ASSERT_NE(header, nullptr);
        const MouseRectangle* m = header->mouseRectangles;
        for (size_t i = 0; i < std::size(expectedMouse); ++i) {
            SCOPED_TRACE("mouse record " + std::to_string(i));
            EXPECT_EQ(m[i].kind, expectedMouse[i].kind);
            EXPECT_EQ(m[i].x, expectedMouse[i].x);
            EXPECT_EQ(m[i].y, expectedMouse[i].y);
            EXPECT_EQ(m[i].width, expectedMouse[i].width);
            EXPECT_EQ(m[i].height, expectedMouse[i].height);
            EXPECT_EQ(m[i].cursor, -1);
            EXPECT_EQ(m[i].helpId, 0u);
            EXPECT_EQ(m[i].mouseFlags, 0u);
            EXPECT_EQ(m[i].eventId, 0u);
            EXPECT_EQ(m[i].tooltipArgs, nullptr);
            if (m[i].kind == kMouseTooltip) {
                ASSERT_NE(m[i].tooltip, nullptr);
                EXPECT_EQ(std::string(m[i].tooltip), expect.tooltip) << "exact bytes";
            } else {
                EXPECT_EQ(m[i].tooltip, nullptr);
            }
        }
        EXPECT_EQ(std::string(GaugeTooltip(*header)), expect.tooltip);
    }
    // The degree sign is the single byte 0xB0 right before the C.
    const std::string temp = GaugeTooltip(*module->FindGauge("EngOilTemp1"));
    EXPECT_NE(temp.find("\xB0" "C)"), std::string::npos);
}

TEST_F(ModuleRecords, TooltipsAsTheHostShowsThem) {
    sim.variables().Set("A:Eng Oil Pressure:1,psi", 45.6);
    sim.variables().Set("A:Eng Oil Pressure:2,psi", 72.4);
    sim.variables().Set("A:General Eng1 Oil Temperature,Celsius", -12.5);
    struct Case {
        const char* gauge;
        std::string shown;
    };
    const Case cases[] = {
        {"EngOilPress1", "Engine 1 Oil Pressure (46PSI)"},
        {"EngOilPress2", "Engine 2 Oil Pressure (72PSI)"},
        {"EngOilTemp1", "Engine 1 Oil Temperature (-13\xB0" "C)"},
        {"EngOilTemp2", "Engine 2 Oil Temperature (0\xB0" "C)"},  // not set: the host shows 0
        {"EngOilQty2", "Engine 2 Oil Quantity"},
        {"EngVib1", "Engine 1 Vibration"},
    };
    for (const Case& c : cases) {
        PlacedGauge* gauge = Place(c.gauge);
        ASSERT_NE(gauge, nullptr);
        EXPECT_EQ(sim.Tooltip(*gauge), c.shown) << c.gauge;
    }
}

}  // namespace
