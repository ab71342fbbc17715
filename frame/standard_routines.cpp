#include "standard_routines.h"

namespace {

// Read at every call: the simulator may have written the records since.
ElementHeader* FirstElement() {
    GaugeHeader* first = moduleGaugeTable[0];
    return *first->rootPointer;
}

PanelServices* Services() { return ImportTable.panelServices; }

}  // namespace

void FSAPI GaugeQuery() { Services()->elementListQuery(FirstElement()); }
void FSAPI GaugeInstall(uint32_t value) { Services()->elementListInstall(FirstElement(), value); }
void FSAPI GaugeInitialise() { Services()->elementListInitialise(FirstElement()); }
void FSAPI GaugeUpdate() { Services()->elementListUpdate(FirstElement()); }
void FSAPI GaugeGenerate(uint32_t value) { Services()->elementListGenerate(FirstElement(), value); }
void FSAPI GaugeDraw() { Services()->elementListDraw(FirstElement()); }
void FSAPI GaugeKill() { Services()->elementListKill(FirstElement()); }
