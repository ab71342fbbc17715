#include "scenario.h"

#include <strings.h>

#include <toml++/toml.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>

#include "variables.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kTopKeys = "sound_folder, duration, modules, gauges, event";
constexpr const char* kActions[] = {"set", "command", "master", "notice", "slew", "test", "reload", "snapshot"};
constexpr const char* kActionList = "set, command, master, notice, slew, test, reload, snapshot";
// Seconds after the last event that a scenario without a duration runs on,
// so that what the last event started is heard.
constexpr double kTail = 2.0;

struct Named {
    const char* name;
    int32_t value;
};
constexpr Named kItemCommands[] = {{"stop", 0},       {"play_once", 1},   {"play_looped", 2},
                                   {"set_volume", 3}, {"read_volume", 4}, {"set_pan", 5},
                                   {"read_pan", 6},   {"play_once_volume_pan", 7}, {"play_looped_volume_pan", 8}};
constexpr Named kMasterCommands[] = {{"stop_all", 1}, {"silence_all", 2}, {"restore_all", 3}};

struct NamedNotice {
    const char* name;
    SimNotice notice;
};
constexpr NamedNotice kNotices[] = {{"pause", SimNotice::Pause},        {"unpause", SimNotice::Unpause},
                                    {"simstop", SimNotice::SimStop},    {"simstart", SimNotice::SimStart},
                                    {"sound_off", SimNotice::SoundOff}, {"sound_on", SimNotice::SoundOn},
                                    {"view", SimNotice::View}};

template <size_t N>
std::string NameList(const Named (&table)[N]) {
    std::string list;
    for (const Named& n : table) list += (list.empty() ? "" : ", ") + std::string(n.name);
    return list;
}

// Thrown inside the parser only; ParseScenario turns it into a ScenarioError.
struct Mistake {
    int line;
    std::string message;
};

int LineOf(const toml::node& node) { return static_cast<int>(node.source().begin.line); }

const char* TypeName(const toml::node& node) {
    switch (node.type()) {
        case toml::node_type::string: return "a string";
        case toml::node_type::integer: return "a whole number";
        case toml::node_type::floating_point: return "a number";
        case toml::node_type::boolean: return "true or false";
        case toml::node_type::array: return "a list";
        case toml::node_type::table: return "a table";
        default: return "a date or time";
    }
}

std::string Quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

class Reader {
public:
    explicit Reader(const std::string& path) : folder_(fs::path(path).parent_path()) {}

    Scenario Read(const toml::table& top, const std::string& path) {
        Scenario scenario;
        scenario.path = path;
        for (const auto& [key, node] : top) {
            const std::string_view name = key.str();
            if (name == "sound_folder") {
                scenario.soundFolder = FromFile(String(node, "sound_folder", "the path of the sound folder"));
                scenario.soundFolderLine = LineOf(node);
            } else if (name == "duration") {
                const double d = Number(node, "duration", "a number of seconds");
                if (!(d > 0)) throw Mistake{LineOf(node), "duration must be more than 0 seconds"};
                scenario.duration = d;
            } else if (name == "modules") {
                for (const toml::node* entry : Strings(node, "modules", "module names or paths")) {
                    std::string module = *entry->value<std::string>();
                    if (module.find('/') != std::string::npos) module = FromFile(module);
                    scenario.modules.push_back(module);
                    scenario.moduleLines.push_back(LineOf(*entry));
                }
                if (scenario.modules.empty()) throw Mistake{LineOf(node), "modules must name at least one module"};
            } else if (name == "gauges") {
                for (const toml::node* entry : Strings(node, "gauges", "gauge names")) {
                    scenario.gauges.push_back(*entry->value<std::string>());
                    scenario.gaugeLines.push_back(LineOf(*entry));
                }
                if (scenario.gauges.empty()) throw Mistake{LineOf(node), "gauges must name at least one gauge (or leave it out for all)"};
            } else if (name == "event") {
                const toml::array* events = node.as_array();
                if (events == nullptr || !events->is_array_of_tables()) {
                    throw Mistake{LineOf(node), "events are written as [[event]] tables, one per event"};
                }
                for (const toml::node& event : *events) scenario.events.push_back(Event(*event.as_table()));
            } else {
                throw Mistake{LineOf(node), "unknown key " + Quoted(name) + ": a scenario has " + kTopKeys};
            }
        }
        for (size_t i = 1; i < scenario.events.size(); ++i) {
            const ScenarioEvent& before = scenario.events[i - 1];
            const ScenarioEvent& event = scenario.events[i];
            if (event.at < before.at) {
                throw Mistake{event.line, "this event at " + Number(event.at) + " s comes before the one on line " +
                                              std::to_string(before.line) + " at " + Number(before.at) +
                                              " s: events go in time order"};
            }
        }
        if (scenario.duration) {
            for (const ScenarioEvent& event : scenario.events) {
                if (event.at > *scenario.duration) {
                    throw Mistake{event.line, "this event at " + Number(event.at) + " s lies after the end of the scenario (duration = " +
                                                  Number(*scenario.duration) + " s)"};
                }
            }
        }
        return scenario;
    }

private:
    static std::string Number(double value) {
        std::ostringstream out;
        out << value;
        return out.str();
    }

    std::string FromFile(const std::string& path) const {
        return fs::path(path).is_absolute() || folder_.empty() ? path : (folder_ / path).lexically_normal().string();
    }

    static std::string String(const toml::node& node, const char* key, const char* what) {
        if (!node.is_string()) {
            throw Mistake{LineOf(node), std::string(key) + " must be " + what + " in quotes, not " + TypeName(node)};
        }
        return *node.value<std::string>();
    }

    static double Number(const toml::node& node, const char* key, const char* what) {
        const std::optional<double> value = node.is_number() ? node.value<double>() : std::nullopt;
        if (!value) throw Mistake{LineOf(node), std::string(key) + " must be " + what + ", not " + TypeName(node)};
        if (!std::isfinite(*value)) throw Mistake{LineOf(node), std::string(key) + " must be a finite number"};
        return *value;
    }

    static int32_t Whole(const toml::node& node, const char* key, const char* what) {
        if (!node.is_integer()) throw Mistake{LineOf(node), std::string(key) + " must be " + what + ", not " + TypeName(node)};
        const int64_t value = *node.value<int64_t>();
        if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max()) {
            throw Mistake{LineOf(node), std::string(key) + " is out of range: variables carry 32-bit whole numbers"};
        }
        return static_cast<int32_t>(value);
    }

    static std::vector<const toml::node*> Strings(const toml::node& node, const char* key, const char* what) {
        const toml::array* list = node.as_array();
        if (list == nullptr) {
            throw Mistake{LineOf(node), std::string(key) + " must be a list of " + what + " in quotes, not " + TypeName(node)};
        }
        std::vector<const toml::node*> entries;
        for (const toml::node& entry : *list) {
            if (!entry.is_string()) {
                throw Mistake{LineOf(entry), std::string(key) + " must list " + what + " in quotes, not " + TypeName(entry)};
            }
            entries.push_back(&entry);
        }
        return entries;
    }

    static std::string Lower(std::string text) {
        std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return text;
    }

    template <size_t N>
    static int32_t CommandValue(const toml::node& node, const char* key, const Named (&names)[N]) {
        if (node.is_string()) {
            const std::string name = Lower(*node.value<std::string>());
            for (const Named& n : names) {
                if (name == n.name) return n.value;
            }
            throw Mistake{LineOf(node), "unknown " + std::string(key) + " value " + Quoted(*node.value<std::string>()) +
                                            ": expected one of " + NameList(names) + ", or a whole number"};
        }
        return Whole(node, key, ("one of " + NameList(names) + " or a whole number").c_str());
    }

    ScenarioEvent Event(const toml::table& table) {
        ScenarioEvent event;
        event.line = LineOf(table);
        // The action: exactly one of the action keys (told in the file's order).
        std::vector<std::pair<int, std::string>> actions;
        for (const auto& [key, node] : table) {
            if (std::find(std::begin(kActions), std::end(kActions), key.str()) != std::end(kActions)) {
                actions.emplace_back(LineOf(node), std::string(key.str()));
            }
        }
        std::sort(actions.begin(), actions.end());
        if (actions.size() > 1) {
            throw Mistake{actions[1].first, "an event does one thing, and this one has both " + Quoted(actions[0].second) +
                                                " and " + Quoted(actions[1].second) + ": give each its own [[event]]"};
        }
        const std::string action = actions.empty() ? std::string() : actions[0].second;
        if (action.empty()) {
            for (const auto& [key, node] : table) {
                if (key.str() != "at") {
                    throw Mistake{LineOf(node), "unknown event " + Quoted(key.str()) + ": an event is one of " + kActionList};
                }
            }
            throw Mistake{event.line, std::string("this event does nothing: give it one of ") + kActionList};
        }
        const toml::node* at = table.get("at");
        if (at == nullptr) throw Mistake{event.line, "this " + action + " event has no time: add at = <seconds>"};
        event.at = Number(*at, "at", "a number of seconds");
        if (event.at < 0) throw Mistake{LineOf(*at), "at must not be negative"};

        // Keys each action takes besides at.
        std::vector<std::string> takes;
        const toml::node& main = *table.get(action);
        auto get = [&](const char* key) { return table.get(key); };
        if (action == "set") {
            takes = {"value", "from", "to", "over"};
            event.kind = EventKind::Set;
            event.variable = String(main, "set", "a variable name such as \"A:Eng Oil Pressure:1,psi\"");
            if (!ParseVariableName(event.variable)) {
                throw Mistake{LineOf(main), Quoted(event.variable) +
                                                " is not a variable name: expected A:name[:index][,unit] or L:name[,unit]"};
            }
            const toml::node *value = get("value"), *from = get("from"), *to = get("to"), *over = get("over");
            if (value != nullptr && (from != nullptr || to != nullptr || over != nullptr)) {
                throw Mistake{LineOf(*value), "value sets the variable at once, while from, to and over make a ramp: give one or the other"};
            }
            if (value != nullptr) {
                event.value = Number(*value, "value", "a number");
            } else if (to == nullptr && over == nullptr) {
                throw Mistake{event.line, "a set event needs value = <number> (at once), or to = <number> and over = <seconds> (a ramp)"};
            } else {
                if (to == nullptr) throw Mistake{LineOf(*over), "this ramp has no end: add to = <the value it ends at>"};
                if (over == nullptr) throw Mistake{LineOf(*to), "this ramp has no length: add over = <seconds>"};
                event.ramp = true;
                event.to = Number(*to, "to", "a number");
                event.over = Number(*over, "over", "a number of seconds");
                if (!(event.over > 0)) throw Mistake{LineOf(*over), "over must be more than 0 seconds"};
                if (from != nullptr) event.from = Number(*from, "from", "a number");
            }
        } else if (action == "command") {
            takes = {"value", "volume", "pan"};
            event.kind = EventKind::Command;
            if (main.is_string()) {
                event.item = *main.value<std::string>();
                if (event.item.empty()) throw Mistake{LineOf(main), "command needs the name of a sound item"};
            } else if (main.is_integer()) {
                const int64_t index = *main.value<int64_t>();
                if (index < 0) throw Mistake{LineOf(main), "an item index is 0 or more"};
                event.itemIndex = index;
            } else {
                throw Mistake{LineOf(main), std::string("command must be a sound item's name in quotes or its index, not ") + TypeName(main)};
            }
            const toml::node* value = get("value");
            if (value == nullptr) {
                throw Mistake{event.line, "this command has no value: add value = <" + NameList(kItemCommands) + ", or a number>"};
            }
            event.command = CommandValue(*value, "command", kItemCommands);
            if (const toml::node* volume = get("volume")) event.volume = Whole(*volume, "volume", "a whole number (hundredths of a decibel)");
            if (const toml::node* pan = get("pan")) event.pan = Whole(*pan, "pan", "a whole number (hundredths of a decibel)");
        } else if (action == "master") {
            event.kind = EventKind::Master;
            event.command = CommandValue(main, "master", kMasterCommands);
        } else if (action == "notice") {
            takes = {"view"};
            event.kind = EventKind::Notice;
            const std::string name = Lower(String(main, "notice", "the name of a notice"));
            const auto known = std::find_if(std::begin(kNotices), std::end(kNotices),
                                            [&](const NamedNotice& n) { return name == n.name; });
            if (known == std::end(kNotices)) {
                throw Mistake{LineOf(main), "unknown notice " + Quoted(name) +
                                                ": expected pause, unpause, simstop, simstart, sound_off, sound_on or view"};
            }
            event.notice = known->notice;
            const toml::node* view = get("view");
            if (event.notice == SimNotice::View) {
                if (view == nullptr) throw Mistake{event.line, "a view notice needs view = <the view's number> (1, 2, 4, ...)"};
                const int32_t v = Whole(*view, "view", "a whole number");
                if (v < 0) throw Mistake{LineOf(*view), "view must not be negative"};
                event.view = static_cast<uint32_t>(v);
            } else if (view != nullptr) {
                throw Mistake{LineOf(*view), "view belongs to notice = \"view\" only"};
            }
        } else if (action == "slew") {
            event.kind = EventKind::Slew;
            if (!main.is_boolean()) throw Mistake{LineOf(main), std::string("slew must be true or false, not ") + TypeName(main)};
            event.on = *main.value<bool>();
        } else if (action == "test") {
            takes = {"value"};
            event.kind = EventKind::Test;
            const std::string name = Lower(String(main, "test", "oil_quantity or vibration"));
            if (name == "oil_quantity") {
                event.test = TestSwitch::OilQuantity;
            } else if (name == "vibration") {
                event.test = TestSwitch::Vibration;
            } else {
                throw Mistake{LineOf(main), "unknown test " + Quoted(name) + ": expected oil_quantity or vibration"};
            }
            if (const toml::node* value = get("value")) event.testValue = Number(*value, "value", "a number");
        } else if (action == "reload" || action == "snapshot") {
            event.kind = action == "reload" ? EventKind::Reload : EventKind::Snapshot;
            if (!main.is_boolean() || !*main.value<bool>()) {
                throw Mistake{LineOf(main), action + " is written " + action + " = true"};
            }
        }
        for (const auto& [key, node] : table) {
            const std::string_view name = key.str();
            if (name == "at" || name == action || std::find(takes.begin(), takes.end(), name) != takes.end()) continue;
            std::string allowed = "at";
            for (const std::string& t : takes) allowed += ", " + t;
            throw Mistake{LineOf(node), "unknown key " + Quoted(name) + " in a " + action + " event: it takes " + allowed};
        }
        return event;
    }

    fs::path folder_;
};

}  // namespace

double Scenario::End() const {
    if (duration) return *duration;
    double last = 0.0;
    for (const ScenarioEvent& event : events) last = std::max(last, event.at + (event.ramp ? event.over : 0.0));
    return last + kTail;
}

std::string ScenarioError::Text() const {
    return line > 0 ? file + ":" + std::to_string(line) + ": " + message : file + ": " + message;
}

std::optional<Scenario> ParseScenario(std::string_view text, const std::string& path, ScenarioError* error) {
    auto fail = [&](int line, std::string message) -> std::optional<Scenario> {
        if (error != nullptr) *error = {path, line, std::move(message)};
        return std::nullopt;
    };
    toml::table top;
    try {
        top = toml::parse(text, path);
    } catch (const toml::parse_error& e) {
        return fail(static_cast<int>(e.source().begin.line), "not valid TOML: " + std::string(e.description()));
    }
    try {
        return Reader(path).Read(top, path);
    } catch (const Mistake& mistake) {
        return fail(mistake.line, mistake.message);
    }
}

std::optional<Scenario> LoadScenario(const std::string& path, ScenarioError* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (error != nullptr) *error = {path, 0, "cannot be read: no such file, or no permission"};
        return std::nullopt;
    }
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return ParseScenario(text, path, error);
}

std::optional<int32_t> ItemCommandByName(std::string_view name) {
    for (const Named& n : kItemCommands) {
        if (name == n.name) return n.value;
    }
    return std::nullopt;
}

std::optional<int32_t> MasterCommandByName(std::string_view name) {
    for (const Named& n : kMasterCommands) {
        if (name == n.name) return n.value;
    }
    return std::nullopt;
}

bool ResolveScenario(Scenario& scenario, const CheckReport& folder, ScenarioError* error) {
    auto fail = [&](int line, std::string message) {
        if (error != nullptr) *error = {scenario.path, line, std::move(message)};
        return false;
    };
    const std::vector<SoundTarget> targets = SoundTargets(folder);
    const std::string where = scenario.soundFolder.empty() ? std::string("the scenario names no sound_folder, so there are none")
                              : !folder.configRead    ? "there is no twsound.cfg in " + scenario.soundFolder + ", so there are none"
                                                      : "twsound.cfg in " + scenario.soundFolder;
    const bool noItems = scenario.soundFolder.empty() || !folder.configRead;
    std::string itemNames;
    for (const CheckedItem& item : folder.items) {
        itemNames += (itemNames.empty() ? "" : ", ") + targets[item.index].name;
    }
    auto setting = [&](const char* key) {
        for (const CheckedSetting& s : folder.settings) {
            if (s.key == key) return ReferenceName(s.reference);
        }
        return std::string();
    };
    for (ScenarioEvent& event : scenario.events) {
        if (event.kind == EventKind::Master && setting("mastercontroller").empty()) {
            return fail(event.line, "a master event needs a mastercontroller= setting, and " + where +
                                        (noItems ? "" : " has none"));
        }
        if (event.kind != EventKind::Command) continue;
        if (event.itemIndex) {
            if (*event.itemIndex >= static_cast<int64_t>(folder.items.size())) {
                return fail(event.line, "no sound item " + std::to_string(*event.itemIndex) + ": " + where +
                                            (noItems               ? ""
                                             : folder.items.empty() ? " has no items"
                                                                  : " has " + std::to_string(folder.items.size()) +
                                                                        " (0 to " + std::to_string(folder.items.size() - 1) + ")"));
            }
            event.target = static_cast<size_t>(*event.itemIndex);
        } else {
            const auto found = std::find_if(targets.begin(), targets.end(), [&](const SoundTarget& t) {
                return strcasecmp(t.name.c_str(), event.item.c_str()) == 0;
            });
            if (found == targets.end()) {
                return fail(event.line, "unknown sound item \"" + event.item + "\": " + where +
                                            (noItems                      ? ""
                                             : itemNames.empty()          ? " has no items"
                                                                          : " has " + itemNames));
            }
            event.target = static_cast<size_t>(found - targets.begin());
        }
        if (event.volume && setting("buffervolwrite").empty()) {
            return fail(event.line, "volume is written into the buffervolwrite= register, and " + where +
                                        (noItems ? "" : " sets none"));
        }
        if (event.pan && setting("bufferpanwrite").empty()) {
            return fail(event.line, "pan is written into the bufferpanwrite= register, and " + where +
                                        (noItems ? "" : " sets none"));
        }
    }
    return true;
}
