// The sound module's behaviour as case tables that both builds' tests run:
// natively through the substitute host and its sound device stand-in, on
// Windows (under wine) through the Windows test host and wine's real
// DirectSound. The module is the same code; the tables hold both builds to
// the same log, the same variables and the same enable state.
//
// Rows that need a fault injected into the sound device stay in the native
// tests; so does the column of calls the stand-in records (`calls`), which
// only the stand-in can show.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "sound_log.h"
#include "tone_wav.h"

namespace sound_cases {

// ---------------------------------------------------------------------------
// Commands: item 0 "Tone" has a buffer (default volume -600), item 1
// "Broken" has none (its file is no RIFF file; default volume -300), item 2
// "Second" has a buffer. The registers hold volume -1234 and pan 2345 before
// every case, and one enabled update has run.

inline const char* const kCommandConfig =
    "[general]\n"
    "mastercontroller=Master\n"
    "buffervolwrite=VolIn\n"
    "bufferpanwrite=PanIn\n"
    "buffervolread=VolOut\n"
    "bufferpanread=PanOut\n"
    "\n"
    "[sounditems]\n"
    "Tone, tone.wav, -600\n"
    "Broken, broken.wav, -300\n"
    "Second, second.wav\n";

struct File {
    const char* name;
    std::string bytes;
};

inline std::vector<File> CommandFiles() {
    return {{"tone.wav", ToneWav({.frequency = 440, .seconds = 0.5})},
            {"broken.wav", "not a sound at all"},
            {"second.wav", ToneWav({.frequency = 880, .seconds = 0.5})}};
}

inline constexpr double kVolumeRegister = -1234;
inline constexpr double kPanRegister = 2345;

struct CommandCase {
    int value;
    bool withBuffer;
    std::vector<LogEntry> log;       // after message 4, which every value from 0 up writes
    std::vector<std::string> calls;  // on the item's buffer (native: the stand-in's record)
    double after;                    // the item variable afterwards
};

inline void PrintTo(const CommandCase& c, std::ostream* out) {
    *out << "command " << c.value << (c.withBuffer ? " on a slot with a buffer" : " on a slot without one");
}

// The second text of message 4 for a command value.
inline const char* CommandText(int value) {
    switch (value) {
        case 0: return "Play command is... Stop";
        case 1: return "Play command is... PlayOnce";
        case 2: return "Play command is... PlayLooped";
        default: return "";
    }
}

inline const std::vector<CommandCase>& CommandCases() {
    static const std::vector<CommandCase> cases = {
        {-5, true, {}, {}, -5},
        {-1, true, {}, {}, -1},
        {0, true, {56, 58}, {"Stop", "SetCurrentPosition(0)"}, -1},
        {1, true, {{14, "0"}, {60, "0", "-600"}, {62, "0", "0"}, 52, 59, {64, "0"}, 55},
         {"SetVolume(-600)", "SetPan(0)", "GetStatus", "Play(flags 0)"}, -1},
        {2, true, {{15, "0"}, {60, "0", "-600"}, {62, "0", "0"}, 52, 59, {64, "0"}, 55},
         {"SetVolume(-600)", "SetPan(0)", "GetStatus", "Play(flags 1)"}, -1},
        {3, true, {{60, "0", "-1234"}}, {"SetVolume(-1234)"}, -1},
        {4, true, {{61, "0"}}, {"GetVolume"}, -1},
        {5, true, {{62, "0", "2345"}}, {"SetPan(2345)"}, -1},
        {6, true, {{63, "0"}}, {"GetPan"}, -1},
        {7, true, {{14, "0"}, {60, "0", "-1234"}, {62, "0", "2345"}, 52, 59, {64, "0"}, 55},
         {"SetVolume(-1234)", "SetPan(2345)", "GetStatus", "Play(flags 0)"}, -1},
        {8, true, {{15, "0"}, {60, "0", "-1234"}, {62, "0", "2345"}, 52, 59, {64, "0"}, 55},
         {"SetVolume(-1234)", "SetPan(2345)", "GetStatus", "Play(flags 1)"}, -1},
        {9, true, {}, {}, 9},
        {10, true, {}, {}, 10},
        {-5, false, {}, {}, -5},
        {0, false, {56, 57}, {}, -1},
        {1, false, {{14, "1"}, {60, "1", "-300"}, {62, "1", "0"}, 52, 53}, {}, -1},
        {2, false, {{15, "1"}, {60, "1", "-300"}, {62, "1", "0"}, 52, 53}, {}, -1},
        {3, false, {{60, "1", "-1234"}}, {}, -1},
        {4, false, {{61, "1"}}, {}, -1},
        {5, false, {{62, "1", "2345"}}, {}, -1},
        {6, false, {{63, "1"}}, {}, -1},
        {7, false, {{14, "1"}, {60, "1", "-1234"}, {62, "1", "2345"}, 52, 53}, {}, -1},
        {8, false, {{15, "1"}, {60, "1", "-1234"}, {62, "1", "2345"}, 52, 53}, {}, -1},
        {9, false, {}, {}, 9},
    };
    return cases;
}

// The master controller with the same three items.
struct MasterCase {
    int value;
    std::vector<int> log;  // the messages of the master command alone
    double after;
};

inline void PrintTo(const MasterCase& c, std::ostream* out) { *out << "master " << c.value; }

inline const std::vector<MasterCase>& MasterCases() {
    static const std::vector<MasterCase> cases = {
        {0, {}, 0},
        // Stop all: every slot stopped and rewound (the one without a buffer logs 57).
        {1, {56, 58, 56, 57, 56, 58}, 0},
        // Silence all: read, then set to silent, per item.
        {2, {61, 60, 61, 60, 61, 60}, 0},
        {3, {60, 60, 60}, 0},
        {7, {}, 0},
        {-3, {}, 0},
    };
    return cases;
}

// ---------------------------------------------------------------------------
// The enable state, with two items "Horn" and "Chime" and a master controller.

inline const char* const kEnableConfig =
    "[general]\n"
    "mastercontroller=Master\n"
    "[sounditems]\n"
    "Horn, horn.wav\n"
    "Chime, chime.wav\n";

inline std::vector<File> EnableFiles() {
    return {{"horn.wav", ToneWav({.frequency = 500, .seconds = 2})},
            {"chime.wav", ToneWav({.frequency = 1000, .seconds = 2})}};
}

// Slew mode is no notice but the variable the module reads on every update;
// a condition that names it as its event sets that variable to the data.
inline constexpr const char* kSlew = "(slew)";

struct EnableCondition {
    const char* name;
    const char* disableEvent;
    uint32_t disableData;
    const char* enableEvent;
    uint32_t enableData;
};

inline void PrintTo(const EnableCondition& c, std::ostream* out) { *out << c.name; }

inline constexpr EnableCondition kEnableConditions[] = {
    {"Pause", "Pause", 1, "Pause", 0},
    {"SimStop", "SimStop", 0, "SimStart", 0},
    {"Slew", kSlew, 1, kSlew, 0},
    {"SoundOff", "Sound", 0, "Sound", 1},
};

// What a transition logs with the two items: the message, then stop all.
inline const std::vector<int> kDisabledLog = {16, 56, 58, 56, 58};
inline const std::vector<int> kEnabledLog = {17, 56, 58, 56, 58};

struct NoticeCase {
    const char* event;
    uint32_t data;
    bool enabledAfter;
};

inline void PrintTo(const NoticeCase& c, std::ostream* out) { *out << c.event << " " << c.data; }

inline constexpr NoticeCase kNoticeCases[] = {
    {"Pause", 1, false}, {"Pause", 0, true},    {"Pause", 2, true},     {"Pause", 0xFFFFFFFF, true},
    {"Sound", 0, false}, {"Sound", 1, true},    {"Sound", 7, true},     {"SimStop", 0, false},
    {"SimStart", 0, true}, {"View", 1, true},
};

// View notice data and the view code the module writes for it.
inline constexpr std::pair<uint32_t, int> kViewCodes[] = {{1, 1}, {2, 2}, {4, 4}, {0, 0},
                                                          {3, 0}, {8, 0}, {4, 4}, {0xFFFFFFFF, 0}};

// ---------------------------------------------------------------------------
// The sound output's steps as the log tells them.

// Connect-to-window with a device that works: made, cooperative level, probe.
inline const std::vector<int> kDeviceLog = {20, 21, 23, 25, 2};
inline const std::vector<int> kPreKillLog = {28, 29};
// A play command on a buffer that is not lost.
inline const std::vector<int> kPlayLog = {4, 14, 60, 62, 52, 59, 64, 55};

// Loading one good file into slot 0, from message 7 on.
inline std::vector<LogEntry> GoodLoadLog(size_t dataBytes, const std::string& path) {
    return {7, 45, 30, {32, "0"}, 34, {35, std::to_string(dataBytes)}, {32, path}, 36, 39, 41, 42, 43, 44};
}

// A file whose "data" chunk claims more bytes than it holds.
inline std::string Claiming(uint32_t claimed, const std::string& wav) {
    std::string bytes = wav;
    std::memcpy(&bytes[40], &claimed, 4);
    return bytes;
}

// WAV files the module cannot use, needing no fault injected: what loading
// each into slot 0 logs from message 45 on, and whether a buffer is left.
struct LoadCase {
    const char* name;
    std::string wav;
    std::vector<int> log;
    bool buffer;
};

inline void PrintTo(const LoadCase& c, std::ostream* out) { *out << c.name; }

inline const std::vector<LoadCase>& LoadCases() {
    static const std::vector<LoadCase> cases = {
        {"NotRiff", "this is no RIFF file", {45, 30, 31, 31}, false},
        // A buffer of 0 bytes is below DirectSound's minimum.
        {"EmptyData", WavFile(1, 1, 22050, 16, ""), {45, 30, 32, 33, 31}, false},
        // DirectSound plays PCM only: a compressed format is refused.
        {"NonPcm", WavFile(2, 1, 22050, 4, std::string(256, '\x11')), {45, 30, 32, 33, 31}, false},
        {"DataShorterThanItsChunk", Claiming(100000, ToneWav({.seconds = 0.1})), {45, 30, 32, 34, 35, 32, 36, 38}, true},
    };
    return cases;
}

}  // namespace sound_cases
