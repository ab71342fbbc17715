// Scenario files: what a good file reads as, and the message every kind of
// mistake gets (file, line, what was expected), before anything runs.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "check.h"
#include "scenario.h"

namespace {

const std::string kSample = TW_EXAMPLES_DIR "/sound-sample";
const std::string kFaults = TW_EXAMPLES_DIR "/sound-faults";

std::optional<Scenario> Parse(const std::string& text, ScenarioError* error) {
    return ParseScenario(text, "flight.toml", error);
}

TEST(ScenarioFile, ReadsEveryKindOfEvent) {
    const std::string text = R"(
sound_folder = "sounds"
duration = 30
modules = ["tw_hx8", "/opt/gauges/tw_sound.so"]
gauges = ["EngOilPress1", "tw_sound"]

[[event]]
at = 0
set = "A:Eng Oil Pressure:1,psi"
value = 12.5

[[event]]
at = 1
set = "A:General Eng1 Oil Temperature,Celsius"
to = 80
over = 10

[[event]]
at = 2
command = "ApuStart"
value = "play_once_volume_pan"
volume = -600
pan = 2000

[[event]]
at = 2
command = 1
value = 9

[[event]]
at = 3
master = "silence_all"

[[event]]
at = 4
notice = "view"
view = 2

[[event]]
at = 5
slew = true

[[event]]
at = 6
test = "vibration"
value = 3

[[event]]
at = 7
reload = true

[[event]]
at = 8
snapshot = true
)";
    ScenarioError error;
    const auto scenario = ParseScenario(text, "/home/builder/flights/startup.toml", &error);
    ASSERT_TRUE(scenario) << error.Text();
    EXPECT_EQ(scenario->soundFolder, "/home/builder/flights/sounds");  // from the file's folder
    EXPECT_EQ(scenario->duration, 30.0);
    EXPECT_EQ(scenario->modules, (std::vector<std::string>{"tw_hx8", "/opt/gauges/tw_sound.so"}));
    EXPECT_EQ(scenario->moduleLines, (std::vector<int>{4, 4}));
    EXPECT_EQ(scenario->gauges, (std::vector<std::string>{"EngOilPress1", "tw_sound"}));
    ASSERT_EQ(scenario->events.size(), 10u);

    const auto& e = scenario->events;
    EXPECT_EQ(e[0].kind, EventKind::Set);
    EXPECT_EQ(e[0].line, 7);
    EXPECT_FALSE(e[0].ramp);
    EXPECT_EQ(e[0].value, 12.5);
    EXPECT_TRUE(e[1].ramp);
    EXPECT_EQ(e[1].to, 80);
    EXPECT_EQ(e[1].over, 10);
    EXPECT_FALSE(e[1].from);
    EXPECT_EQ(e[2].kind, EventKind::Command);
    EXPECT_EQ(e[2].item, "ApuStart");
    EXPECT_EQ(e[2].command, 7);
    EXPECT_EQ(e[2].volume, -600);
    EXPECT_EQ(e[2].pan, 2000);
    EXPECT_EQ(e[3].itemIndex, 1);
    EXPECT_EQ(e[3].command, 9);  // any whole number may be written
    EXPECT_EQ(e[4].kind, EventKind::Master);
    EXPECT_EQ(e[4].command, 2);
    EXPECT_EQ(e[5].notice, SimNotice::View);
    EXPECT_EQ(e[5].view, 2u);
    EXPECT_TRUE(e[6].on);
    EXPECT_EQ(e[7].test, TestSwitch::Vibration);
    EXPECT_EQ(e[7].testValue, 3);
    EXPECT_EQ(e[8].kind, EventKind::Reload);
    EXPECT_EQ(e[9].kind, EventKind::Snapshot);
}

TEST(ScenarioFile, RunsTwoSecondsPastItsLastEventWithoutADuration) {
    ScenarioError error;
    const auto ramp = Parse("[[event]]\nat = 3\nset = \"L:x\"\nto = 1\nover = 4\n", &error);
    ASSERT_TRUE(ramp) << error.Text();
    EXPECT_DOUBLE_EQ(ramp->End(), 3 + 4 + 2);  // the ramp's end counts
    const auto empty = Parse("", &error);
    ASSERT_TRUE(empty);
    EXPECT_DOUBLE_EQ(empty->End(), 2);
}

struct BadFile {
    const char* name;
    const char* text;
    int line;
    const char* message;  // a part of the message
};

class BadScenario : public ::testing::TestWithParam<BadFile> {};

TEST_P(BadScenario, IsRefusedWithItsLineAndWhatWasExpected) {
    ScenarioError error;
    EXPECT_FALSE(Parse(GetParam().text, &error));
    EXPECT_EQ(error.file, "flight.toml");
    EXPECT_EQ(error.line, GetParam().line) << error.Text();
    EXPECT_NE(error.message.find(GetParam().message), std::string::npos) << error.Text();
}

const BadFile kBadFiles[] = {
    {"NotToml", "duration = 3\nsound_folder = \"x\n", 2, "not valid TOML"},
    {"UnknownTopKey", "duration = 3\nsound_foldr = \"x\"\n", 2,
     "unknown key \"sound_foldr\": a scenario has sound_folder, duration, modules, gauges, event"},
    {"UnknownEvent", "[[event]]\nat = 1\nplay = \"ApuStart\"\n", 3,
     "unknown event \"play\": an event is one of set, command, master, notice, slew, test, reload, snapshot"},
    {"EventWithoutAction", "[[event]]\nat = 1\n", 1, "this event does nothing"},
    {"TwoActions", "[[event]]\nat = 1\nslew = true\nreload = true\n", 4, "an event does one thing"},
    {"NoTime", "[[event]]\nslew = true\n", 1, "this slew event has no time: add at = <seconds>"},
    {"NegativeTime", "[[event]]\nat = -1\nslew = true\n", 2, "at must not be negative"},
    {"TimeOrder", "[[event]]\nat = 5\nslew = true\n\n[[event]]\nat = 2\nslew = false\n", 5,
     "this event at 2 s comes before the one on line 1 at 5 s: events go in time order"},
    {"AfterTheEnd", "duration = 4\n[[event]]\nat = 5\nslew = true\n", 2, "lies after the end of the scenario (duration = 4 s)"},
    {"RampWithoutEnd", "[[event]]\nat = 0\nset = \"A:Eng Oil Pressure:1,psi\"\nover = 6\n", 4,
     "this ramp has no end: add to = <the value it ends at>"},
    {"RampWithoutLength", "[[event]]\nat = 0\nset = \"A:Eng Oil Pressure:1,psi\"\nto = 60\n", 4,
     "this ramp has no length: add over = <seconds>"},
    {"RampOfNoTime", "[[event]]\nat = 0\nset = \"L:x\"\nto = 60\nover = 0\n", 5, "over must be more than 0 seconds"},
    {"ValueAndRamp", "[[event]]\nat = 0\nset = \"L:x\"\nvalue = 1\nto = 2\nover = 1\n", 4, "give one or the other"},
    {"SetWithoutValue", "[[event]]\nat = 0\nset = \"L:x\"\n", 1, "a set event needs value = <number>"},
    {"NotAVariable", "[[event]]\nat = 0\nset = \"Eng Oil Pressure\"\nvalue = 1\n", 3,
     "\"Eng Oil Pressure\" is not a variable name: expected A:name[:index][,unit] or L:name[,unit]"},
    {"TimeAsText", "[[event]]\nat = \"five\"\nslew = true\n", 2, "at must be a number of seconds, not a string"},
    {"DurationAsText", "duration = \"long\"\n", 1, "duration must be a number of seconds, not a string"},
    {"ModulesNotAList", "modules = \"tw_hx8\"\n", 1, "modules must be a list of module names or paths in quotes, not a string"},
    {"GaugeNotText", "gauges = [\"EngVib1\", 2]\n", 1, "gauges must list gauge names in quotes, not a whole number"},
    {"SlewAsText", "[[event]]\nat = 1\nslew = \"yes\"\n", 3, "slew must be true or false, not a string"},
    {"CommandWithoutValue", "[[event]]\nat = 1\ncommand = \"ApuStart\"\n", 1, "this command has no value"},
    {"UnknownCommandName", "[[event]]\nat = 1\ncommand = \"ApuStart\"\nvalue = \"loud\"\n", 4,
     "unknown command value \"loud\": expected one of stop, play_once, play_looped"},
    {"FractionalVolume", "[[event]]\nat = 1\ncommand = \"ApuStart\"\nvalue = 3\nvolume = -6.5\n", 5,
     "volume must be a whole number (hundredths of a decibel), not a number"},
    {"CommandOfNothing", "[[event]]\nat = 1\ncommand = true\nvalue = 1\n", 3,
     "command must be a sound item's name in quotes or its index, not true or false"},
    {"UnknownKeyInEvent", "[[event]]\nat = 1\ncommand = \"ApuStart\"\nvalue = 3\nvolum = -600\n", 5,
     "unknown key \"volum\" in a command event: it takes at, value, volume, pan"},
    {"UnknownMasterName", "[[event]]\nat = 1\nmaster = \"stop\"\n", 3, "expected one of stop_all, silence_all, restore_all"},
    {"UnknownNotice", "[[event]]\nat = 1\nnotice = \"crash\"\n", 3,
     "unknown notice \"crash\": expected pause, unpause, simstop, simstart, sound_off, sound_on or view"},
    {"ViewWithoutNumber", "[[event]]\nat = 1\nnotice = \"view\"\n", 1, "a view notice needs view = <the view's number>"},
    {"ViewOnAPause", "[[event]]\nat = 1\nnotice = \"pause\"\nview = 2\n", 4, "view belongs to notice = \"view\" only"},
    {"UnknownTest", "[[event]]\nat = 1\ntest = \"fuel\"\n", 3, "unknown test \"fuel\": expected oil_quantity or vibration"},
    {"ReloadFalse", "[[event]]\nat = 1\nreload = false\n", 3, "reload is written reload = true"},
    {"OneEventTable", "[event]\nat = 1\nslew = true\n", 1, "events are written as [[event]] tables, one per event"},
};

INSTANTIATE_TEST_SUITE_P(Files, BadScenario, ::testing::ValuesIn(kBadFiles),
                         [](const auto& info) { return std::string(info.param.name); });

// Mistakes only the sound folder shows: names and settings it does not have.
struct FolderMistake {
    const char* name;
    const char* folder;  // "" for a scenario without a sound folder
    const char* event;
    const char* message;
};

class FolderScenario : public ::testing::TestWithParam<FolderMistake> {};

TEST_P(FolderScenario, IsRefusedBeforeAnythingRuns) {
    const FolderMistake& c = GetParam();
    const std::string folder = c.folder[0] == '\0' ? std::string() : std::string(TW_EXAMPLES_DIR) + "/" + c.folder;
    const std::string text = (folder.empty() ? std::string() : "sound_folder = \"" + folder + "\"\n") +
                             "[[event]]\nat = 0\nslew = false\n\n[[event]]\nat = 1\n" + c.event + "\n";
    ScenarioError error;
    auto scenario = Parse(text, &error);
    ASSERT_TRUE(scenario) << error.Text();
    const CheckReport report = folder.empty() ? CheckReport{} : RunCheck(folder);
    EXPECT_FALSE(ResolveScenario(*scenario, report, &error));
    EXPECT_EQ(error.line, folder.empty() ? 5 : 6) << error.Text();
    EXPECT_NE(error.message.find(c.message), std::string::npos) << error.Text();
}

const FolderMistake kFolderMistakes[] = {
    {"UnknownItemName", "sound-sample", "command = \"ApuStrat\"\nvalue = 1",
     "unknown sound item \"ApuStrat\": twsound.cfg in " TW_EXAMPLES_DIR "/sound-sample has ApuStart, ApuRun, GearHorn"},
    {"ItemIndexPastTheEnd", "sound-sample", "command = 3\nvalue = 1", "no sound item 3: twsound.cfg in " TW_EXAMPLES_DIR "/sound-sample has 3 (0 to 2)"},
    {"NoVolumeRegister", "sound-faults", "command = \"GearHorn\"\nvalue = 3\nvolume = -600",
     "volume is written into the buffervolwrite= register"},
    {"NoSoundFolder", "", "command = \"ApuStart\"\nvalue = 1", "the scenario names no sound_folder"},
    {"NoConfiguration", "scenarios", "command = \"ApuStart\"\nvalue = 1", "there is no twsound.cfg in"},
    {"NoMasterController", "", "master = \"stop_all\"", "a master event needs a mastercontroller= setting"},
};

INSTANTIATE_TEST_SUITE_P(Folders, FolderScenario, ::testing::ValuesIn(kFolderMistakes),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ScenarioFile, NamesItemsWithoutRegardToCaseAndKeepsDroppedLines) {
    ScenarioError error;
    auto scenario = Parse("sound_folder = \"" + kFaults +
                              "\"\n[[event]]\nat = 1\ncommand = \"gearHORN\"\nvalue = 1\n"
                              "[[event]]\nat = 2\ncommand = \"Flaps\"\nvalue = 1\n",
                          &error);
    ASSERT_TRUE(scenario) << error.Text();
    const CheckReport report = RunCheck(kFaults);
    ASSERT_TRUE(ResolveScenario(*scenario, report, &error)) << error.Text();
    const std::vector<SoundTarget> targets = SoundTargets(report);
    EXPECT_EQ(targets[scenario->events[0].target].slot, 0u);
    // flaps.wav is missing, so the module dropped the line; a panel gauge
    // can still write L:Flaps, and the run reports what comes of it.
    const SoundTarget& flaps = targets[scenario->events[1].target];
    EXPECT_EQ(flaps.name, "Flaps");
    EXPECT_FALSE(flaps.slot);
    EXPECT_EQ(flaps.line, 11u);
}

// The example scenarios, and the one in docs/scenarios.md, stay good as the
// format changes.
TEST(ScenarioFile, TheExamplesAreGood) {
    for (const char* name : {"startup.toml", "faults.toml"}) {
        ScenarioError error;
        auto scenario = LoadScenario(std::string(TW_EXAMPLES_DIR) + "/scenarios/" + name, &error);
        ASSERT_TRUE(scenario) << error.Text();
        ASSERT_TRUE(ResolveScenario(*scenario, RunCheck(scenario->soundFolder), &error)) << error.Text();
    }
    std::ifstream doc(TW_DOCS_DIR "/scenarios.md");
    const std::string text((std::istreambuf_iterator<char>(doc)), std::istreambuf_iterator<char>());
    const size_t start = text.find("```toml\n");
    ASSERT_NE(start, std::string::npos) << "no example in docs/scenarios.md";
    const std::string example = text.substr(start + 8, text.find("```", start + 8) - start - 8);
    ScenarioError error;
    // Its sound folder is given from examples/scenarios/.
    auto scenario = ParseScenario(example, TW_EXAMPLES_DIR "/scenarios/example.toml", &error);
    ASSERT_TRUE(scenario) << error.Text();
    EXPECT_TRUE(ResolveScenario(*scenario, RunCheck(scenario->soundFolder), &error)) << error.Text();
    std::set<EventKind> kinds;
    for (const ScenarioEvent& event : scenario->events) kinds.insert(event.kind);
    EXPECT_EQ(kinds.size(), 8u) << "the complete example shows every kind of event";
}

TEST(ScenarioFile, AMissingFileSaysSo) {
    ScenarioError error;
    EXPECT_FALSE(LoadScenario("/no/such/flight.toml", &error));
    EXPECT_EQ(error.Text(), "/no/such/flight.toml: cannot be read: no such file, or no permission");
}

}  // namespace
