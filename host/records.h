// Reading a gauge module's records the way the simulator does: a gauge's
// element chain and its tooltip. Records come from a module and are not
// trusted to be well formed: walks stop at a repeated element and at a
// fixed length.
#pragma once

#include <vector>

#include "gauge_records.h"

// Longest chain or mouse list followed; far more than any real gauge has.
constexpr size_t kMaxRecordsWalked = 1024;

// The gauge's own elements in drawing order: the element its header's root
// pointer holds, then, depth first, every element of each element's next
// list. Empty when the header has no root pointer or the pointer holds 0.
std::vector<ElementHeader*> ElementChain(const GaugeHeader& gauge);

// The needle elements of ElementChain, in the same order.
std::vector<NeedleElement*> NeedleElements(const GaugeHeader& gauge);

// The text of the gauge's first tooltip record (mouse record kind 4), or 0.
const char* GaugeTooltip(const GaugeHeader& gauge);
