// What each engine instrument's needle shows for given variable values: one
// table of plain data that the native host tests and the Windows tests both
// run, so that both builds of the module are held to the same values.
//
// To run a case: start from a module with no test pending (freshly loaded,
// or with every test timer fired), clear all variables, set the case's
// variables, place the gauge (or just call its needle value callback) once,
// and compare what every needle element of the gauge gets from its callback
// with `expected`, to within kNeedleCaseTolerance. Variables the case does
// not set are unknown to the host: an aircraft variable the host does not
// know reads as 0 through the module, a local variable never written reads 0.
//
// A case that starts a test (a test variable above 1 on EngOilQty1 or
// EngVib1) leaves its timer pending: let it fire, or load the module afresh,
// before the next case.
#pragma once

struct NeedleCaseVariable {
    const char* name;  // as the module writes it; 0 ends the list
    double value;
};

struct NeedleCase {
    const char* what;
    const char* gauge;
    NeedleCaseVariable variables[4];
    double expected;
};

inline constexpr double kNeedleCaseTolerance = 1e-9;

inline constexpr NeedleCase kNeedleCases[] = {
    // Oil pressure: psi limited to 0..100, each engine its own variable.
    {"pressure in range", "EngOilPress1", {{"A:Eng Oil Pressure:1,psi", 55.5}}, 55.5},
    {"pressure above the scale", "EngOilPress1", {{"A:Eng Oil Pressure:1,psi", 120}}, 100},
    {"pressure below the scale", "EngOilPress1", {{"A:Eng Oil Pressure:1,psi", -5}}, 0},
    {"pressure at the top bound", "EngOilPress1", {{"A:Eng Oil Pressure:1,psi", 100}}, 100},
    {"pressure unknown reads 0", "EngOilPress1", {}, 0},
    {"pressure 2 reads engine 2",
     "EngOilPress2",
     {{"A:Eng Oil Pressure:1,psi", 10}, {"A:Eng Oil Pressure:2,psi", 70}},
     70},
    {"pressure 2 limited", "EngOilPress2", {{"A:Eng Oil Pressure:2,psi", 150}}, 100},

    // Oil temperature: Celsius limited to -50..180.
    {"temperature in range", "EngOilTemp1", {{"A:General Eng1 Oil Temperature,Celsius", 85.5}}, 85.5},
    {"temperature below the scale", "EngOilTemp1", {{"A:General Eng1 Oil Temperature,Celsius", -60}}, -50},
    {"temperature above the scale", "EngOilTemp1", {{"A:General Eng1 Oil Temperature,Celsius", 200}}, 180},
    {"temperature at the low bound", "EngOilTemp1", {{"A:General Eng1 Oil Temperature,Celsius", -50}}, -50},
    {"temperature 2 reads engine 2",
     "EngOilTemp2",
     {{"A:General Eng1 Oil Temperature,Celsius", 20}, {"A:General Eng2 Oil Temperature,Celsius", 95}},
     95},
    {"temperature 2 limited", "EngOilTemp2", {{"A:General Eng2 Oil Temperature,Celsius", -80}}, -50},

    // Oil quantity: percent / 100 * 3.75 + bump, not limited.
    {"quantity full", "EngOilQty1", {{"A:Eng Oil Quantity:1,percent", 100}}, 3.75},
    {"quantity half with bump",
     "EngOilQty1",
     {{"A:Eng Oil Quantity:1,percent", 50}, {"L:GaugeBump,number", 0.1}},
     1.975},
    {"quantity beyond the scale", "EngOilQty1", {{"A:Eng Oil Quantity:1,percent", 120}}, 4.5},
    {"quantity below the scale with bump",
     "EngOilQty1",
     {{"A:Eng Oil Quantity:1,percent", 0}, {"L:GaugeBump,number", -0.25}},
     -0.25},
    {"quantity with test variable at rest",
     "EngOilQty1",
     {{"A:Eng Oil Quantity:1,percent", 80}, {"L:Eng Oil Qty Test,number", 1}},
     3.0},
    {"quantity test just above 1",
     "EngOilQty1",
     {{"A:Eng Oil Quantity:1,percent", 80}, {"L:Eng Oil Qty Test,number", 1.01}},
     4.75},
    {"quantity 2 reads engine 2's quantity",
     "EngOilQty2",
     {{"A:Eng Oil Quantity:1,percent", 100}, {"A:Eng Oil Quantity:2,percent", 40}},
     1.5},
    {"quantity 2 with bump",
     "EngOilQty2",
     {{"A:Eng Oil Quantity:2,percent", 60}, {"L:GaugeBump,number", 0.05}},
     2.3},
    {"quantity 2 follows the test variable",
     "EngOilQty2",
     {{"A:Eng Oil Quantity:2,percent", 40}, {"L:Eng Oil Qty Test,number", 2}},
     4.75},
    {"quantity 2 test variable at rest",
     "EngOilQty2",
     {{"A:Eng Oil Quantity:2,percent", 40}, {"L:Eng Oil Qty Test,number", 1}},
     1.5},

    // Vibration: limited to 0..5; engine 1 runs the test, engine 2 only shows it.
    {"vibration in range", "EngVib1", {{"A:Turb Eng Vibration:1,number", 2.5}}, 2.5},
    {"vibration above the scale", "EngVib1", {{"A:Turb Eng Vibration:1,number", 7}}, 5},
    {"vibration below the scale", "EngVib1", {{"A:Turb Eng Vibration:1,number", -1}}, 0},
    {"vibration test at rest",
     "EngVib1",
     {{"A:Turb Eng Vibration:1,number", 1.5}, {"L:Engine Vibration Test,number", 1}},
     1.5},
    {"vibration test", "EngVib1", {{"A:Turb Eng Vibration:1,number", 1.5}, {"L:Engine Vibration Test,number", 2}}, 5},
    {"vibration 2 reads engine 2",
     "EngVib2",
     {{"A:Turb Eng Vibration:1,number", 4}, {"A:Turb Eng Vibration:2,number", 1}},
     1},
    {"vibration 2 limited", "EngVib2", {{"A:Turb Eng Vibration:2,number", 9}}, 5},
    {"vibration 2 does not start the test",
     "EngVib2",
     {{"A:Turb Eng Vibration:2,number", 3}, {"L:Engine Vibration Test,number", 2}},
     3},
};
