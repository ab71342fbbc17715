#include "session_report.h"

#include <cstdio>

namespace {

std::string Time(double t) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f s", t);
    return text;
}

std::string Pad(const std::string& text, size_t width) {
    return text.size() >= width ? text + " " : text + std::string(width - text.size(), ' ');
}

// Seconds rounded to the millisecond, as the JSON carries them.
double Ms(double t) { return static_cast<double>(static_cast<int64_t>(t * 1000.0 + (t < 0 ? -0.5 : 0.5))) / 1000.0; }

}  // namespace

const char* OutcomeName(CommandOutcome outcome) {
    switch (outcome) {
        case CommandOutcome::Pending: return "never acknowledged";
        case CommandOutcome::Acknowledged: return "acknowledged";
        case CommandOutcome::Discarded: return "discarded";
        case CommandOutcome::Replaced: return "replaced";
    }
    return "";
}

std::string FormatReportText(const SessionReport& report) {
    std::string out;
    out += "Sounds played: " + std::to_string(report.plays.size()) + "\n";
    if (!report.plays.empty()) {
        out += "  " + Pad("start", 10) + Pad("end", 10) + Pad("length", 10) + Pad("sound", 14) + Pad("WAV file", 22) +
               Pad("how", 8) + Pad("volume", 8) + Pad("pan", 8) + "ended by\n";
    }
    for (const SoundPlay& play : report.plays) {
        out += "  " + Pad(Time(play.start), 10) + Pad(Time(play.end), 10) + Pad(Time(play.seconds()), 10) +
               Pad(play.sound, 14) + Pad(play.wavName, 22) + Pad(play.looped ? "looped" : "once", 8) +
               Pad(std::to_string(play.volume), 8) + Pad(std::to_string(play.pan), 8) + play.endedBy + "\n";
        for (const PlayChange& change : play.changes) {
            out += "      from " + Time(change.time) + ": volume " + std::to_string(change.volume) + ", pan " +
                   std::to_string(change.pan) + (change.looped ? ", looped" : ", once") + "\n";
        }
    }

    out += "\nCommands: " + std::to_string(report.commands.size()) + "\n";
    for (const CommandRecord& c : report.commands) {
        std::string value = std::to_string(c.value) + " " + c.meaning;
        if (c.volume) value += ", volume " + std::to_string(*c.volume);
        if (c.pan) value += ", pan " + std::to_string(*c.pan);
        std::string outcome = OutcomeName(c.outcome);
        if (c.outcome != CommandOutcome::Pending) outcome += " at " + Time(c.resolvedAt);
        if (!c.result.empty()) outcome += ": " + c.result;
        out += "  " + Pad(Time(c.time), 10) + Pad(c.target, 14) + Pad(value, 34) + outcome + "\n";
    }

    out += "\nEnable-state changes: " + std::to_string(report.transitions.size()) + "\n";
    for (const EnableTransition& t : report.transitions) {
        out += "  " + Pad(Time(t.time), 10) + Pad(t.enabled ? "enabled" : "disabled", 10) +
               (t.causes.empty() ? std::string() : "after " + t.causes) + "\n";
    }

    if (!report.tests.empty()) {
        out += "\nPress-to-test: " + std::to_string(report.tests.size()) + "\n";
        for (const TestRun& test : report.tests) {
            char value[32];
            std::snprintf(value, sizeof value, "%g", test.value);
            out += "  " + Pad(Time(test.time), 10) + Pad(test.test, 14) + Pad(test.variable + " = " + value, 36) +
                   (test.returnedAt ? "back to 1 at " + Time(*test.returnedAt) : std::string("never back to 1")) + "\n";
        }
    }

    out += "\nSuspicious: " + (report.findings.empty() ? std::string("nothing") : std::to_string(report.findings.size())) + "\n";
    for (const Finding& finding : report.findings) {
        out += "  " + Pad(Time(finding.time), 10) + "[" + finding.kind + "] " + finding.text + "\n";
    }
    return out;
}

nlohmann::json ReportJson(const SessionReport& report) {
    using nlohmann::json;
    json plays = json::array();
    for (const SoundPlay& play : report.plays) {
        json changes = json::array();
        for (const PlayChange& c : play.changes) {
            changes.push_back({{"time", Ms(c.time)}, {"volume", c.volume}, {"pan", c.pan}, {"looped", c.looped}});
        }
        plays.push_back({{"sound", play.sound},
                         {"slot", play.slot ? json(*play.slot) : json(nullptr)},
                         {"wavFile", play.wavName},
                         {"start", Ms(play.start)},
                         {"end", Ms(play.end)},
                         {"seconds", Ms(play.seconds())},
                         {"looped", play.looped},
                         {"volume", play.volume},
                         {"pan", play.pan},
                         {"changes", changes},
                         {"endedBy", play.endedBy}});
    }
    json commands = json::array();
    for (const CommandRecord& c : report.commands) {
        json command = {{"time", Ms(c.time)},    {"target", c.target},   {"variable", c.variable},
                        {"value", c.value},      {"meaning", c.meaning}, {"outcome", OutcomeName(c.outcome)},
                        {"result", c.result}};
        command["resolvedAt"] = c.outcome == CommandOutcome::Pending ? json(nullptr) : json(Ms(c.resolvedAt));
        if (c.volume) command["volume"] = *c.volume;
        if (c.pan) command["pan"] = *c.pan;
        commands.push_back(command);
    }
    json transitions = json::array();
    for (const EnableTransition& t : report.transitions) {
        transitions.push_back({{"time", Ms(t.time)}, {"enabled", t.enabled}, {"causes", t.causes}});
    }
    json tests = json::array();
    for (const TestRun& t : report.tests) {
        tests.push_back({{"time", Ms(t.time)},
                         {"test", t.test},
                         {"variable", t.variable},
                         {"value", t.value},
                         {"returnedAt", t.returnedAt ? json(Ms(*t.returnedAt)) : json(nullptr)}});
    }
    json findings = json::array();
    for (const Finding& f : report.findings) findings.push_back({{"time", Ms(f.time)}, {"kind", f.kind}, {"text", f.text}});
    return {{"seconds", Ms(report.end)}, {"updates", report.updates}, {"plays", plays},
            {"commands", commands},      {"enableChanges", transitions}, {"tests", tests},
            {"suspicious", findings}};
}
