// The sound module's code runs inside twsim (the check): the frame linked
// with it expects the symbols a module defines. The check hands the frame
// its own calculator-code service while it reads.
#include "standard_routines.h"

ImportTableRecord ImportTable = {kPanelServicesId, nullptr, 0, nullptr};
GaugeHeader** const moduleGaugeTable = nullptr;
