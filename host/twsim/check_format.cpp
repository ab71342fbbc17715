// The check's two outputs: text for a person, JSON for scripts.
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "check.h"

namespace {

// Control characters (a lone CR in a line, say) shown as \xNN, so that
// they cannot garble the terminal.
std::string Printable(const std::string& text) {
    std::string out;
    for (char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", u);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out;
}

std::string Pad(const std::string& text, std::size_t width) {
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

std::string Plural(std::size_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string DescribeFormat(const CheckedWave& wave) {
    const WaveFormat& f = *wave.format;
    std::string text = f.formatTag == 1 ? "PCM" : "format " + std::to_string(f.formatTag);
    text += ", " + Plural(f.channels, "channel", "channels");
    text += ", " + std::to_string(f.samplesPerSecond) + " Hz";
    text += ", " + std::to_string(f.bitsPerSample) + " bits";
    text += ", " + Plural(*wave.dataSize, "byte", "bytes") + " of data";
    return text;
}

std::string LinesText(const std::vector<std::size_t>& lines) {
    std::string text = lines.size() == 1 ? "line " : "lines ";
    for (std::size_t i = 0; i < lines.size(); ++i) text += (i == 0 ? "" : ", ") + std::to_string(lines[i]);
    return text;
}

}  // namespace

std::string FormatCheckText(const CheckReport& report) {
    std::ostringstream out;
    out << "Sound folder   " << Printable(report.soundFolder) << "\n";
    if (!report.configRead) {
        out << "Configuration  " << Printable(report.configPath) << ": NOT FOUND or not readable\n\n"
            << "The module reads no settings and no sound items from this folder.\n"
            << "Result: the configuration cannot be read.\n";
        return out.str();
    }
    out << "Configuration  " << Printable(report.configPath) << ": " << Plural(report.lineCount, "line", "lines")
        << " read\n\n";

    out << "General settings\n";
    for (const CheckedSetting& setting : report.settings) {
        out << "  " << Pad(setting.key, 18);
        if (setting.reference.empty()) {
            out << "(not set)\n";
        } else {
            out << Pad(Printable(setting.reference), 34) << " line " << setting.line << "\n";
        }
    }

    out << "\nSound items (" << report.items.size() << " of at most 100)\n";
    if (report.items.empty()) {
        out << "  none\n";
    } else {
        std::size_t variableWidth = 8;
        for (const CheckedItem& item : report.items) variableWidth = std::max(variableWidth, Printable(item.variable).size());
        out << "  " << Pad("index", 7) << Pad("line", 6) << Pad("variable", variableWidth + 2) << Pad("volume", 8)
            << "WAV file\n";
        for (const CheckedItem& item : report.items) {
            out << "  " << Pad(std::to_string(item.index), 7) << Pad(std::to_string(item.line), 6)
                << Pad(Printable(item.variable), variableWidth + 2) << Pad(std::to_string(item.defaultVolume), 8)
                << Printable(item.wavName) << "\n";
        }
    }

    out << "\nIgnored lines";
    if (report.ignoredLines.empty()) {
        out << ": none\n";
    } else {
        out << "\n";
        for (const CheckedLine& line : report.ignoredLines) {
            out << "  line " << line.line << (line.itemDropped ? " (item dropped)" : "") << ": " << line.reason << "\n"
                << "      " << Printable(line.text) << "\n";
        }
    }

    if (!report.notes.empty()) {
        out << "\nNotes\n";
        for (const CheckedNote& note : report.notes) out << "  line " << note.line << ": " << Printable(note.text) << "\n";
    }

    out << "\nWAV files";
    if (report.waves.empty()) {
        out << ": none\n";
    } else {
        out << "\n";
        for (const CheckedWave& wave : report.waves) {
            out << "  " << Printable(wave.name) << " (" << LinesText(wave.lines) << ")\n      ";
            if (wave.format) out << DescribeFormat(wave) << (wave.usable ? "" : "\n      ");
            if (!wave.usable) out << "CANNOT BE USED: " << wave.problem;
            out << "\n";
        }
    }

    if (!report.variablesWritten.empty()) {
        out << "\nCalculator code sent while reading (each item's variable set to -1)\n";
        for (const std::string& code : report.variablesWritten) out << "  " << Printable(code) << "\n";
    }

    out << "\nResult: " << Plural(report.items.size(), "item", "items") << " stored, ";
    out << (report.droppedItems == 0 ? std::string("no item line dropped")
                                     : Plural(report.droppedItems, "item line", "item lines") + " dropped");
    out << ", ";
    out << (report.unusableWaves == 0 ? std::string("every WAV file usable")
                                      : Plural(report.unusableWaves, "WAV file", "WAV files") + " cannot be used");
    out << ".\n";
    return out.str();
}

std::string FormatCheckJson(const CheckReport& report) {
    using Json = nlohmann::ordered_json;
    Json json;
    json["soundFolder"] = report.soundFolder;
    json["configFile"] = report.configPath;
    json["configRead"] = report.configRead;
    json["lineCount"] = report.lineCount;

    Json settings = Json::object();
    for (const CheckedSetting& setting : report.settings) {
        settings[setting.key] = setting.reference.empty()
                                    ? Json(nullptr)
                                    : Json{{"reference", setting.reference}, {"line", setting.line}};
    }
    json["settings"] = settings;

    Json items = Json::array();
    for (const CheckedItem& item : report.items) {
        items.push_back({{"index", item.index},
                         {"line", item.line},
                         {"variable", item.variable},
                         {"wavFile", item.wavFile},
                         {"wavName", item.wavName},
                         {"defaultVolume", item.defaultVolume}});
    }
    json["items"] = items;

    Json ignored = Json::array();
    for (const CheckedLine& line : report.ignoredLines) {
        ignored.push_back(
            {{"line", line.line}, {"text", line.text}, {"reason", line.reason}, {"itemDropped", line.itemDropped}});
    }
    json["ignoredLines"] = ignored;

    Json notes = Json::array();
    for (const CheckedNote& note : report.notes) notes.push_back({{"line", note.line}, {"text", note.text}});
    json["notes"] = notes;

    Json waves = Json::array();
    for (const CheckedWave& wave : report.waves) {
        Json entry{{"wavFile", wave.path}, {"wavName", wave.name}, {"lines", wave.lines}, {"usable", wave.usable}};
        if (wave.format) {
            const WaveFormat& f = *wave.format;
            entry["formatTag"] = f.formatTag;
            entry["channels"] = f.channels;
            entry["samplesPerSecond"] = f.samplesPerSecond;
            entry["averageBytesPerSecond"] = f.averageBytesPerSecond;
            entry["blockAlign"] = f.blockAlign;
            entry["bitsPerSample"] = f.bitsPerSample;
            entry["dataSize"] = *wave.dataSize;
        }
        entry["problem"] = wave.usable ? Json(nullptr) : Json(wave.problem);
        waves.push_back(entry);
    }
    json["wavFiles"] = waves;
    json["calculatorCode"] = report.variablesWritten;
    json["droppedItems"] = report.droppedItems;
    json["unusableWavFiles"] = report.unusableWaves;
    json["ok"] = report.ok();
    // Paths come from the command line and need not be UTF-8.
    return json.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}
