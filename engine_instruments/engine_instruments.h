// The engine instruments module tw_hx8: eight round needle gauges (oil
// pressure, oil temperature, oil quantity and vibration of engines 1 and 2)
// with press-to-test on the oil quantity and vibration instruments.
#pragma once

#include <windows.h>

#include "gauge_records.h"

// Bitmap resource numbers. Pressure, temperature and vibration gauges share
// the layout face / shadow / needle / hub / glass at steps of 4.
enum EngineBitmap : uint32_t {
    kBmpOilPressFace = 256,
    kBmpOilPressShadow = 260,
    kBmpOilPressNeedle = 264,
    kBmpOilPressHub = 268,
    kBmpOilPressGlass = 272,
    kBmpOilTempFace = 512,
    kBmpOilTempShadow = 516,
    kBmpOilTempNeedle = 520,
    kBmpOilTempHub = 524,
    kBmpOilTempGlass = 528,
    kBmpOilQtyFace = 1280,
    kBmpOilQtyNeedle = 1284,
    kBmpOilQtyGlass = 1288,
    kBmpVibFace = 1536,
    kBmpVibShadow = 1540,
    kBmpVibNeedle = 1544,
    kBmpVibHub = 1548,
    kBmpVibGlass = 1552,
};

// Image flags as the simulator interprets them.
constexpr uint32_t kImageOpaque = 0x1;
constexpr uint32_t kImageNeedle = 0x83;
constexpr uint32_t kImageOverlay = 0x2003;

// Timer identifiers on the simulator's main window.
constexpr UINT_PTR kOilQtyTestTimer = 1;
constexpr UINT_PTR kVibrationTestTimer = 2;
constexpr UINT kTestTimerMs = 1000;

// Press-to-test state: set while the instrument's test timer is pending.
extern bool oilQtyTestRunning;
extern bool vibrationTestRunning;

void StartOilQtyTest();
void StartVibrationTest();
void CALLBACK OilQtyTestTimerProc(HWND window, UINT message, UINT_PTR id, DWORD time);
void CALLBACK VibrationTestTimerProc(HWND window, UINT message, UINT_PTR id, DWORD time);

// Needle value callbacks, one per gauge.
double FSAPI EngOilPress1Value(NeedleElement* needle);
double FSAPI EngOilPress2Value(NeedleElement* needle);
double FSAPI EngOilTemp1Value(NeedleElement* needle);
double FSAPI EngOilTemp2Value(NeedleElement* needle);
double FSAPI EngOilQty1Value(NeedleElement* needle);
double FSAPI EngOilQty2Value(NeedleElement* needle);
double FSAPI EngVib1Value(NeedleElement* needle);
double FSAPI EngVib2Value(NeedleElement* needle);
