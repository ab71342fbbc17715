// Scenario files for `twsim run` (TOML; docs/scenarios.md describes them).
//
// A scenario names the modules and gauges to place, the sound folder, how
// long to run, and a timeline of events in seconds of simulated time. It is
// read in two steps, both before anything runs: ParseScenario checks the
// file on its own (syntax, keys, types, time order); ResolveScenario checks
// it against the sound folder (item names and indexes, the master controller
// and the volume and pan registers it writes). Every mistake is reported
// with the file, the line and what was expected.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "check.h"
#include "session.h"

enum class EventKind { Set, Command, Master, Notice, Slew, Test, Reload, Snapshot };

struct ScenarioEvent {
    EventKind kind = EventKind::Set;
    double at = 0.0;   // seconds
    int line = 0;

    // set: a variable, at once (value) or as a ramp (from, to, over)
    std::string variable;
    double value = 0.0;
    bool ramp = false;
    std::optional<double> from;  // nothing: the value the variable has when the ramp starts
    double to = 0.0;
    double over = 0.0;

    // command: an item by name or index, resolved to a SoundTargets index
    std::string item;
    std::optional<int64_t> itemIndex;
    size_t target = 0;
    int32_t command = 0;  // also the master value
    std::optional<int32_t> volume;
    std::optional<int32_t> pan;

    SimNotice notice = SimNotice::Pause;
    uint32_t view = 0;
    bool on = false;  // slew
    TestSwitch test = TestSwitch::OilQuantity;
    double testValue = 2.0;
};

struct Scenario {
    std::string path;
    std::string soundFolder;  // as a path of this system, relative ones taken from the file's folder
    int soundFolderLine = 0;
    std::optional<double> duration;
    std::vector<std::string> modules;  // names ("tw_hx8") or paths (relative ones from the file's folder)
    std::vector<int> moduleLines;
    std::vector<std::string> gauges;   // empty: every gauge of every module
    std::vector<int> gaugeLines;
    std::vector<ScenarioEvent> events; // in time order

    // The time the run ends: the duration, or two seconds after the last
    // event (the end of its ramp).
    double End() const;
};

struct ScenarioError {
    std::string file;
    int line = 0;  // 0 when the mistake has no line (the file cannot be read)
    std::string message;
    std::string Text() const;  // "file:line: message"
};

std::optional<Scenario> ParseScenario(std::string_view text, const std::string& path, ScenarioError* error);
std::optional<Scenario> LoadScenario(const std::string& path, ScenarioError* error);

// Names each command event's target by its index in SoundTargets(folder),
// and checks that the settings the events write are configured.
bool ResolveScenario(Scenario& scenario, const CheckReport& folder, ScenarioError* error);

// The names the file uses for command, master and notice values.
std::optional<int32_t> ItemCommandByName(std::string_view name);
std::optional<int32_t> MasterCommandByName(std::string_view name);
