#include "config.h"

#include <share.h>
#include <windows.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "log.h"
#include "var_access.h"
#include "volume_pan.h"

std::string simFolder;
std::string soundFolder;
std::string configPath;

std::string masterController;
std::string bufferVolRead;
std::string bufferPanRead;
std::string bufferVolWrite;
std::string bufferPanWrite;

std::vector<STsoundItem> soundItems;

ConfigDiagnostics* configDiagnostics = nullptr;

namespace {

constexpr std::size_t kMinimumItemLine = 7;

void Report(std::size_t index, ConfigLineUse use, std::string detail = {}) {
    if (configDiagnostics != nullptr) configDiagnostics->reports.push_back({index, use, std::move(detail)});
}

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};

}  // namespace

std::string GetSimFolder() {
    char path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    // A path that did not fit comes back cut (and on older systems without
    // its terminating zero): use only what is in the buffer.
    if (length > MAX_PATH) length = MAX_PATH;
    std::string executable(path, length);
    executable = executable.c_str();
    const std::size_t separator = executable.find_last_of("\\/");
    if (separator == std::string::npos) return executable;
    return executable.substr(0, separator);
}

std::string AddTrailingBackslash(std::string folder) {
    if (folder.empty() || folder.back() != '\\') folder += '\\';
    return folder;
}

std::string JoinPath(std::string folder, std::string name) { return AddTrailingBackslash(std::move(folder)) + name; }

std::string TrimLine(std::string text) {
    std::string lineOut;
    lineOut.reserve(text.size());
    for (char c : text) {
        // NUL and every byte from 0x80 up: only ASCII reaches the parser.
        if (static_cast<signed char>(c) <= 0) continue;
        if ((c == ' ' || c == '\t') && lineOut.empty()) continue;
        lineOut += c;
    }
    while (!lineOut.empty() && (lineOut.back() == ' ' || lineOut.back() == '\t')) lineOut.pop_back();
    return lineOut;
}

std::string ToLowerCopy(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

std::string ValueAfterEquals(std::string text) {
    const std::size_t equals = text.find('=');
    if (equals == std::string::npos) return {};
    return text.substr(equals + 1);
}

std::string MakeLVariableText(std::string name) { return "(L:" + ToLowerCopy(std::move(name)) + ", number)"; }

// The C library's atoi rules (leading white space, optional sign, digits up
// to the first other character, 0 without digits), except that a number
// beyond the 32-bit range gives the nearest end of the range instead of
// whatever the platform's atoi makes of it.
int32_t StringToInt(std::string text) {
    const long long value = std::strtoll(text.c_str(), nullptr, 10);
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

std::vector<std::string> SplitString(std::string text, char delimiter) {
    std::vector<std::string> outList;
    std::string checkString = TrimLine(std::move(text));
    if (checkString.empty()) return outList;
    for (std::size_t p = checkString.find(delimiter); p != std::string::npos; p = checkString.find(delimiter)) {
        outList.push_back(p == 0 ? std::string() : TrimLine(checkString.substr(0, p)));
        checkString = TrimLine(checkString.substr(p + 1));
    }
    outList.push_back(checkString);
    return outList;
}

SectionRange FindSection(const std::vector<std::string>& lines, std::string name) {
    SectionRange range;
    const std::string sectionIDCpl = "[" + ToLowerCopy(std::move(name)) + "]";
    std::size_t header = 0;
    while (header < lines.size() && ToLowerCopy(lines[header]) != sectionIDCpl) ++header;
    // Not there, or the file's last line: no section.
    if (header + 1 >= lines.size()) return range;
    range.found = true;
    range.header = header;
    range.first = header + 1;
    range.end = range.first;
    while (range.end < lines.size() && (lines[range.end].empty() || lines[range.end][0] != '[')) ++range.end;
    return range;
}

void ParseGeneralSection(std::vector<std::string> lines) {
    const SectionRange section = FindSection(lines, "general");
    if (configDiagnostics != nullptr) configDiagnostics->general = section;
    if (!section.found) return;

    struct Key {
        const char* checkItem;
        std::string* setting;
    };
    const Key keys[] = {
        {"mastercontroller=", &masterController}, {"buffervolread=", &bufferVolRead},
        {"bufferpanread=", &bufferPanRead},       {"buffervolwrite=", &bufferVolWrite},
        {"bufferpanwrite=", &bufferPanWrite},
    };
    for (std::size_t i = section.first; i < section.end; ++i) {
        const std::string& line = lines[i];
        bool matched = false;
        for (const Key& key : keys) {
            const std::string checkItem = key.checkItem;
            if (line.size() < checkItem.size() || ToLowerCopy(line.substr(0, checkItem.size())) != checkItem) continue;
            *key.setting = MakeLVariableText(ValueAfterEquals(line));
            Report(i, ConfigLineUse::SettingSet, checkItem.substr(0, checkItem.size() - 1));
            matched = true;
        }
        if (!matched && !line.empty()) Report(i, ConfigLineUse::SettingNoKey);
    }
}

STsoundItem ParseSoundItem(std::string line) {
    STsoundItem thisSoundItem;
    const std::size_t index = configDiagnostics != nullptr ? configDiagnostics->currentIndex : 0;

    const std::vector<std::string> itemStrings = SplitString(std::move(line), ',');
    if (itemStrings.size() < 2 || itemStrings[0].empty()) {
        Report(index, itemStrings.size() < 2 ? ConfigLineUse::ItemNoComma : ConfigLineUse::ItemNoName);
        return thisSoundItem;
    }
    thisSoundItem.lVariable = MakeLVariableText(itemStrings[0]);
    // The variable is reset before the WAV file is tried: it reads -1 even
    // when the item is dropped.
    SetVarInt(thisSoundItem.lVariable, -1);

    thisSoundItem.wavFile = JoinPath(soundFolder, itemStrings[1]);
    // Only an existence test: the sound output opens the file for itself.
    FILE* wave = _fsopen(thisSoundItem.wavFile.c_str(), "r", _SH_DENYNO);
    if (wave == nullptr) {
        LogText(5, thisSoundItem.wavFile);
        Report(index, ConfigLineUse::ItemWavNotFound, thisSoundItem.wavFile);
        thisSoundItem.wavFile.clear();
        return thisSoundItem;
    }
    std::fclose(wave);

    LogText(6, thisSoundItem.wavFile);
    thisSoundItem.command = -1;
    thisSoundItem.defaultVolume = kVolumeFull;
    if (itemStrings.size() >= 3) {
        const int32_t volume = StringToInt(itemStrings[2]);
        thisSoundItem.defaultVolume = ClampVolume(volume);
    }
    // A "restore all" before any "silence all" gives the configured level.
    thisSoundItem.savedVolume = thisSoundItem.defaultVolume;
    return thisSoundItem;
}

void ParseSoundItemsSection(std::vector<std::string> lines) {
    soundItems.clear();
    const SectionRange section = FindSection(lines, "sounditems");
    if (configDiagnostics != nullptr) configDiagnostics->soundItems = section;
    if (!section.found) return;

    for (std::size_t i = section.first; i < section.end; ++i) {
        if (lines[i].size() < kMinimumItemLine) {
            if (!lines[i].empty()) Report(i, ConfigLineUse::ItemTooShort);
            continue;
        }
        if (configDiagnostics != nullptr) configDiagnostics->currentIndex = i;
        STsoundItem newSoundItem = ParseSoundItem(lines[i]);
        if (newSoundItem.wavFile.empty() || newSoundItem.lVariable.empty()) continue;
        // The sound slots end at 100; an item beyond them could never play.
        if (soundItems.size() >= kMaxSoundItems) {
            Report(i, ConfigLineUse::ItemBeyondSlots, newSoundItem.wavFile);
            continue;
        }
        Report(i, ConfigLineUse::ItemStored, std::to_string(soundItems.size()));
        soundItems.push_back(newSoundItem);
    }
}

bool ParseConfigLines(const std::vector<std::string>& lines) {
    ParseGeneralSection(lines);
    ParseSoundItemsSection(lines);
    return true;
}

bool ReadConfigFile(std::string path) {
    try {
        std::unique_ptr<FILE, FileCloser> file(_fsopen(path.c_str(), "r", _SH_DENYNO));
        if (!file) return false;

        // Text mode: a CR before the LF is gone already. Lines have no length
        // limit; a last line without a line end counts, and after a final line
        // end one more, empty line is read.
        std::vector<std::string> txtFile;
        for (;;) {
            std::string line;
            int c;
            while ((c = std::getc(file.get())) != EOF && c != '\n') line += static_cast<char>(c);
            if (configDiagnostics != nullptr) configDiagnostics->rawLines.push_back(line);
            txtFile.push_back(TrimLine(std::move(line)));
            if (c == EOF) break;
        }
        file.reset();

        if (configDiagnostics != nullptr) configDiagnostics->lines = txtFile;
        return ParseConfigLines(txtFile);
    } catch (...) {
        // Out of memory on a huge file: whatever was read stays, nothing
        // leaves the simulator's call.
        return false;
    }
}

void ResetConfigurationState() {
    simFolder.clear();
    soundFolder.clear();
    configPath.clear();
    masterController.clear();
    bufferVolRead.clear();
    bufferPanRead.clear();
    bufferVolWrite.clear();
    bufferPanWrite.clear();
    soundItems.clear();
    configDiagnostics = nullptr;
    if (logFile != nullptr) std::fclose(logFile);
    logFile = nullptr;
    logEnabled = false;
    logPath.clear();
}

void SetUpFiles() {
    try {
        simFolder = GetSimFolder();
        soundFolder = JoinPath(simFolder, "Sound\\Tarnwick_HX8");
        configPath = JoinPath(soundFolder, "twsound.cfg");
        logPath = JoinPath(soundFolder, "logfile.txt");
    } catch (...) {
        return;  // out of memory: logging stays off, nothing will be found
    }
    // Only the last level is created; a missing Sound folder stays missing.
    if (GetFileAttributesA(soundFolder.c_str()) == INVALID_FILE_ATTRIBUTES) CreateDirectoryA(soundFolder.c_str(), nullptr);

    // The module never creates its log: logging is on exactly when the file
    // is there now. The test opening stays open until the first message.
    if (logFile != nullptr) std::fclose(logFile);
    logFile = _fsopen(logPath.c_str(), "r", _SH_DENYNO);
    logEnabled = logFile != nullptr;
}
