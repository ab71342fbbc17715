// What a session saw the modules do: the sounds that played, the commands
// written to the sound module and what became of each, the changes of the
// sound module's enable state, the press-to-test runs, and anything that
// looks like a mistake in the aircraft's sounds or panel.
//
// Times are seconds of simulated time. A command or a notice given between
// two updates carries the time of the update that first sees it.
#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// A change of volume, pan or looping while a sound plays on.
struct PlayChange {
    double time = 0.0;
    int32_t volume = 0;
    int32_t pan = 0;
    bool looped = false;
};

// One stretch of a sound buffer playing, from its Play to the moment it
// fell silent.
struct SoundPlay {
    std::string sound;             // the item's name, or "buffer N" when no command named it
    std::optional<size_t> slot;    // the item's sound slot
    std::string wavName;           // relative to the sound folder
    double start = 0.0;
    double end = 0.0;              // exact to the frame: from the frames the device played
    bool looped = false;
    int32_t volume = 0;            // hundredths of a decibel, at the start
    int32_t pan = 0;
    std::vector<PlayChange> changes;
    std::string endedBy;           // "its end", "stop command", "stop all", "enable-state change",
                                   // "pre-kill", "end of run"
    double seconds() const { return end - start; }
};

enum class CommandOutcome {
    Pending,       // not taken (yet): the variable still holds the value
    Acknowledged,  // the module wrote its idle value back after running it
    Discarded,     // reset by a change of the enable state without being run
    Replaced,      // written over by the next command before the module took it
};

struct CommandRecord {
    double time = 0.0;
    std::string target;            // the item's name, or "master"
    std::string variable;          // "L:ApuStart,number"
    int32_t value = 0;
    std::string meaning;           // "play once", "stop all", "(not a command)"
    std::optional<int32_t> volume; // register values written with it
    std::optional<int32_t> pan;
    CommandOutcome outcome = CommandOutcome::Pending;
    double resolvedAt = 0.0;       // when it was acknowledged, discarded or replaced
    std::string result;            // what it did: "played", "played nothing", ...
};

struct EnableTransition {
    double time = 0.0;
    bool enabled = false;
    std::string causes;            // the simulator changes since the previous update
};

struct TestRun {
    double time = 0.0;
    std::string test;              // "oil quantity", "vibration"
    std::string variable;
    double value = 0.0;
    std::optional<double> returnedAt;  // when the module set it back to 1
};

struct Finding {
    double time = 0.0;
    std::string kind;              // "never-acknowledged", "wav-not-loaded", "ignored-value",
                                   // "not-an-item", "discarded", "replaced", "play-failed",
                                   // "test-not-reset", "silent-play"
    std::string text;
};

struct SessionReport {
    double end = 0.0;              // simulated seconds run
    uint64_t updates = 0;
    std::vector<SoundPlay> plays;  // in order of their start
    std::vector<CommandRecord> commands;
    std::vector<EnableTransition> transitions;
    std::vector<TestRun> tests;
    std::vector<Finding> findings; // in order of time
};

const char* OutcomeName(CommandOutcome outcome);

// The report for a person: sections for sounds, commands, enable state,
// tests and findings.
std::string FormatReportText(const SessionReport& report);
nlohmann::json ReportJson(const SessionReport& report);
