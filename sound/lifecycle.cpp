#include "lifecycle.h"

#include "commands.h"
#include "config.h"
#include "log.h"
#include "sound_output.h"
#include "var_access.h"

bool notPaused = true;
bool simRunning = true;
bool notSlewing = true;
bool soundOn = true;
bool soundEnabled = true;
bool previousEnabled = true;
bool pathsReady = false;
bool firstInitDone = false;
bool firstInitPending = false;
HSIMCONNECT simConnect = nullptr;
std::string viewVariable = "(L:ViewSystemStatus, number)";

namespace {

enum ServiceCode : int32_t {
    kServicePreInitialise = 4,
    kServicePreUpdate = 6,
    kServicePreKill = 12,
    kServiceConnectToWindow = 14,
};

constexpr const char* kClientName = "TWSoundGauge";
// Passed with its parentheses: GetVarBool encloses it in a second pair.
constexpr const char* kSlewVariable = "(A:IS SLEW ACTIVE, bool)";

void ConnectToWindow() {
    if (!pathsReady) {
        SetUpFiles();
        pathsReady = true;
    }
    LogMessage(InitDirectSound() == S_OK ? 2 : 3);
    if (firstInitPending) {
        firstInitPending = false;
        InitialiseSounds();
        firstInitDone = true;
    } else if (firstInitDone) {
        // The sounds were loaded on an earlier device: pre-kill released
        // their buffers, so make them again on this one.
        RecreateBuffers();
    }
}

void PreInitialise() {
    if (firstInitDone) return;
    // The configuration's path and the sound device come with the first
    // connect-to-window; the simulator sends it first, but should it not,
    // the sounds are loaded then.
    if (!pathsReady) {
        firstInitPending = true;
        return;
    }
    InitialiseSounds();
    firstInitDone = true;
}

// A change of the enable state stops everything, exactly as a master
// "stop all" does, whether or not a master controller is configured.
void StopEverything() {
    if (masterController.empty()) {
        ExecuteMasterCommand(MasterStopAll);
        return;
    }
    SetVarInt(masterController, MasterStopAll);
    ProcessMasterController();
}

}  // namespace

void FSAPI OpenSimConnect() {
    if (FAILED(SimConnect_Open(&simConnect, kClientName, nullptr, 0, nullptr, kSimConnectLocalConfiguration))) {
        return;  // no notices will come; the flags keep their start values
    }
    SimConnect_SubscribeToSystemEvent(simConnect, kEventPause, "Pause");
    SimConnect_SubscribeToSystemEvent(simConnect, kEventSimStart, "SimStart");
    SimConnect_SubscribeToSystemEvent(simConnect, kEventSimStop, "SimStop");
    SimConnect_SubscribeToSystemEvent(simConnect, kEventView, "View");
    SimConnect_SubscribeToSystemEvent(simConnect, kEventSound, "Sound");
    SimConnect_CallDispatch(simConnect, SimConnectDispatch, nullptr);
}

void FSAPI CloseSimConnect() {
    SimConnect_Close(simConnect);
    simConnect = nullptr;
    // The simulator unloads the module next. The sound slots' open WAV files
    // and buffers, and a device a missing pre-kill left held, would outlive
    // it (every change of aircraft would leak them): they go now, on the
    // simulator's thread, not from the unload itself.
    ResetSoundOutput();
}

int32_t ViewCode(DWORD data) { return data == 1 || data == 2 || data == 4 ? static_cast<int32_t>(data) : 0; }

void CALLBACK SimConnectDispatch(SimConnectMessage* message, DWORD size, void*) {
    if (message == nullptr || size < sizeof(SimConnectEventMessage) || message->dwID != kSimConnectMessageEvent) {
        return;
    }
    const auto* event = reinterpret_cast<const SimConnectEventMessage*>(message);
    switch (event->uEventID) {
        case kEventPause: notPaused = event->dwData != 1; break;
        case kEventSimStart: simRunning = true; break;
        case kEventSimStop: simRunning = false; break;
        case kEventView:
            try {
                SetVarInt(viewVariable, ViewCode(event->dwData));
            } catch (...) {
            }
            break;
        case kEventSound: soundOn = event->dwData != 0; break;
        default: break;
    }
}

void FSAPI SoundGaugeCallback(GaugeHeader*, int32_t serviceCode, uint32_t) {
    // Nothing may leave a call from the simulator: running out of memory
    // halfway costs this service's work, not the flight.
    try {
        switch (serviceCode) {
            case kServiceConnectToWindow: ConnectToWindow(); break;
            case kServicePreInitialise: PreInitialise(); break;
            case kServicePreUpdate: UpdateSounds(); break;
            case kServicePreKill: FreeDirectSound(); break;
            default: break;
        }
    } catch (...) {
    }
}

bool ComputeSoundEnabled() {
    notSlewing = !GetVarBool(kSlewVariable);
    return notPaused && simRunning && notSlewing && soundOn;
}

void UpdateSounds() {
    soundEnabled = ComputeSoundEnabled();
    if (soundEnabled != previousEnabled) {
        LogMessage(soundEnabled ? 17 : 16);
        previousEnabled = soundEnabled;
        StopEverything();
        return;  // nothing else on a transition: commands written meanwhile are discarded
    }
    if (soundEnabled) {
        ProcessMasterController();
        ProcessSoundItems();
    }
}

void InitialiseSounds() {
    ReadConfigFile(configPath);
    LoadAllWaveFiles();
}
