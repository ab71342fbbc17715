// The top of the sound module: its start and stop routines (named in
// Linkage), the sound gauge's callback, the SimConnect dispatch procedure
// and the per-update driver.
//
// Sounds may be heard only while the simulation is not paused, is running
// (between SimStart and SimStop), the aircraft is not slewing and the
// simulator's own sound is on: the enable state. Every change of it stops
// every sound and discards every pending command.
#pragma once

#include <simconnect.h>

#include <string>

#include "gauge_records.h"

// Client event identifiers given to SimConnect (1 is not used).
enum SoundEventId : DWORD {
    kEventPause = 0,
    kEventSimStart = 2,
    kEventSimStop = 3,
    kEventView = 4,
    kEventSound = 5,
};

extern bool notPaused;
extern bool simRunning;
extern bool notSlewing;
extern bool soundOn;
extern bool soundEnabled;
extern bool previousEnabled;
extern bool pathsReady;
extern bool firstInitDone;
// A pre-initialise service came before any connect-to-window: the first
// initialisation runs on the first connect-to-window instead.
extern bool firstInitPending;
extern HSIMCONNECT simConnect;
extern std::string viewVariable;

void FSAPI OpenSimConnect();
void FSAPI CloseSimConnect();
void FSAPI SoundGaugeCallback(GaugeHeader* header, int32_t serviceCode, uint32_t extra);
void CALLBACK SimConnectDispatch(SimConnectMessage* message, DWORD size, void* context);

void UpdateSounds();
bool ComputeSoundEnabled();
void InitialiseSounds();

// The view code written for a View notice's data: 1, 2 or 4 as they are,
// 0 for anything else.
int32_t ViewCode(DWORD data);
