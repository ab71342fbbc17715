// The module's records read from its memory at the 32-bit offsets the
// simulator reads them at, byte by byte, without the module's own structs:
// ImportTable, Linkage and its gauge table, every gauge header, element,
// element list, scale table, failure list and mouse rectangle, and that all of
// them lie in writable, initialised data.
#include <cstring>
#include <set>

#include "hx8_module.h"
#include "pe_image.h"

namespace hx8 {
namespace {

struct ElementSpec {
    uint32_t kind;  // 0 static image, 1 needle
    uint32_t bitmap;
    int32_t x, y, offsetX, offsetY;
    uint32_t flags;
};

struct ScalePoint {
    double value;
    int32_t x, y;
};

struct GaugeSpec {
    const char* name;
    const char* tooltip;
    std::vector<ElementSpec> elements;
    std::vector<ScalePoint> scale;
    uint32_t maxNeedleSpeed;
};

std::vector<ElementSpec> Dial(uint32_t face) {
    return {{0, face, 0, 0, 0, 0, 0x1},
            {1, face + 4, 52, 56, 5, 6, 0x83},
            {1, face + 8, 52, 52, 3, 4, 0x83},
            {0, face + 12, 35, 39, 0, 0, 0x2003},
            {0, face + 16, 0, 0, 0, 0, 0x2003}};
}

const std::vector<ElementSpec> kQuantity = {
    {0, 1280, 0, 0, 0, 0, 0x1}, {1, 1284, 52, 52, 16, 7, 0x83}, {0, 1288, 0, 0, 0, 0, 0x2003}};

const std::vector<ScalePoint> kPressureScale = {{0, 90, 80},  {10, 70, 97}, {20, 43, 100}, {40, 4, 65},
                                                {60, 19, 17}, {80, 67, 8},  {90, 88, 23},  {100, 98, 48}};
const std::vector<ScalePoint> kTemperatureScale = {{-50, 94, 72}, {-40, 89, 81}, {0, 58, 100}, {40, 22, 91},
                                                   {80, 3, 54},   {120, 19, 15}, {160, 54, 2}, {180, 75, 8}};
const std::vector<ScalePoint> kQuantityScale = {{0, 24, 89}, {1, 6, 46},  {2, 34, 9},
                                                {3, 79, 16}, {4, 97, 59}, {5, 69, 94}};
const std::vector<ScalePoint> kVibrationScale = {{0, 8, 76},  {1, 4, 35},   {2, 32, 5},
                                                 {3, 74, 6}, {4, 100, 39}, {5, 93, 81}};

const std::vector<GaugeSpec>& Gauges() {
    static const std::vector<GaugeSpec> gauges = {
        {"EngOilPress1", "Engine 1 Oil Pressure (%((A:ENG OIL Pressure:1, psi))%!d!PSI)", Dial(256), kPressureScale, 0},
        {"EngOilPress2", "Engine 2 Oil Pressure (%((A:ENG OIL Pressure:2, psi))%!d!PSI)", Dial(256), kPressureScale, 0},
        {"EngOilTemp1", "Engine 1 Oil Temperature (%((A:GENERAL ENG1 OIL TEMPERATURE, celsius))%!d!\xB0" "C)",
         Dial(512), kTemperatureScale, 0},
        {"EngOilTemp2", "Engine 2 Oil Temperature (%((A:GENERAL ENG2 OIL TEMPERATURE, celsius))%!d!\xB0" "C)",
         Dial(512), kTemperatureScale, 0},
        {"EngOilQty1", "Engine 1 Oil Quantity", kQuantity, kQuantityScale, 0},
        {"EngOilQty2", "Engine 2 Oil Quantity", kQuantity, kQuantityScale, 0},
        {"EngVib1", "Engine 1 Vibration", Dial(1536), kVibrationScale, 30},
        {"EngVib2", "Engine 2 Vibration", Dial(1536), kVibrationScale, 30},
    };
    return gauges;
}

// True when the bytes from `address + from` up to `address + to` are all zero.
bool ZeroBytes(uint32_t address, uint32_t from, uint32_t to) {
    for (uint32_t offset = from; offset < to; ++offset)
        if (*reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(address + offset)) != 0) return false;
    return true;
}

class Records : public Hx8Test {
protected:
    // Every record address seen, with the size the simulator reads there.
    void Remember(uint32_t address, uint32_t size) { records.push_back({address, size}); }

    void CheckElement(uint32_t header, uint32_t element, const ElementSpec& spec, bool last) {
        EXPECT_EQ(U32(element, 0x00), spec.kind);
        EXPECT_EQ(U32(element, 0x04), spec.bitmap);
        EXPECT_EQ(S32(element, 0x08), spec.x);
        EXPECT_EQ(S32(element, 0x0C), spec.y);
        EXPECT_EQ(U32(element, 0x10), 0u);
        EXPECT_EQ(U32(element, 0x14), 0u);
        EXPECT_EQ(S32(element, 0x18), spec.offsetX);
        EXPECT_EQ(S32(element, 0x1C), spec.offsetY);
        EXPECT_EQ(U32(element, 0x20), header) << "owner";
        EXPECT_EQ(U32(element, 0x24), 0u);
        const uint32_t next = U32(element, 0x28);
        if (last) {
            EXPECT_EQ(next, 0u);
        } else {
            ASSERT_NE(next, 0u);
            EXPECT_EQ(U32(next, 4), 0u) << "a next list holds one element";
            Remember(next, 8);
        }
        EXPECT_EQ(U32(element, 0x30), spec.flags);
        EXPECT_EQ(U32(element, 0x34), 0u);
        EXPECT_EQ(U32(element, 0x38), 0u);
        if (spec.kind == 0) {
            EXPECT_EQ(U32(element, 0x2C), 0u) << "static images have no failure list";
            EXPECT_TRUE(ZeroBytes(element, 0x3C, 96));
            Remember(element, 96);
        } else {
            EXPECT_TRUE(ZeroBytes(element, 0x3C, 0x70));
            EXPECT_TRUE(ZeroBytes(element, 0x7C, 0xE0));
            EXPECT_NE(U32(element, 0xE0), 0u) << "needle value callback";
            EXPECT_TRUE(ZeroBytes(element, 0xE4, 236));
            Remember(element, 236);
        }
    }

    void CheckScale(uint32_t table, const std::vector<ScalePoint>& scale) {
        for (size_t i = 0; i < scale.size(); ++i) {
            const uint32_t point = table + 24 * static_cast<uint32_t>(i);
            SCOPED_TRACE("scale point " + std::to_string(i));
            EXPECT_EQ(S32(point, 0), scale[i].x);
            EXPECT_EQ(S32(point, 4), scale[i].y);
            EXPECT_EQ(F64(point, 8), scale[i].value);
            EXPECT_EQ(U32(point, 16), 0u) << "angle";
            EXPECT_EQ(U32(point, 20), 0u);
        }
        Remember(table, 24 * static_cast<uint32_t>(scale.size()));
    }

    void CheckFailures(uint32_t list) {
        const uint32_t expected[6] = {20, 2, 0, 0, 0, 0};
        for (uint32_t i = 0; i < 6; ++i) EXPECT_EQ(U32(list, 4 * i), expected[i]) << "word " << i;
        Remember(list, 24);
    }

    void CheckMouse(uint32_t list, const char* tooltip) {
        struct Rectangle {
            uint32_t kind;
            int32_t x, y, width, height;
        };
        const Rectangle expected[6] = {{1, 0, 0, 0, 0},   {1, 0, 0, 104, 104}, {4, 0, 0, 0, 0},
                                       {3, 0, 0, 0, 0}, {3, 0, 0, 0, 0},       {0, 0, 0, 0, 0}};
        for (uint32_t i = 0; i < 6; ++i) {
            SCOPED_TRACE("mouse rectangle " + std::to_string(i));
            const uint32_t record = list + 44 * i;
            EXPECT_EQ(U32(record, 0x00), expected[i].kind);
            EXPECT_EQ(S32(record, 0x04), expected[i].x);
            EXPECT_EQ(S32(record, 0x08), expected[i].y);
            EXPECT_EQ(S32(record, 0x0C), expected[i].width);
            EXPECT_EQ(S32(record, 0x10), expected[i].height);
            EXPECT_EQ(S32(record, 0x14), -1) << "cursor";
            EXPECT_EQ(U32(record, 0x18), 0u);
            EXPECT_EQ(U32(record, 0x1C), 0u);
            EXPECT_EQ(U32(record, 0x20), 0u);
            const uint32_t text = U32(record, 0x24);
            if (expected[i].kind == 4) {
                ASSERT_NE(text, 0u);
                EXPECT_STREQ(reinterpret_cast<const char*>(static_cast<uintptr_t>(text)), tooltip);
            } else {
                EXPECT_EQ(text, 0u);
            }
            EXPECT_EQ(U32(record, 0x28), 0u);
        }
        Remember(list, 6 * 44);
    }

    struct Record {
        uint32_t address, size;
    };
    std::vector<Record> records;
};

TEST_F(Records, ImportTableHoldsThePanelServicesEntry) {
    EXPECT_EQ(U32(module.importTable, 0x00), 0xFu);
    EXPECT_EQ(module.panelServicesAtLoad, 0u) << "the module leaves the pointer to the simulator";
    EXPECT_EQ(U32(module.importTable, 0x04), Address(win32host::PanelServicesTable()));
    EXPECT_EQ(U32(module.importTable, 0x08), 0u);
    EXPECT_EQ(U32(module.importTable, 0x0C), 0u);
}

TEST_F(Records, LinkageListsTheEightGaugesInOrder) {
    const uint32_t base = Address(module.handle);
    const uint32_t end = base + pe::NtHeaders(module.handle)->OptionalHeader.SizeOfImage;
    EXPECT_EQ(U32(module.linkage, 0x00), 0x13u);
    for (uint32_t routine : {U32(module.linkage, 0x04), U32(module.linkage, 0x08)}) {
        EXPECT_GE(routine, base) << "module start and stop lie in the module";
        EXPECT_LT(routine, end);
    }
    EXPECT_EQ(U32(module.linkage, 0x0C), 0u);
    EXPECT_EQ(U32(module.linkage, 0x10), 0u);
    EXPECT_EQ(U32(module.linkage, 0x14), 0x900u);
    for (int i = 0; i < kGauges; ++i) {
        ASSERT_NE(GaugeHeaderAt(module, i), 0u) << i;
        EXPECT_EQ(GaugeName(GaugeHeaderAt(module, i)), kGaugeNames[i]);
    }
    EXPECT_EQ(GaugeHeaderAt(module, kGauges), 0u) << "the gauge table ends with 0";
}

TEST_F(Records, EveryGaugeHasItsHeaderElementsScaleFailuresAndMouseList) {
    const uint32_t firstRoutines = GaugeHeaderAt(module, 0) + kHeaderRoutines;
    std::set<uint32_t> scales, failureLists, callbacks;
    for (int g = 0; g < kGauges; ++g) {
        const GaugeSpec& spec = Gauges()[g];
        const uint32_t header = GaugeHeaderAt(module, g);
        SCOPED_TRACE(spec.name);
        ASSERT_EQ(GaugeName(header), spec.name);

        // Header.
        EXPECT_EQ(U32(header, 0x00), 0x320u);
        const uint32_t root = U32(header, kHeaderRoot);
        ASSERT_NE(root, 0u);
        Remember(root, 4);
        for (uint32_t r = 0; r < 7; ++r) {
            EXPECT_NE(U32(header, kHeaderRoutines + 4 * r), 0u);
            EXPECT_EQ(U32(header, kHeaderRoutines + 4 * r), U32(firstRoutines, 4 * r)) << "routine " << r + 1;
        }
        EXPECT_EQ(U32(header, 0x28), 0u);
        EXPECT_EQ(U32(header, 0x2C), 104u) << "default size";
        EXPECT_TRUE(ZeroBytes(header, 0x30, 0x50));
        EXPECT_NE(U32(header, kHeaderCallback), 0u);
        EXPECT_TRUE(ZeroBytes(header, 0x58, 0x100)) << "further header fields";
        Remember(header, 0x58);

        // Element chain, from the root pointer's element.
        const std::vector<uint32_t> chain = ElementChain(header);
        ASSERT_EQ(chain.size(), spec.elements.size());
        std::set<uint32_t> gaugeScales, gaugeFailures, gaugeCallbacks;
        for (size_t e = 0; e < chain.size(); ++e) {
            SCOPED_TRACE("element " + std::to_string(e + 1));
            CheckElement(header, chain[e], spec.elements[e], e + 1 == chain.size());
            if (spec.elements[e].kind != 1) continue;
            EXPECT_EQ(U32(chain[e], 0x74), spec.scale.size()) << "scale points";
            EXPECT_EQ(U32(chain[e], 0x78), spec.maxNeedleSpeed);
            gaugeScales.insert(U32(chain[e], 0x70));
            gaugeFailures.insert(U32(chain[e], 0x2C));
            gaugeCallbacks.insert(U32(chain[e], 0xE0));
        }
        // The gauge's needles share one scale table, one failure list and one callback.
        ASSERT_EQ(gaugeScales.size(), 1u);
        ASSERT_EQ(gaugeFailures.size(), 1u);
        ASSERT_EQ(gaugeCallbacks.size(), 1u);
        CheckScale(*gaugeScales.begin(), spec.scale);
        CheckFailures(*gaugeFailures.begin());
        scales.insert(*gaugeScales.begin());
        failureLists.insert(*gaugeFailures.begin());
        callbacks.insert(*gaugeCallbacks.begin());

        CheckMouse(U32(header, kHeaderMouse), spec.tooltip);
    }
    // Each gauge has its own copies and its own needle callback.
    EXPECT_EQ(scales.size(), 8u);
    EXPECT_EQ(failureLists.size(), 8u);
    EXPECT_EQ(callbacks.size(), 8u);

    // Everything the simulator reads or writes in place lies in writable,
    // initialised data of the module's own image.
    Remember(module.importTable, 16);
    Remember(module.linkage, 0x18 + 9 * 4);
    for (const Record& record : records) {
        SCOPED_TRACE("record at RVA 0x" + [&] {
            char text[16];
            std::snprintf(text, sizeof text, "%x", pe::Rva(module.handle, record.address));
            return std::string(text);
        }());
        MEMORY_BASIC_INFORMATION memory{};
        ASSERT_NE(VirtualQuery(reinterpret_cast<const void*>(static_cast<uintptr_t>(record.address)), &memory,
                               sizeof memory),
                  0u);
        const DWORD writable = PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
        EXPECT_NE(memory.Protect & writable, 0u) << "protection 0x" << std::hex << memory.Protect;

        const IMAGE_SECTION_HEADER* section = pe::SectionOf(module.handle, record.address);
        ASSERT_NE(section, nullptr);
        EXPECT_NE(section->Characteristics & IMAGE_SCN_MEM_WRITE, 0u) << pe::SectionName(section);
        EXPECT_NE(section->Characteristics & IMAGE_SCN_CNT_INITIALIZED_DATA, 0u) << pe::SectionName(section);
        // Initialised from the file, not zero-filled at load.
        EXPECT_LE(pe::Rva(module.handle, record.address) + record.size - section->VirtualAddress,
                  section->SizeOfRawData)
            << pe::SectionName(section);
    }
}

}  // namespace
}  // namespace hx8
