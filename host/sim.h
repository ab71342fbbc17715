// The substitute simulator: loads gauge modules, places their gauges, and
// drives them in simulated time the way the simulator does.
//
// Time. The clock belongs to the platform stand-ins (control_window.h) and
// starts at 0 when a Sim is made. Gauges update 18 times a second: update n
// happens at n * 1000 / 18 ms (rounded to whole ms). Before each update the
// clock moves to that time and every timer due by then fires, each at its
// own due time.
//
// Service codes, in the order the gauge callback gets them:
//   placing a gauge   0, query routine, 1; 2, install routine, 3;
//                     14 (connect to window); 4, initialise routine, 5;
//                     8, generate routine, 9
//   every update      6, update routine, needle value callbacks, 7;
//                     10, draw routine, 11
//   removing a gauge  12, kill routine, 13
// The callback's extra value is always 0. Install and generate get the
// gauge's install value (PlacedGauge::installValue).
//
// Needles. On every update each needle element of the gauge's own chain is
// asked for its value and turned towards the direction of that value on its
// scale. A needle with a maximum speed turns by at most that many degrees
// per second (speed / 18 per update), along the dial; one without turns at
// once. On its first update a needle is placed at its value directly: it
// appears where it belongs when the panel opens.
//
// Simulator state. SimConnect notices (pause, sim start and stop, view,
// sound on and off) are delivered to the modules that subscribed to them at
// once, between gauge calls; the slew mode is the variable
// "A:IS SLEW ACTIVE" the sound module reads on every update.
//
// Sound. The sound device stand-in is mixed in step with simulated time:
// every update is followed by 1/18 s of mixed sound (at 44100 frames a
// second, 2450 frames), kept when capture is on.
//
// One Sim at a time: the panel-services table the modules call has no
// context of its own.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "module.h"
#include "panel_services.h"
#include "variables.h"

constexpr int kUpdatesPerSecond = 18;
constexpr const char* kMainWindowClass = "FS98MAIN";

// The simulated time of update n in milliseconds (update 1 is the first).
uint64_t UpdateTimeMs(uint64_t update);

struct NeedleState {
    NeedleElement* element = nullptr;
    double value = 0.0;   // what the needle value callback last returned
    double angle = 0.0;   // displayed direction in degrees, in (-180, 180]: 0 right, 90 down
    double sweep = 0.0;   // the same measured along the dial (NeedleSweepForValue)
    bool shown = false;   // false until the first update
};

struct PlacedGauge {
    LoadedModule* module = nullptr;
    GaugeHeader* header = nullptr;
    std::string name;
    uint32_t installValue = 0;
    std::vector<NeedleState> needles;  // in drawing order

    // The displayed direction of a needle element of this gauge; nothing for
    // other elements and before the first update.
    std::optional<double> AngleOf(const ElementHeader* element) const;
};

struct ServiceCall {
    GaugeHeader* header;
    int32_t code;
};

class Sim {
public:
    // Resets the window and timer stand-ins and opens the main window.
    Sim();
    // Removes every gauge, stops and unloads every module, and resets the
    // stand-ins again.
    ~Sim();
    Sim(const Sim&) = delete;
    Sim& operator=(const Sim&) = delete;

    VariableStore& variables() { return state_.calculator.variables; }
    // Every text the modules sent to the calculator-code service, in order.
    const std::vector<std::string>& codeLog() const { return state_.calculator.log; }
    void ClearCodeLog() { state_.calculator.log.clear(); }
    // Whether the texts are kept at all (they are unless turned off).
    void KeepCodeLog(bool keep) { state_.calculator.keepLog = keep; }
    // Calls `watcher` with every text the modules send, before it is
    // evaluated; an empty function stops watching.
    void WatchCode(std::function<void(const char* code)> watcher) { state_.calculator.watch = std::move(watcher); }
    // Every call of an element-list slot (and of any slot the host does not offer).
    const std::vector<PanelCall>& panelCalls() const { return state_.calls; }
    void ClearPanelCalls() { state_.calls.clear(); }
    // Every service code sent to a gauge callback.
    const std::vector<ServiceCall>& serviceCalls() const { return serviceCalls_; }
    void ClearServiceCalls() { serviceCalls_.clear(); }
    PanelServices* services() const { return HostPanelServices(); }

    // Loads a module, writes the panel-services table into its ImportTable
    // and calls its start routine. Gives 0 and says why in `error` on failure.
    // A module already loaded is not loaded or started again.
    LoadedModule* LoadModule(const std::string& path, std::string* error = nullptr);
    // Removes the module's gauges, calls its stop routine and unloads it.
    void UnloadModule(LoadedModule* module);
    const std::vector<std::unique_ptr<LoadedModule>>& modules() const { return modules_; }

    // Places the module's gauge of that name (without regard to case), as a
    // panel configuration does; 0 when the module has no such gauge. A gauge
    // may be placed more than once.
    PlacedGauge* PlaceGauge(LoadedModule* module, std::string_view name);
    void RemoveGauge(PlacedGauge* gauge);
    const std::vector<std::unique_ptr<PlacedGauge>>& gauges() const { return gauges_; }

    // One update of every placed gauge, in placing order, after the timers
    // due by its time have fired.
    void Update();
    void RunUpdates(int count);
    // As many updates as fit into `seconds` of simulated time.
    void RunFor(double seconds);
    uint64_t updates() const { return updates_; }
    uint64_t NowMs() const;

    // The simulator's main window, which the modules find by its class.
    // Closing it kills the timers set on it.
    void OpenMainWindow();
    void CloseMainWindow();
    HWND mainWindow() const { return mainWindow_; }

    // SimConnect system events, as the simulator sends them to the modules
    // that subscribed. Each returns whether a module received it.
    bool Pause(bool paused) { return SendNotice("Pause", paused ? 1 : 0); }
    bool SimStart() { return SendNotice("SimStart", 0); }
    bool SimStop() { return SendNotice("SimStop", 0); }
    bool SoundSwitch(bool on) { return SendNotice("Sound", on ? 1 : 0); }
    bool View(uint32_t viewFlags) { return SendNotice("View", viewFlags); }
    bool SendNotice(const char* systemEvent, uint32_t data);
    // Slew mode on or off: the aircraft variable the sound module reads.
    void SetSlew(bool slewing);

    // Keeps the mixed sound of every following update (interleaved left,
    // right, signed 16-bit, at audioRate() frames a second).
    void CaptureAudio(bool on) { captureAudio_ = on; }
    const std::vector<int16_t>& audio() const { return audio_; }
    void ClearAudio() { audio_.clear(); }
    uint32_t audioRate() const;
    // Writes the captured sound as a 16-bit stereo WAV file; false (and why,
    // in `error`) when it cannot.
    bool WriteAudio(const std::string& path, std::string* error = nullptr) const;

    // The gauge's tooltip as the simulator shows it (calculator code inside
    // it evaluated); empty when the gauge has none.
    std::string Tooltip(const PlacedGauge& gauge) const;

private:
    void SendService(PlacedGauge& gauge, int32_t code);
    void UpdateGauge(PlacedGauge& gauge);
    void MixAudio();

    PanelServiceState state_;
    std::vector<std::unique_ptr<LoadedModule>> modules_;
    std::vector<std::unique_ptr<PlacedGauge>> gauges_;
    std::vector<ServiceCall> serviceCalls_;
    HWND mainWindow_ = nullptr;
    uint64_t updates_ = 0;
    uint32_t placements_ = 0;
    bool captureAudio_ = false;
    std::vector<int16_t> audio_;
    uint64_t framesMixed_ = 0;
};
