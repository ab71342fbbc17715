// `twsim check`: what the sound module makes of a sound folder.
//
// The check runs the module's own configuration reader (sound/config.cpp)
// and WAV reader (sound/wave_reader.cpp) on the folder, so what it reports
// is what the module will do; it only adds the reasons and hints a person
// needs. It needs the frame's ImportTable to be defined by the program; while
// it reads, it hands the frame a calculator-code service of its own that
// records the variables the reader writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct CheckedSetting {
    std::string key;        // "mastercontroller", ...
    std::string reference;  // the variable reference, empty when not set
    std::size_t line = 0;   // the line that set it; 0 when not set
};

struct CheckedItem {
    std::size_t index = 0;  // its sound slot
    std::size_t line = 0;
    std::string variable;
    std::string wavFile;  // the full path the module opens
    std::string wavName;  // the same relative to the sound folder
    int32_t defaultVolume = 0;
};

// A line that changes nothing, or an item line whose item is not stored.
struct CheckedLine {
    std::size_t line = 0;
    std::string text;  // as the module reads it (normalised)
    std::string reason;
    bool itemDropped = false;
};

// Something that works, but probably not as the author meant.
struct CheckedNote {
    std::size_t line = 0;
    std::string text;
};

struct WaveFormat {
    uint16_t formatTag = 0;
    uint16_t channels = 0;
    uint32_t samplesPerSecond = 0;
    uint32_t averageBytesPerSecond = 0;
    uint16_t blockAlign = 0;
    uint16_t bitsPerSample = 0;
    uint16_t extraSize = 0;
};

struct CheckedWave {
    std::string path;  // as the module forms it
    std::string name;  // relative to the sound folder
    std::vector<std::size_t> lines;  // item lines that name it
    bool usable = false;
    std::string problem;  // why it cannot be used; empty when usable
    std::optional<WaveFormat> format;   // as the reader gives it
    std::optional<uint32_t> dataSize;   // size of the "data" chunk
};

struct CheckReport {
    std::string soundFolder;
    std::string configPath;
    bool configRead = false;
    std::size_t lineCount = 0;
    std::vector<CheckedSetting> settings;  // the five, in key order
    std::vector<CheckedItem> items;
    std::vector<CheckedLine> ignoredLines;
    std::vector<CheckedNote> notes;
    std::vector<CheckedWave> waves;
    std::vector<std::string> variablesWritten;  // calculator code sent while reading
    std::size_t droppedItems = 0;
    std::size_t unusableWaves = 0;

    // Nothing dropped, nothing unusable, the configuration read.
    bool ok() const { return configRead && droppedItems == 0 && unusableWaves == 0; }
};

// Checks the sound folder `folder` (a path of this system; the module's
// backslashes are added to it as the module would).
CheckReport RunCheck(const std::string& folder);

std::string FormatCheckText(const CheckReport& report);
std::string FormatCheckJson(const CheckReport& report);
