#include "records.h"

#include <algorithm>

namespace {

void Walk(ElementHeader* element, std::vector<ElementHeader*>& chain) {
    if (element == nullptr || chain.size() >= kMaxRecordsWalked) return;
    if (std::find(chain.begin(), chain.end(), element) != chain.end()) return;
    chain.push_back(element);
    if (element->nextList == nullptr) return;
    // A list ends with a 0 entry and may be longer than the record type
    // declares; a malformed one is cut at the walk limit.
    ElementHeader* const* next = element->nextList->elements;
    for (size_t i = 0; i < kMaxRecordsWalked && next[i] != nullptr; ++i) Walk(next[i], chain);
}

}  // namespace

std::vector<ElementHeader*> ElementChain(const GaugeHeader& gauge) {
    std::vector<ElementHeader*> chain;
    if (gauge.rootPointer != nullptr) Walk(*gauge.rootPointer, chain);
    return chain;
}

std::vector<NeedleElement*> NeedleElements(const GaugeHeader& gauge) {
    std::vector<NeedleElement*> needles;
    for (ElementHeader* element : ElementChain(gauge)) {
        if (element->kind == kNeedle) needles.push_back(reinterpret_cast<NeedleElement*>(element));
    }
    return needles;
}

const char* GaugeTooltip(const GaugeHeader& gauge) {
    const MouseRectangle* record = gauge.mouseRectangles;
    for (size_t i = 0; record != nullptr && i < kMaxRecordsWalked && record[i].kind != kMouseEnd; ++i) {
        if (record[i].kind == kMouseTooltip) return record[i].tooltip;
    }
    return nullptr;
}
