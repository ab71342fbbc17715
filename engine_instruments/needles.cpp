// Needle value callbacks: the simulator calls them on every update of the
// gauge and turns the needle to the scale point of the value returned.
#include "engine_instruments.h"
#include "var_access.h"

namespace {

constexpr double kOilQtyTestValue = 4.75;
constexpr double kVibrationTestValue = 5.0;

// The dial reads gallons: a full tank (100 percent) stands at 3.75. The value
// is not limited, so the needle may go past the ends of the scale.
double OilQuantityGallons(double percent, double bump) { return percent / 100.0 * 3.75 + bump; }

}  // namespace

double FSAPI EngOilPress1Value(NeedleElement*) {
    return ClampValue(GetVarNumber("A:Eng Oil Pressure:1,psi"), 0, 100);
}

double FSAPI EngOilPress2Value(NeedleElement*) {
    return ClampValue(GetVarNumber("A:Eng Oil Pressure:2,psi"), 0, 100);
}

double FSAPI EngOilTemp1Value(NeedleElement*) {
    return ClampValue(GetVarNumber("A:General Eng1 Oil Temperature,Celsius"), -50, 180);
}

double FSAPI EngOilTemp2Value(NeedleElement*) {
    return ClampValue(GetVarNumber("A:General Eng2 Oil Temperature,Celsius"), -50, 180);
}

// Engine 1 owns the oil quantity test: it starts the timer, and shows the
// test value while the timer is pending.
double FSAPI EngOilQty1Value(NeedleElement*) {
    const double quantity = GetVarNumber("A:Eng Oil Quantity:1,percent");
    const double test = GetVarNumber("L:Eng Oil Qty Test,number");
    const double bump = GetVarNumber("L:GaugeBump,number");
    if (test > 1) StartOilQtyTest();
    return oilQtyTestRunning ? kOilQtyTestValue : OilQuantityGallons(quantity, bump);
}

// Engine 2 follows the test variable itself, until engine 1's timer resets it.
double FSAPI EngOilQty2Value(NeedleElement*) {
    const double quantity = GetVarNumber("A:Eng Oil Quantity:2,percent");
    const double test = GetVarNumber("L:Eng Oil Qty Test,number");
    const double bump = GetVarNumber("L:GaugeBump,number");
    return test > 1 ? kOilQtyTestValue : OilQuantityGallons(quantity, bump);
}

// Engine 1 owns the vibration test; both vibration needles show it.
double FSAPI EngVib1Value(NeedleElement*) {
    const double vibration = ClampValue(GetVarNumber("A:Turb Eng Vibration:1,number"), 0, 5);
    const double test = GetVarNumber("L:Engine Vibration Test,number");
    if (test > 1) StartVibrationTest();
    return vibrationTestRunning ? kVibrationTestValue : vibration;
}

double FSAPI EngVib2Value(NeedleElement*) {
    const double vibration = ClampValue(GetVarNumber("A:Turb Eng Vibration:2,number"), 0, 5);
    return vibrationTestRunning ? kVibrationTestValue : vibration;
}
