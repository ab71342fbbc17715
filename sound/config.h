// The sound module's folders and its configuration file twsound.cfg.
//
// SetUpFiles runs on the sound gauge's first connect-to-window service: it
// finds the sound folder below the simulator's folder and decides whether
// logging is on. ReadConfigFile runs on the first pre-initialise service: it
// reads the five general settings and the sound item table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// One configured sound. Its index in soundItems is its number everywhere in
// the module, its sound slot included.
struct STsoundItem {
    std::string wavFile;        // full path of the WAV file
    std::string lVariable;      // "(L:name, number)", the item's command variable
    int32_t command = -1;       // last command read; -1 when none is pending
    int32_t defaultVolume = 0;  // hundredths of a decibel, -10000..0
    int32_t savedVolume = 0;    // kept by "silence all", given back by "restore all"
};

// There are 100 sound slots; a valid item line beyond the 100th has none and
// is not stored.
constexpr std::size_t kMaxSoundItems = 100;

extern std::string simFolder;
extern std::string soundFolder;
extern std::string configPath;
// logPath, logFile and logEnabled belong to the log (log.h); SetUpFiles sets them.

// The general settings, each a variable reference; empty when not configured.
extern std::string masterController;
extern std::string bufferVolRead;
extern std::string bufferPanRead;
extern std::string bufferVolWrite;
extern std::string bufferPanWrite;

extern std::vector<STsoundItem> soundItems;

void SetUpFiles();
// Puts the configuration and log state back to what it is when the module
// is loaded, logging off. The module itself never needs it (its state lives
// as long as it is loaded); the configuration checker and the tests read
// several folders in one process.
void ResetConfigurationState();
// False when the file cannot be opened; nothing changes then.
bool ReadConfigFile(std::string path);

std::string GetSimFolder();
std::string AddTrailingBackslash(std::string folder);
std::string JoinPath(std::string folder, std::string name);
std::string TrimLine(std::string text);
std::string ToLowerCopy(std::string text);
std::string ValueAfterEquals(std::string text);
std::string MakeLVariableText(std::string name);
int32_t StringToInt(std::string text);
std::vector<std::string> SplitString(std::string text, char delimiter);

struct SectionRange {
    bool found = false;
    std::size_t header = 0;  // index of the header line
    std::size_t first = 0;   // content: lines [first, end)
    std::size_t end = 0;
};
SectionRange FindSection(const std::vector<std::string>& lines, std::string name);

bool ParseConfigLines(const std::vector<std::string>& lines);
void ParseGeneralSection(std::vector<std::string> lines);
void ParseSoundItemsSection(std::vector<std::string> lines);
STsoundItem ParseSoundItem(std::string line);

// What a reading of the configuration did with each line, for the
// configuration checker. The module itself runs without it
// (configDiagnostics is null); when it is set, the parse steps report to it
// and do nothing else differently.
enum class ConfigLineUse {
    SettingSet,         // [general]: set the setting named in `detail`
    SettingNoKey,       // [general]: matches none of the five keys
    ItemStored,         // [sounditems]: stored; `detail` is the item's index
    ItemTooShort,       // [sounditems]: fewer than 7 characters
    ItemNoComma,        // [sounditems]: no comma, so no WAV file token
    ItemNoName,         // [sounditems]: empty first token
    ItemWavNotFound,    // [sounditems]: the WAV file (`detail`) did not open
    ItemBeyondSlots,    // [sounditems]: valid (WAV file `detail`), but the 100 slots are taken
};

struct ConfigLineReport {
    std::size_t index;  // into the line array: the line number minus 1
    ConfigLineUse use;
    std::string detail;
};

struct ConfigDiagnostics {
    std::vector<std::string> rawLines;  // as read, before normalising
    std::vector<std::string> lines;     // as the parse steps see them
    SectionRange general;
    SectionRange soundItems;
    std::vector<ConfigLineReport> reports;  // in the order the parse steps made them
    std::size_t currentIndex = 0;           // the item line ParseSoundItem is reading
};

extern ConfigDiagnostics* configDiagnostics;
