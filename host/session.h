// A simulation session: the substitute simulator with the gauge modules
// loaded, their gauges placed on a panel and the aircraft builder's sound
// folder installed where the sound module looks for it, stepped update by
// update while it records what the modules do.
//
// The sound folder is not touched: the session lays out a simulator
// installation of its own in a temporary folder, with a working copy of the
// sound folder (its files linked, not copied) and an empty logfile.txt in
// it, so that the sound module logs the whole session. It is removed when
// the session ends.
//
// Between updates a driver (a scenario, a person at a live panel) sets
// variables, writes sound commands, sends the simulator's notices, turns
// slew mode on or off, presses the test switches or reloads the panel; Step
// then runs one update and observes it:
//   - every variable the modules read or wrote in it, with its value after it;
//   - the sound the device mixed for it;
//   - which sound buffer played, stopped or changed volume or pan (the
//     buffers are told apart by the commands that use them: the calls the
//     sound module makes between reading an item's variable and writing -1
//     back belong to that item);
//   - the sound module's enable-state changes, from its own log;
//   - what became of every command written (SessionReport).
//
// One session at a time (a Sim is one at a time).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "check.h"
#include "render.h"
#include "session_report.h"
#include "sim.h"

struct SessionSetup {
    std::vector<std::string> modules;  // module files, loaded in this order
    std::vector<std::string> gauges;   // names, placed in this order; empty: every gauge of every module
    std::string soundFolder;           // the builder's sound folder; empty: an empty one
};

struct SessionError {
    std::string message;
    int module = -1;  // the SessionSetup::modules entry it is about, or -1
    int gauge = -1;   // the SessionSetup::gauges entry it is about, or -1
};

// Something a sound command can be written to: a sound item of the folder's
// twsound.cfg, or an item line the module dropped (its variable is written,
// but nothing reads it).
struct SoundTarget {
    std::string name;              // as twsound.cfg spells it
    std::string variable;          // "L:ApuStart, number"
    std::optional<size_t> slot;    // nothing for a dropped line
    std::string wavName;           // relative to the sound folder
    std::string wavProblem;        // why the WAV file cannot be played; empty when it can
    std::string dropReason;        // why the line was dropped
    size_t line = 0;
};

// The items of a checked sound folder in slot order, then the dropped item
// lines whose variable no item uses.
std::vector<SoundTarget> SoundTargets(const CheckReport& folder);
// The variable name of a reference "(L:name, number)"; empty for an empty one.
std::string ReferenceName(const std::string& reference);

enum class SimNotice { Pause, Unpause, SimStop, SimStart, SoundOff, SoundOn, View };
enum class TestSwitch { OilQuantity, Vibration };

// The simulator's state as the session set it.
struct SimState {
    bool paused = false;
    bool running = true;
    bool slewing = false;
    bool soundOn = true;
    uint32_t view = 0;
};

// What the sound module's buffer for an item is doing.
struct ItemSound {
    bool loaded = false;   // the module holds a sound buffer for it
    bool playing = false;
    bool looping = false;  // playing, looped
    int32_t volume = 0;    // hundredths of a decibel
    int32_t pan = 0;
    uint32_t buffer = 0;   // the sound device's number for it
};

struct VariableSample {
    std::string name;             // as the module first spelt it: "L:apustart,number"
    std::optional<double> value;  // after the update; nothing for an aircraft variable the simulator
                                  // does not know (a local never written reads 0)
    bool read = false;
    bool written = false;
};

class Session {
public:
    // Loads the modules, checks every gauge name, installs the sound folder
    // and places the gauges. Gives 0 and says what went wrong on failure.
    static std::unique_ptr<Session> Open(const SessionSetup& setup, SessionError* error);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    Sim& sim() { return *sim_; }
    // Time of the last update in seconds (0 before the first), and of the next.
    double now() const;
    double nextUpdateTime() const;
    uint64_t updates() const { return sim_->updates(); }

    // What the sound module reads from the folder (the module's own reader).
    const CheckReport& soundCheck() const { return check_; }
    const std::vector<SoundTarget>& targets() const { return targets_; }
    // The general settings' variable names; empty when not configured.
    const std::string& masterVariable() const { return master_; }
    const std::string& volumeRegister() const { return volumeRegister_; }
    const std::string& panRegister() const { return panRegister_; }

    // What the other gauges and the simulator do between updates.
    void SetVariable(std::string_view name, double value);
    std::optional<double> Variable(std::string_view name) const;
    // Writes the registers first when given (only where configured), then
    // the command value into the target's variable.
    void Command(size_t target, int32_t value, std::optional<int32_t> volume = {}, std::optional<int32_t> pan = {});
    // False when no master controller is configured (nothing is written).
    bool Master(int32_t value);
    void Notice(SimNotice notice, uint32_t view = 0);
    void Slew(bool on);
    void PressTest(TestSwitch test, double value = 2.0);
    // The panel closed and opened again: every gauge gets its pre-kill and
    // is placed anew (connect to window, pre-initialise, ...), in the same
    // order; the modules stay loaded.
    void Reload();
    // The sound module unloaded and loaded again, with the sound folder
    // linked anew (files added since are found) and read again: an edited
    // twsound.cfg or WAV file is what the module now plays. Its gauges keep
    // their places; the other modules are not touched. The new module is
    // told the simulator's state (pause, sim stop, sound off, view) as it
    // is. Commands still waiting are discarded. False (and why) when no
    // module has the sound gauge, or the module or folder cannot be had
    // again (what could be done is done).
    bool ReloadSoundModule(std::string* error);
    const SimState& state() const { return state_; }

    // One update, observed.
    void Step();
    // The variables the modules read or wrote in the last update (in the
    // order first touched); after Open, those of placing the gauges.
    const std::vector<VariableSample>& lastVariables() const { return lastVariables_; }
    // The sound mixed since the last call (interleaved stereo, 16-bit), in
    // step with simulated time: the sound of the whole session, taken call
    // by call, starts at time 0.
    std::vector<int16_t> TakeAudio();
    uint32_t audioRate() const { return sim_->audioRate(); }
    // The sounds playing after the last update, by name.
    std::vector<std::string> PlayingNow() const;
    // Each target's sound buffer, in the order of targets(): the one its
    // commands used, else the one the module made for its WAV file.
    std::vector<ItemSound> ItemSounds() const;

    // The gauges in placing order (0 where a gauge could not be placed again).
    const std::vector<PlacedGauge*>& placedGauges() const { return gauges_; }
    // The builder's sound folder (absolute); empty when there is none.
    const std::filesystem::path& soundFolder() const { return soundFolder_; }

    // The visible gauges in placing order, four to a row, under a strip
    // with the time, the simulator's state and the sounds playing.
    RenderedGauge RenderPanel(double scale) const;

    // The report so far; Finish closes the sounds still playing and names
    // the commands never taken.
    const SessionReport& report() const { return report_; }
    void Finish();

    // The sound module's log of this session.
    std::filesystem::path logPath() const;

private:
    Session() = default;
    bool Install(const std::string& soundFolder, std::string* error);
    bool LinkSoundFolder(std::string* error);
    void ReadFolder();
    std::filesystem::path installedFolder() const;
    void ProcessTexts(bool transition);
    void ReadLog(std::vector<bool>* transitions);
    void PollBuffers();
    void PollTests();
    void AddFinding(double time, const std::string& kind, const std::string& text);
    int TargetOfKey(const std::string& key) const;
    void NoteStateChange(const std::string& what);

    struct SeenText {
        std::string text;
        size_t soundCall;  // the sound device's call count when it came
    };
    struct OpenPlay {
        size_t play;            // index into report_.plays
        uint64_t startFrames;   // the buffer's frames played when it started
        uint32_t rate;
    };
    struct OpenTest {
        size_t run;             // index into report_.tests
        std::string variable;
    };

    std::filesystem::path root_;  // the simulator installation
    std::filesystem::path soundFolder_;
    std::unique_ptr<Sim> sim_;
    std::vector<PlacedGauge*> gauges_;
    CheckReport check_;
    std::vector<SoundTarget> targets_;
    std::map<std::string, int> targetByKey_;
    std::string master_, masterKey_, volumeRegister_, panRegister_;

    std::vector<SeenText> texts_;
    std::map<std::string, std::string> spelling_;  // variable key -> first spelling
    std::vector<VariableSample> lastVariables_;
    uint64_t logOffset_ = 0;
    bool audioTaken_ = false;

    std::map<uint32_t, int> bufferTarget_;         // buffer id -> target
    std::map<uint32_t, std::string> stopCause_;    // this update's Stop calls
    std::map<uint32_t, uint64_t> framesSeen_;      // frames played at the last poll
    std::map<uint32_t, OpenPlay> playing_;         // buffer id -> its open play
    std::map<std::string, size_t> pendingCommand_; // variable key -> index into report_.commands
    std::vector<OpenTest> openTests_;
    std::vector<std::string> stateChanges_;        // since the last update

    SimState state_;
    SessionReport report_;
    bool finished_ = false;

    // Each gauge's last drawing, kept while its needles stay where they were.
    struct SurfaceDeleter {
        void operator()(struct _cairo_surface* surface) const;
    };
    struct GaugeImage {
        const PlacedGauge* gauge = nullptr;
        double scale = 0.0;
        std::vector<std::optional<double>> angles;
        std::unique_ptr<struct _cairo_surface, SurfaceDeleter> surface;  // 0: shows nothing
        int width = 0;
        int height = 0;
    };
    mutable std::vector<GaugeImage> images_;
    struct FontDeleter {
        void operator()(struct _cairo_font_face* font) const;
    };
    mutable std::unique_ptr<struct _cairo_font_face, FontDeleter> font_;  // the strip's
};
