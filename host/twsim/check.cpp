#include "check.h"

#include <native_path.h>

#include <windows.h>
#include <mmsystem.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>

#include "config.h"
#include "log.h"
#include "standard_routines.h"
#include "wave_reader.h"

namespace {

const char* const kSettingKeys[] = {"mastercontroller", "buffervolread", "bufferpanread", "buffervolwrite",
                                    "bufferpanwrite"};

// DirectSound refuses a buffer smaller than this.
constexpr uint32_t kSmallestBuffer = 4;

// The calculator-code service the frame talks to while the check reads: it
// only records the texts (the reader's variable writes).
std::vector<std::string>* recordedCode = nullptr;

int32_t FSAPI RecordCode(const char* code, double*, int32_t*, const char**) {
    if (recordedCode != nullptr) recordedCode->emplace_back(code != nullptr ? code : "");
    return 1;
}

std::string Squeezed(const std::string& header) {
    // "[ Sound Items ] x" -> "[sounditems]": what the author probably meant.
    std::string out;
    for (char c : ToLowerCopy(header)) {
        if (c == ' ' || c == '\t') continue;
        out += c;
        if (c == ']') break;
    }
    return out;
}

bool IsCleanInteger(const std::string& text) {
    std::size_t i = (!text.empty() && (text[0] == '-' || text[0] == '+')) ? 1 : 0;
    if (i >= text.size()) return false;
    for (; i < text.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
    }
    return true;
}

std::string FourCC(const char* bytes) {
    std::string out;
    for (int i = 0; i < 4; ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        out += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
    }
    return out;
}

uint32_t Le32(const char* p) {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
}

uint16_t Le16(const char* p) {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return static_cast<uint16_t>(b[0] | (b[1] << 8));
}

// What the file holds where the reader looks, to say why the reader refused
// it (the reader itself only says that it failed).
struct RiffProbe {
    std::string refusal;  // a reason the reader fails, or empty
    uint64_t fileSize = 0;
    uint64_t dataOffset = 0;  // first byte of the "data" chunk's data
};

RiffProbe ProbeRiff(const std::string& nativePath) {
    RiffProbe probe;
    std::ifstream in(nativePath, std::ios::binary);
    if (!in) {
        probe.refusal = "cannot be opened";
        return probe;
    }
    in.seekg(0, std::ios::end);
    probe.fileSize = static_cast<uint64_t>(in.tellg());
    auto readAt = [&](uint64_t offset, char* out, std::size_t count) {
        if (offset + count > probe.fileSize) return false;
        in.seekg(static_cast<std::streamoff>(offset));
        return static_cast<bool>(in.read(out, static_cast<std::streamsize>(count)));
    };

    char header[12];
    if (!readAt(0, header, sizeof header)) {
        probe.refusal = "not a RIFF file (shorter than a RIFF header)";
        return probe;
    }
    if (std::string(header, 4) == "RIFX") {
        probe.refusal = "a big-endian RIFF file (RIFX), which the reader does not read";
        return probe;
    }
    if (std::string(header, 4) != "RIFF") {
        probe.refusal = "not a RIFF file";
        return probe;
    }
    if (std::string(header + 8, 4) != "WAVE") {
        probe.refusal = "a RIFF file of form type \"" + FourCC(header + 8) + "\", not \"WAVE\"";
        return probe;
    }
    const uint64_t end = std::min<uint64_t>(8 + static_cast<uint64_t>(Le32(header + 4)), probe.fileSize);
    bool haveFmt = false;
    bool haveData = false;
    uint32_t fmtSize = 0;
    uint64_t fmtOffset = 0;
    for (uint64_t pos = 12; pos + 8 <= end;) {
        char chunk[8];
        if (!readAt(pos, chunk, sizeof chunk)) break;
        const uint32_t size = Le32(chunk + 4);
        const std::string id(chunk, 4);
        if (id == "fmt " && !haveFmt) {
            haveFmt = true;
            fmtSize = size;
            fmtOffset = pos + 8;
        } else if (id == "data" && !haveData) {
            haveData = true;
            probe.dataOffset = pos + 8;
        }
        pos += 8 + static_cast<uint64_t>(size) + (size & 1);
    }
    if (!haveFmt) {
        probe.refusal = "no \"fmt \" chunk";
    } else if (fmtSize < 16) {
        probe.refusal = "the \"fmt \" chunk has " + std::to_string(fmtSize) + " bytes, fewer than 16";
    } else if (!haveData) {
        probe.refusal = "no \"data\" chunk";
    } else {
        char format[18];
        if (readAt(fmtOffset, format, sizeof format) && Le16(format) != WAVE_FORMAT_PCM &&
            fmtOffset + 18 + Le16(format + 16) > probe.fileSize) {
            probe.refusal = "its format block runs past the end of the file";
        }
    }
    return probe;
}

std::string FormatTagName(uint16_t tag) {
    switch (tag) {
        case 1: return "PCM";
        case 2: return "Microsoft ADPCM";
        case 3: return "IEEE float";
        case 6: return "A-law";
        case 7: return "mu-law";
        case 0x11: return "IMA ADPCM";
        case 0x55: return "MPEG layer 3";
        case 0xFFFE: return "extensible";
        default: return "unknown";
    }
}

void CheckWaveFile(CheckedWave& wave, bool moduleFoundIt) {
    const std::string nativePath = NativePath(wave.path.c_str());
    std::error_code error;
    if (!moduleFoundIt) {
        if (!std::filesystem::exists(nativePath, error)) {
            wave.problem = "missing";
        } else if (std::filesystem::is_directory(nativePath, error)) {
            wave.problem = "a folder, not a file";
        } else {
            wave.problem = "cannot be opened for reading";
        }
        return;
    }

    // The verdict is the module's own reader's.
    WaveFileReader reader;
    if (FAILED(reader.Open(wave.path.c_str())) || reader.format == nullptr) {
        const RiffProbe probe = ProbeRiff(nativePath);
        wave.problem = probe.refusal.empty() ? "the WAV reader refuses it" : probe.refusal;
        return;
    }
    const WAVEFORMATEX& format = *reader.format;
    wave.format = WaveFormat{format.wFormatTag,    format.nChannels,      format.nSamplesPerSec,
                             format.nAvgBytesPerSec, format.nBlockAlign, format.wBitsPerSample,
                             format.cbSize};
    const uint32_t dataSize = reader.dataChunk.cksize;
    wave.dataSize = dataSize;

    std::vector<std::string> problems;
    // The module reads the whole "data" chunk at once; the check reads it in
    // pieces, which fails exactly when the file ends early.
    std::vector<BYTE> piece(64 * 1024);
    for (uint32_t remaining = dataSize; remaining > 0;) {
        const UINT count = std::min<uint32_t>(remaining, static_cast<uint32_t>(piece.size()));
        UINT got = 0;
        if (FAILED(reader.Read(count, piece.data(), &got))) {
            const RiffProbe probe = ProbeRiff(nativePath);
            const uint64_t held = probe.fileSize > probe.dataOffset ? probe.fileSize - probe.dataOffset : 0;
            problems.push_back("the \"data\" chunk claims " + std::to_string(dataSize) + " bytes, but the file holds only " +
                               std::to_string(std::min<uint64_t>(held, dataSize)));
            break;
        }
        if (got == 0) break;
        remaining -= got;
    }
    if (format.wFormatTag != WAVE_FORMAT_PCM) {
        problems.push_back("format " + std::to_string(format.wFormatTag) + " (" + FormatTagName(format.wFormatTag) +
                           ") is not PCM: the sound device may refuse it");
    }
    if (dataSize < kSmallestBuffer) {
        problems.push_back(std::to_string(dataSize) + " bytes of sound data: a sound buffer needs at least " +
                           std::to_string(kSmallestBuffer));
    }
    for (const std::string& problem : problems) wave.problem += (wave.problem.empty() ? "" : "; ") + problem;
    wave.usable = problems.empty();
}

// Reasons for the lines no parse step looked at.
void ExplainUnreadLines(const ConfigDiagnostics& diagnostics, const std::vector<bool>& accounted,
                        CheckReport& report) {
    const std::vector<std::string>& lines = diagnostics.lines;
    std::string governing;        // the last header line above, as written
    bool governingKnown = false;  // ... and whether it is a header the module reads
    bool seenGeneral = false;
    bool seenSoundItems = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (!line.empty() && line[0] == '[') {
            governing = line;
            const std::string lower = ToLowerCopy(line);
            const bool general = lower == "[general]";
            const bool items = lower == "[sounditems]";
            governingKnown = general || items;
            const bool first = (general && !seenGeneral) || (items && !seenSoundItems);
            seenGeneral = seenGeneral || general;
            seenSoundItems = seenSoundItems || items;
            if (accounted[i]) continue;
            CheckedLine note{i + 1, line, "", false};
            if (first) {
                note.reason = "section header on the file's last line: the section is empty";
            } else if (governingKnown) {
                note.reason = "a second " + lower + " header: only the first counts, the lines below it are not read";
                note.itemDropped = items;
            } else {
                const std::string meant = Squeezed(line);
                note.reason = "not a section header the module reads";
                if (meant == "[general]" || meant == "[sounditems]") {
                    note.reason += " (write " + meant + ", with no blanks inside the brackets and nothing after them)";
                }
            }
            report.ignoredLines.push_back(note);
            continue;
        }
        if (accounted[i] || line.empty()) continue;
        CheckedLine note{i + 1, line, "", false};
        if (governing.empty()) {
            note.reason = "before the first section header: not read";
        } else if (governingKnown) {
            note.reason = "below a second " + ToLowerCopy(governing) + " header: not read";
            note.itemDropped = ToLowerCopy(governing) == "[sounditems]";
        } else {
            note.reason = "in section " + governing + ", which the module does not read";
            note.itemDropped = Squeezed(governing) == "[sounditems]";
        }
        report.ignoredLines.push_back(note);
    }
}

void NoteItemLine(const std::string& line, std::size_t lineNumber, CheckReport& report) {
    const std::vector<std::string> tokens = SplitString(line, ',');
    if (tokens.size() >= 3) {
        const std::string& volume = tokens[2];
        const int32_t read = StringToInt(volume);
        const int32_t used = std::clamp<int32_t>(read, -10000, 0);
        if (!volume.empty() && !IsCleanInteger(volume)) {
            report.notes.push_back({lineNumber, "volume \"" + volume + "\" is not a whole number: read as " + std::to_string(read)});
        }
        if (read != used) {
            report.notes.push_back({lineNumber, "volume " + std::to_string(read) + " is outside -10000..0: " +
                                                    std::to_string(used) + " is used"});
        }
    }
    if (tokens.size() > 3) report.notes.push_back({lineNumber, "text after the third comma is ignored"});
}

}  // namespace

CheckReport RunCheck(const std::string& folder) {
    CheckReport report;
    ResetConfigurationState();
    soundFolder = folder;
    report.soundFolder = folder;
    report.configPath = JoinPath(soundFolder, "twsound.cfg");

    ConfigDiagnostics diagnostics;
    PanelServices services{};
    services.executeCalculatorCode = RecordCode;
    PanelServices* const previous = ImportTable.panelServices;
    ImportTable.panelServices = &services;
    recordedCode = &report.variablesWritten;
    configDiagnostics = &diagnostics;
    report.configRead = ReadConfigFile(report.configPath);
    configDiagnostics = nullptr;
    recordedCode = nullptr;
    ImportTable.panelServices = previous;

    const std::vector<std::string>& lines = diagnostics.lines;
    report.lineCount = lines.size();
    // The empty line read after a final line end is no line of the file.
    if (report.lineCount > 0 && lines.back().empty() && diagnostics.rawLines.back().empty()) --report.lineCount;

    std::vector<bool> accounted(lines.size(), false);
    if (diagnostics.general.found) accounted[diagnostics.general.header] = true;
    if (diagnostics.soundItems.found) accounted[diagnostics.soundItems.header] = true;

    // Settings, and lines whose setting a later line replaces.
    const std::string* const values[] = {&masterController, &bufferVolRead, &bufferPanRead, &bufferVolWrite,
                                         &bufferPanWrite};
    std::map<std::string, std::size_t> settingLine;
    for (const ConfigLineReport& line : diagnostics.reports) {
        accounted[line.index] = true;
        if (line.use != ConfigLineUse::SettingSet) continue;
        auto earlier = settingLine.find(line.detail);
        if (earlier != settingLine.end()) {
            report.ignoredLines.push_back({earlier->second + 1, lines[earlier->second],
                                           "replaced by line " + std::to_string(line.index + 1) + ", which sets " +
                                               line.detail + " again",
                                           false});
        }
        settingLine[line.detail] = line.index;
        const std::string value = ValueAfterEquals(lines[line.index]);
        if (value.empty()) {
            report.notes.push_back({line.index + 1, "no variable name after \"=\": the setting becomes (L:, number)"});
        } else if (value[0] == ' ' || value[0] == '\t') {
            report.notes.push_back({line.index + 1, "the name after \"=\" begins with a blank, which stays part of the variable name"});
        }
    }
    for (std::size_t k = 0; k < 5; ++k) {
        CheckedSetting setting{kSettingKeys[k], *values[k], 0};
        if (auto found = settingLine.find(kSettingKeys[k]); found != settingLine.end()) setting.line = found->second + 1;
        report.settings.push_back(setting);
    }

    // Items, dropped item lines and the WAV files named.
    const std::string folderPrefix = AddTrailingBackslash(soundFolder);
    auto relativeName = [&](const std::string& path) {
        return path.compare(0, folderPrefix.size(), folderPrefix) == 0 ? path.substr(folderPrefix.size()) : path;
    };
    std::map<std::string, std::size_t> variableLine;
    std::vector<std::pair<std::string, bool>> wavesNamed;  // path, found by the module
    auto nameWave = [&](const std::string& path, std::size_t lineNumber, bool found) {
        auto wave = std::find_if(report.waves.begin(), report.waves.end(), [&](const CheckedWave& w) { return w.path == path; });
        if (wave == report.waves.end()) {
            report.waves.push_back({path, relativeName(path), {}, false, "", std::nullopt, std::nullopt});
            wavesNamed.emplace_back(path, found);
            wave = report.waves.end() - 1;
        }
        wave->lines.push_back(lineNumber);
    };
    for (const ConfigLineReport& line : diagnostics.reports) {
        const std::size_t lineNumber = line.index + 1;
        const std::string& text = lines[line.index];
        auto drop = [&](const std::string& reason) {
            report.ignoredLines.push_back({lineNumber, text, reason, true});
        };
        switch (line.use) {
            case ConfigLineUse::SettingSet:
                break;
            case ConfigLineUse::SettingNoKey: {
                std::string reason =
                    "not one of the keys mastercontroller=, buffervolread=, bufferpanread=, buffervolwrite=, bufferpanwrite=";
                const std::size_t equals = text.find('=');
                std::string key = ToLowerCopy(text.substr(0, equals));
                key.erase(std::remove_if(key.begin(), key.end(), [](char c) { return c == ' ' || c == '\t'; }), key.end());
                if (equals != std::string::npos &&
                    std::find(std::begin(kSettingKeys), std::end(kSettingKeys), key) != std::end(kSettingKeys)) {
                    reason += " (no blank may stand before \"=\")";
                }
                report.ignoredLines.push_back({lineNumber, text, reason, false});
                break;
            }
            case ConfigLineUse::ItemTooShort:
                drop("shorter than 7 characters: not read as an item");
                break;
            case ConfigLineUse::ItemNoComma:
                drop("no comma: an item line is variable, WAV file[, volume]");
                break;
            case ConfigLineUse::ItemNoName:
                drop("no variable name before the first comma");
                break;
            case ConfigLineUse::ItemWavNotFound:
                drop("WAV file " + relativeName(line.detail) + " not found (its variable is still set to -1)");
                nameWave(line.detail, lineNumber, false);
                break;
            case ConfigLineUse::ItemBeyondSlots:
                drop("beyond the 100th item: there is no sound slot for it");
                nameWave(line.detail, lineNumber, true);
                NoteItemLine(text, lineNumber, report);
                break;
            case ConfigLineUse::ItemStored: {
                const std::size_t index = std::stoul(line.detail);
                const STsoundItem& item = soundItems[index];
                report.items.push_back({index, lineNumber, item.lVariable, item.wavFile, relativeName(item.wavFile),
                                        item.defaultVolume});
                nameWave(item.wavFile, lineNumber, true);
                NoteItemLine(text, lineNumber, report);
                auto [first, inserted] = variableLine.emplace(item.lVariable, lineNumber);
                if (!inserted) {
                    report.notes.push_back({lineNumber, "the same variable as the item on line " + std::to_string(first->second) +
                                                            ": one command plays both"});
                }
                break;
            }
        }
    }
    ExplainUnreadLines(diagnostics, accounted, report);

    for (std::size_t i = 0; i < diagnostics.rawLines.size() && i < lines.size(); ++i) {
        const std::string& raw = diagnostics.rawLines[i];
        if (std::any_of(raw.begin(), raw.end(), [](char c) { return static_cast<signed char>(c) <= 0; })) {
            report.notes.push_back({i + 1, "bytes outside ASCII (or NUL) removed: the module reads \"" + lines[i] + "\""});
        }
    }

    for (std::size_t i = 0; i < report.waves.size(); ++i) CheckWaveFile(report.waves[i], wavesNamed[i].second);

    auto byLine = [](const auto& a, const auto& b) { return a.line < b.line; };
    std::stable_sort(report.ignoredLines.begin(), report.ignoredLines.end(), byLine);
    std::stable_sort(report.notes.begin(), report.notes.end(), byLine);
    report.droppedItems = static_cast<std::size_t>(
        std::count_if(report.ignoredLines.begin(), report.ignoredLines.end(), [](const CheckedLine& l) { return l.itemDropped; }));
    report.unusableWaves = static_cast<std::size_t>(
        std::count_if(report.waves.begin(), report.waves.end(), [](const CheckedWave& w) { return !w.usable; }));

    ResetConfigurationState();
    return report;
}
