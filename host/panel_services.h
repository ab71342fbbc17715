// The panel-services table the host hands every module it loads.
//
// Slots 24 to 31 (element-list query, install, initialise, update, generate,
// draw, slot 30, kill) record each call with the element, and the 32-bit
// value for install and generate. Slot 69 evaluates calculator code
// (calculator_code.h) and logs the text. Every other slot records its number
// and does nothing else, so that a module calling a service the host does
// not offer shows up in the record instead of crashing the host.
#pragma once

#include <optional>
#include <vector>

#include "calculator_code.h"
#include "gauge_records.h"

struct PanelCall {
    int slot;
    ElementHeader* element;          // 0 for slots that get no element
    std::optional<uint32_t> value;   // install and generate only
};

// What the table's slots act on: the variables, the calculator-code log and
// the record of element-list calls.
struct PanelServiceState {
    CalculatorCodeService calculator;
    std::vector<PanelCall> calls;
};

// The one table of this process. Its slots act on `state` until another
// state (or 0, after which they record nothing and evaluate nothing) is set.
PanelServices* HostPanelServices();
void SetPanelServiceState(PanelServiceState* state);
