// The seven standard routines every gauge header of a module points to, and
// the module start/stop routines that do nothing.
//
// The routines take no gauge argument: they always hand the simulator the
// element chain of the first gauge in the module's gauge table, whichever
// header the call came through.
#pragma once

#include "gauge_records.h"

// Each module defines these two: its ImportTable, and the gauge table inside
// its Linkage (`GaugeHeader** const moduleGaugeTable = Linkage.gauges;`).
extern "C" ImportTableRecord ImportTable;
extern GaugeHeader** const moduleGaugeTable;

void FSAPI GaugeQuery();
void FSAPI GaugeInstall(uint32_t value);
void FSAPI GaugeInitialise();
void FSAPI GaugeUpdate();
void FSAPI GaugeGenerate(uint32_t value);
void FSAPI GaugeDraw();
void FSAPI GaugeKill();

// Initialisers for the routine fields of a GaugeHeader, in header order.
#define STANDARD_GAUGE_ROUTINES \
    GaugeQuery, GaugeInstall, GaugeInitialise, GaugeUpdate, GaugeGenerate, GaugeDraw, GaugeKill
