// The records the simulator reads in place from every gauge module.
//
// The simulator's gauge interface fixes their layout for 32-bit Windows:
// little-endian, 32-bit integers and pointers, 64-bit doubles. Natively
// (Linux x86_64) the same field order is kept with pointer-width pointers;
// the exact 32-bit offsets are asserted in the Windows build at the end of
// this file.
//
// All records are defined by the modules as static, initialised, writable
// data: the simulator writes the panel-services address into ImportTable
// and works with the header and element records in place.
#pragma once

#include <cstddef>
#include <cstdint>

// Calling convention of everything the simulator calls in a module, and of
// the panel-services slots the module calls in the simulator.
#if defined(_WIN32)
#define FSAPI __stdcall
#define GAUGE_EXPORT __declspec(dllexport)
#else
#define FSAPI
#define GAUGE_EXPORT __attribute__((visibility("default")))
#endif

struct GaugeHeader;
struct ElementHeader;
struct NeedleElement;

// Panel-services slots, called by the standard routines and by variable access.
using ElementListFn = void(FSAPI*)(ElementHeader* firstElement);
using ElementListValueFn = void(FSAPI*)(ElementHeader* firstElement, uint32_t value);
using ExecuteCalculatorCodeFn = int32_t(FSAPI*)(const char* code, double* doubleResult,
                                                int32_t* intResult, const char** textResult);

// Routines the simulator calls in the module.
using ModuleRoutine = void(FSAPI*)();
using StandardRoutine = void(FSAPI*)();
using StandardValueRoutine = void(FSAPI*)(uint32_t value);
using GaugeCallback = void(FSAPI*)(GaugeHeader* header, int32_t serviceCode, uint32_t extra);
using NeedleValueCallback = double(FSAPI*)(NeedleElement* needle);

// The simulator's table of 32-bit function pointers (slot = byte offset / 4
// on Windows). The modules call only slots 24 to 29, 31 and 69.
struct PanelServices {
    void* slots0to23[24];
    ElementListFn elementListQuery;           // 24
    ElementListValueFn elementListInstall;    // 25
    ElementListFn elementListInitialise;      // 26
    ElementListFn elementListUpdate;          // 27
    ElementListValueFn elementListGenerate;   // 28
    ElementListFn elementListDraw;            // 29
    void* slot30;                             // 30: not called
    ElementListFn elementListKill;            // 31
    void* slots32to68[37];
    ExecuteCalculatorCodeFn executeCalculatorCode;  // 69
    void* slots70to79[10];
};

constexpr uint32_t kPanelServicesId = 0xF;
constexpr uint32_t kLinkageId = 0x13;
constexpr uint32_t kLinkageVersion = 0x900;
constexpr uint32_t kGaugeHeaderVersion = 0x320;

// Exported as ImportTable (16 bytes on Windows).
struct ImportTableRecord {
    uint32_t panelServicesId;       // 0xF
    PanelServices* panelServices;   // written by the simulator after loading
    uint32_t endId;                 // 0
    void* endTable;                 // 0
};

// Exported as Linkage. The gauge table is a zero-terminated array of header
// addresses; a module declares its own record with room for its gauges.
template <std::size_t N>
struct LinkageRecord {
    uint32_t id;                 // 0x13
    ModuleRoutine moduleStart;
    ModuleRoutine moduleStop;
    uint32_t flags;              // 0
    uint32_t priority;           // 0
    uint32_t version;            // 0x900
    GaugeHeader* gauges[N + 1];  // N headers, then 0
};

// The part of Linkage the frame itself reads: everything up to the first
// entry of the gauge table.
using LinkageHead = LinkageRecord<0>;

enum ElementKind : uint32_t { kStaticImage = 0, kNeedle = 1 };

// An ElementList: element addresses ending with a 0 entry. Every next list of
// this system holds exactly one element.
struct ElementList {
    ElementHeader* elements[2];
};

struct FailureRecord {
    uint32_t key;     // 0 ends the list
    uint32_t action;
    uint32_t zero;
};

struct NeedleScalePoint {
    int32_t x;
    int32_t y;
    double value;
    int32_t angle;  // 0
    int32_t zero;
};

// The 60-byte head every element starts with.
struct ElementHeader {
    uint32_t kind;
    uint32_t bitmapId;
    int32_t positionX, positionY;   // static image: top-left; needle: turning point on the gauge
    int32_t zero10[2];
    int32_t offsetX, offsetY;       // needle: the point of its bitmap on the turning point
    GaugeHeader* gauge;
    void* zero24;
    ElementList* nextList;
    FailureRecord* failures;
    uint32_t imageFlags;
    uint32_t zero34;
    uint32_t zero38;
};

struct StaticImageElement {
    ElementHeader head;
    uint8_t zeroTail[36];  // to 96 bytes on Windows
};

struct NeedleElement {
    ElementHeader head;
    uint8_t zero3C[52];
    NeedleScalePoint* scale;      // +0x70
    uint32_t scaleCount;          // +0x74
    uint32_t maxDegreesPerSecond; // +0x78; 0 means no limit
    uint8_t zero7C[100];
    NeedleValueCallback valueCallback;  // +0xE0
    uint8_t zeroE4[8];
};

enum MouseRectangleKind : uint32_t {
    kMouseEnd = 0,
    kMouseRegionOpen = 1,
    kMouseRegionClose = 3,
    kMouseTooltip = 4,
};

struct MouseRectangle {
    uint32_t kind;
    int32_t x, y, width, height;
    int32_t cursor;        // -1: none
    uint32_t helpId;
    uint32_t mouseFlags;
    uint32_t eventId;
    const char* tooltip;   // kind 4: the tooltip text; otherwise 0 (no mouse routine)
    void* tooltipArgs;     // 0
};

struct GaugeHeader {
    uint32_t version;                  // 0x320
    const char* name;
    ElementHeader** rootPointer;       // address of the static root pointer
    StandardRoutine query;             // +0x0C
    StandardValueRoutine install;
    StandardRoutine initialise;
    StandardRoutine update;
    StandardValueRoutine generate;
    StandardRoutine draw;
    StandardRoutine kill;              // +0x24
    void* zero28;
    uint32_t defaultSize;              // +0x2C
    uint32_t zero30[8];
    MouseRectangle* mouseRectangles;   // +0x50
    GaugeCallback callback;            // +0x54
    // The simulator's own header is longer than what the module fills in; the
    // rest stays zero, with generous room so that nothing the simulator keeps
    // there can reach the next record.
    uint32_t zero58[(0x200 - 0x58) / 4];
};

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(void*) == 4, "gauge modules are 32-bit");
static_assert(sizeof(ImportTableRecord) == 16);
static_assert(offsetof(ImportTableRecord, panelServices) == 0x04);
static_assert(offsetof(ImportTableRecord, endId) == 0x08);
static_assert(offsetof(ImportTableRecord, endTable) == 0x0C);

static_assert(offsetof(PanelServices, elementListQuery) == 24 * 4);
static_assert(offsetof(PanelServices, elementListKill) == 31 * 4);
static_assert(offsetof(PanelServices, executeCalculatorCode) == 69 * 4);

static_assert(offsetof(LinkageHead, moduleStart) == 0x04);
static_assert(offsetof(LinkageHead, moduleStop) == 0x08);
static_assert(offsetof(LinkageHead, flags) == 0x0C);
static_assert(offsetof(LinkageHead, priority) == 0x10);
static_assert(offsetof(LinkageHead, version) == 0x14);
static_assert(offsetof(LinkageHead, gauges) == 0x18);
static_assert(offsetof(LinkageRecord<8>, gauges) == 0x18);
static_assert(sizeof(LinkageRecord<8>) == 0x18 + 9 * 4);

static_assert(offsetof(GaugeHeader, name) == 0x04);
static_assert(offsetof(GaugeHeader, rootPointer) == 0x08);
static_assert(offsetof(GaugeHeader, query) == 0x0C);
static_assert(offsetof(GaugeHeader, install) == 0x10);
static_assert(offsetof(GaugeHeader, initialise) == 0x14);
static_assert(offsetof(GaugeHeader, update) == 0x18);
static_assert(offsetof(GaugeHeader, generate) == 0x1C);
static_assert(offsetof(GaugeHeader, draw) == 0x20);
static_assert(offsetof(GaugeHeader, kill) == 0x24);
static_assert(offsetof(GaugeHeader, zero28) == 0x28);
static_assert(offsetof(GaugeHeader, defaultSize) == 0x2C);
static_assert(offsetof(GaugeHeader, zero30) == 0x30);
static_assert(offsetof(GaugeHeader, mouseRectangles) == 0x50);
static_assert(offsetof(GaugeHeader, callback) == 0x54);
static_assert(offsetof(GaugeHeader, zero58) == 0x58);

static_assert(sizeof(ElementHeader) == 60);
static_assert(offsetof(ElementHeader, bitmapId) == 0x04);
static_assert(offsetof(ElementHeader, positionX) == 0x08);
static_assert(offsetof(ElementHeader, zero10) == 0x10);
static_assert(offsetof(ElementHeader, offsetX) == 0x18);
static_assert(offsetof(ElementHeader, gauge) == 0x20);
static_assert(offsetof(ElementHeader, zero24) == 0x24);
static_assert(offsetof(ElementHeader, nextList) == 0x28);
static_assert(offsetof(ElementHeader, failures) == 0x2C);
static_assert(offsetof(ElementHeader, imageFlags) == 0x30);
static_assert(offsetof(ElementHeader, zero34) == 0x34);
static_assert(offsetof(ElementHeader, zero38) == 0x38);

static_assert(sizeof(StaticImageElement) == 96);
static_assert(sizeof(NeedleElement) == 236);
static_assert(offsetof(NeedleElement, scale) == 0x70);
static_assert(offsetof(NeedleElement, scaleCount) == 0x74);
static_assert(offsetof(NeedleElement, maxDegreesPerSecond) == 0x78);
static_assert(offsetof(NeedleElement, valueCallback) == 0xE0);

static_assert(sizeof(NeedleScalePoint) == 24);
static_assert(offsetof(NeedleScalePoint, value) == 8);
static_assert(offsetof(NeedleScalePoint, angle) == 16);
static_assert(sizeof(FailureRecord) == 12);
static_assert(sizeof(ElementList) == 8);

static_assert(sizeof(MouseRectangle) == 44);
static_assert(offsetof(MouseRectangle, x) == 0x04);
static_assert(offsetof(MouseRectangle, cursor) == 0x14);
static_assert(offsetof(MouseRectangle, helpId) == 0x18);
static_assert(offsetof(MouseRectangle, mouseFlags) == 0x1C);
static_assert(offsetof(MouseRectangle, eventId) == 0x20);
static_assert(offsetof(MouseRectangle, tooltip) == 0x24);
static_assert(offsetof(MouseRectangle, tooltipArgs) == 0x28);
#endif
