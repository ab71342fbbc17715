// The configuration: folders and the log switch, twsound.cfg's sections,
// keys and item lines, and what reading it writes and logs.
#include <gtest/gtest.h>

#include <control_files.h>

#include <array>
#include <string>
#include <vector>

#include "config.h"
#include "log.h"
#include "sound_test_support.h"

namespace {

using namespace std::string_literals;
using Settings = std::array<std::string, 5>;  // master, vol read, pan read, vol write, pan write

Settings CurrentSettings() { return {masterController, bufferVolRead, bufferPanRead, bufferVolWrite, bufferPanWrite}; }

struct ExpectedItem {
    std::string lVariable;
    std::string wavName;  // relative to the sound folder, as the line names it
    int32_t defaultVolume;
};

class ConfigTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSoundModule();
        for (const char* name : {"a.wav", "b.wa", "gear.wav", "apu_start.wav", "apu_run.wav", "horns/gear_horn.wav"}) {
            sim.Write(name, "RIFF");
        }
    }
    void TearDown() override { ResetSoundModule(); }

    // Sets up the paths, writes `text` as twsound.cfg and reads it.
    bool Read(const std::string& text) {
        SetUpFiles();
        sim.Write("twsound.cfg", text);
        SentCalculatorCode().clear();
        return ReadConfigFile(configPath);
    }

    void ExpectItems(const std::vector<ExpectedItem>& expected) {
        ASSERT_EQ(soundItems.size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            SCOPED_TRACE("item " + std::to_string(i));
            EXPECT_EQ(soundItems[i].lVariable, expected[i].lVariable);
            EXPECT_EQ(soundItems[i].wavFile, sim.moduleSoundFolder() + "\\" + expected[i].wavName);
            EXPECT_EQ(soundItems[i].command, -1);
            EXPECT_EQ(soundItems[i].defaultVolume, expected[i].defaultVolume);
            EXPECT_EQ(soundItems[i].savedVolume, expected[i].defaultVolume);
        }
    }

    SimFolder sim;
};

const char kWorkedExample[] =
    "[general]\n"
    "mastercontroller=SoundMaster\n"
    "buffervolwrite=SoundVolume\n"
    "bufferpanwrite=SoundPan\n"
    "buffervolread=SoundVolumeOut\n"
    "bufferpanread=SoundPanOut\n"
    "\n"
    "[sounditems]\n"
    "ApuStart, apu_start.wav\n"
    "ApuRun, apu_run.wav, -800\n"
    "GearHorn, horns\\gear_horn.wav, 0\n";

TEST_F(ConfigTest, WorkedExample) {
    sim.Write("logfile.txt", "");
    ASSERT_TRUE(Read(kWorkedExample));

    EXPECT_EQ(CurrentSettings(), (Settings{"(L:soundmaster, number)", "(L:soundvolumeout, number)",
                                           "(L:soundpanout, number)", "(L:soundvolume, number)", "(L:soundpan, number)"}));
    ExpectItems({{"(L:apustart, number)", "apu_start.wav", 0},
                 {"(L:apurun, number)", "apu_run.wav", -800},
                 {"(L:gearhorn, number)", "horns\\gear_horn.wav", 0}});
    EXPECT_EQ(SentCalculatorCode(), (std::vector<std::string>{"-1 (>L:apustart, number)", "-1 (>L:apurun, number)",
                                                              "-1 (>L:gearhorn, number)"}));
    const std::string folder = sim.moduleSoundFolder();
    EXPECT_EQ(ReadFileBytes(sim.sound() / "logfile.txt"),
              "Wavefile " + folder + "\\apu_start.wav .... found.\r\n\r\n" + "Wavefile " + folder +
                  "\\apu_run.wav .... found.\r\n\r\n" + "Wavefile " + folder +
                  "\\horns\\gear_horn.wav .... found.\r\n\r\n");
    // The configuration and every WAV file tested are closed again.
    EXPECT_EQ(TwPlatformOpenFileCount(), 0);
}

TEST_F(ConfigTest, CrLfAndLfLineEndsGiveTheSameResult) {
    std::string lf = kWorkedExample;
    std::string crlf;
    for (char c : lf) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    std::string noFinalEnd = crlf.substr(0, crlf.size() - 2);

    ASSERT_TRUE(Read(lf));
    const Settings settings = CurrentSettings();
    const std::vector<std::string> code = SentCalculatorCode();
    ASSERT_EQ(soundItems.size(), 3u);
    for (const std::string& text : {crlf, noFinalEnd}) {
        ResetSoundModule();
        ASSERT_TRUE(Read(text));
        EXPECT_EQ(CurrentSettings(), settings);
        EXPECT_EQ(SentCalculatorCode(), code);
        ExpectItems({{"(L:apustart, number)", "apu_start.wav", 0},
                     {"(L:apurun, number)", "apu_run.wav", -800},
                     {"(L:gearhorn, number)", "horns\\gear_horn.wav", 0}});
    }
}

struct EdgeCase {
    const char* name;
    std::string text;
    Settings settings;
    std::vector<ExpectedItem> items;
    std::vector<std::string> variablesReset;  // the names written -1, in order
};

const Settings kNoSettings{};
Settings Master(const std::string& reference) { return {reference, "", "", "", ""}; }

const EdgeCase kEdgeCases[] = {
    {"empty file", "", kNoSettings, {}, {}},
    {"no header", "mastercontroller=m\ngear,gear.wav\n", kNoSettings, {}, {}},
    {"headers in any case", "[GENERAL]\nmastercontroller=m\n[SoundItems]\ngear,gear.wav\n", Master("(L:m, number)"),
     {{"(L:gear, number)", "gear.wav", 0}}, {"gear"}},
    {"header with trailing blanks", "  [general] \t\nmastercontroller=m\n", Master("(L:m, number)"), {}, {}},
    {"spaces inside the brackets", "[ general ]\nmastercontroller=m\n[sound items]\ngear,gear.wav\n", kNoSettings, {}, {}},
    {"text after the header", "[general] x\nmastercontroller=m\n[sounditems];\ngear,gear.wav\n", kNoSettings, {}, {}},
    {"header is the last line", "mastercontroller=m\n[general]", kNoSettings, {}, {}},
    {"header with no content", "[general]\n[sounditems]\n", kNoSettings, {}, {}},
    {"only the first header counts",
     "[general]\nmastercontroller=first\n[sounditems]\ngear,gear.wav\n[general]\nmastercontroller=second\n"
     "bufferpanread=p\n[sounditems]\na,a.wav\n",
     Master("(L:first, number)"), {{"(L:gear, number)", "gear.wav", 0}}, {"gear"}},
    {"sounditems before general", "[sounditems]\ngear,gear.wav\n[general]\nbufferpanwrite=Pan\n",
     {"", "", "", "", "(L:pan, number)"}, {{"(L:gear, number)", "gear.wav", 0}}, {"gear"}},
    {"an unknown section ends a section", "[sounditems]\ngear,gear.wav\n[other]\na,a.wav\n", kNoSettings,
     {{"(L:gear, number)", "gear.wav", 0}}, {"gear"}},
    {"keys in any case", "[general]\nMasterController=SoundMaster\nBUFFERVOLREAD=V\n",
     {"(L:soundmaster, number)", "(L:v, number)", "", "", ""}, {}, {}},
    {"a space before the equals sign", "[general]\nmastercontroller =m\n", kNoSettings, {}, {}},
    {"a space after the equals sign stays", "[general]\nmastercontroller= soundmaster\n",
     Master("(L: soundmaster, number)"), {}, {}},
    {"nothing after the equals sign", "[general]\nmastercontroller=\n", Master("(L:, number)"), {}, {}},
    {"the value runs from the first equals sign", "[general]\nmastercontroller=a=B\n", Master("(L:a=b, number)"), {}, {}},
    {"the later line wins", "[general]\nmastercontroller=one\nmastercontroller=two\n", Master("(L:two, number)"), {}, {}},
    {"a line shorter than a key", "[general]\nmaster\n", kNoSettings, {}, {}},
    {"six characters are too short, seven are enough", "[sounditems]\na,b.wa\na,a.wav\n", kNoSettings,
     {{"(L:a, number)", "a.wav", 0}}, {"a"}},
    {"blanks around the commas", "[sounditems]\nGearHorn , gear.wav , -600\n", kNoSettings,
     {{"(L:gearhorn, number)", "gear.wav", -600}}, {"gearhorn"}},
    {"tabs around the commas", "[sounditems]\n\tGear\t,\tgear.wav\t,\t-5\t\n", kNoSettings,
     {{"(L:gear, number)", "gear.wav", -5}}, {"gear"}},
    {"inner spaces of a name stay", "[sounditems]\nGear Horn,gear.wav\n", kNoSettings,
     {{"(L:gear horn, number)", "gear.wav", 0}}, {"gear horn"}},
    {"volumes are clamped and read like atoi",
     "[sounditems]\nv1,gear.wav,-20000\nv2,gear.wav,300\nv3,gear.wav,abc\nv4,gear.wav,-600dB\nv5,gear.wav,-5,junk\n"
     "v6,gear.wav,+0\nv7,gear.wav,\nv8,gear.wav,-99999999999\nv9,gear.wav,4294966296\n",
     kNoSettings,
     {{"(L:v1, number)", "gear.wav", -10000},
      {"(L:v2, number)", "gear.wav", 0},
      {"(L:v3, number)", "gear.wav", 0},
      {"(L:v4, number)", "gear.wav", -600},
      {"(L:v5, number)", "gear.wav", -5},
      {"(L:v6, number)", "gear.wav", 0},
      {"(L:v7, number)", "gear.wav", 0},
      {"(L:v8, number)", "gear.wav", -10000},
      {"(L:v9, number)", "gear.wav", 0}},
     {"v1", "v2", "v3", "v4", "v5", "v6", "v7", "v8", "v9"}},
    {"no comma: ignored, no variable written", "[sounditems]\ngearhorn.wav\n", kNoSettings, {}, {}},
    {"empty first token: ignored, no variable written", "[sounditems]\n,gear.wav,0\n  , gear.wav\n", kNoSettings, {},
     {}},
    {"no WAV file name: dropped, variable still reset", "[sounditems]\ngearhorn,,-100\n", kNoSettings, {},
     {"gearhorn"}},
    {"the same variable twice gives two items", "[sounditems]\ngear,gear.wav\nGEAR,a.wav,-1\n", kNoSettings,
     {{"(L:gear, number)", "gear.wav", 0}, {"(L:gear, number)", "a.wav", -1}}, {"gear", "gear"}},
    {"a dropped line leaves no gap", "[sounditems]\na,a.wav\nmissing,missing.wav\ng,gear.wav\n", kNoSettings,
     {{"(L:a, number)", "a.wav", 0}, {"(L:g, number)", "gear.wav", 0}}, {"a", "missing", "g"}},
    {"bytes from 0x80 up and NUL are removed everywhere",
     "[gen\xC3\xA9ral]\n[general]\nmastercontroller=S\xE9und\x80Master\n[sounditems]\n"
     "G\xC3\xA4\x00" "ar,ge\xFF" "ar.wav,-1\xB0" "00\n"s,
     Master("(L:sundmaster, number)"), {{"(L:gar, number)", "gear.wav", -100}}, {"gar"}},
};

TEST_F(ConfigTest, SectionKeyAndItemLineEdgeCases) {
    for (const EdgeCase& edge : kEdgeCases) {
        SCOPED_TRACE(edge.name);
        ResetSoundModule();
        ASSERT_TRUE(Read(edge.text));
        EXPECT_EQ(CurrentSettings(), edge.settings);
        ExpectItems(edge.items);
        std::vector<std::string> expectedCode;
        for (const std::string& name : edge.variablesReset) expectedCode.push_back("-1 (>L:" + name + ", number)");
        EXPECT_EQ(SentCalculatorCode(), expectedCode);
        EXPECT_EQ(TwPlatformOpenFileCount(), 0);
    }
}

TEST_F(ConfigTest, AMissingWavFileIsLoggedAndDroppedButItsVariableIsReset) {
    sim.Write("logfile.txt", "");
    ASSERT_TRUE(Read("[sounditems]\nGearHorn, horns\\missing.wav, -300\n"));
    EXPECT_TRUE(soundItems.empty());
    EXPECT_EQ(SentCalculatorCode(), std::vector<std::string>{"-1 (>L:gearhorn, number)"});
    EXPECT_EQ(ReadFileBytes(sim.sound() / "logfile.txt"),
              "Wavefile " + sim.moduleSoundFolder() + "\\horns\\missing.wav .... NOT FOUND.\r\nPlay command aborted.\r\n\r\n");
}

TEST_F(ConfigTest, AWavFileThatCannotBeOpenedCountsAsMissing) {
    TwPlatformLockFile((sim.sound() / "gear.wav").c_str(), TRUE);
    std::filesystem::create_directories(sim.sound() / "folder.wav");
    ASSERT_TRUE(Read("[sounditems]\ngear,gear.wav\nfolder,folder.wav\na,a.wav\n"));
    ExpectItems({{"(L:a, number)", "a.wav", 0}});
}

TEST_F(ConfigTest, OnlyTheFirstHundredValidItemsAreStored) {
    std::string text = "[sounditems]\nbad,missing.wav\n";
    for (int i = 0; i < 101; ++i) text += "item" + std::to_string(i) + ",gear.wav,-" + std::to_string(i) + "\n";
    ConfigDiagnostics diagnostics;
    configDiagnostics = &diagnostics;
    ASSERT_TRUE(Read(text));

    ASSERT_EQ(soundItems.size(), kMaxSoundItems);
    EXPECT_EQ(soundItems.front().lVariable, "(L:item0, number)");
    EXPECT_EQ(soundItems.back().lVariable, "(L:item99, number)");
    EXPECT_EQ(soundItems.back().defaultVolume, -99);
    // The 101st is read like the others (its variable reset), just not stored.
    EXPECT_EQ(SentCalculatorCode().size(), 102u);
    EXPECT_EQ(SentCalculatorCode().back(), "-1 (>L:item100, number)");
    ASSERT_FALSE(diagnostics.reports.empty());
    EXPECT_EQ(diagnostics.reports.back().use, ConfigLineUse::ItemBeyondSlots);
    EXPECT_EQ(diagnostics.reports.back().index, 102u);  // line 103
}

TEST_F(ConfigTest, AConfigurationThatDoesNotOpenChangesNothing) {
    SetUpFiles();
    masterController = "(L:kept, number)";
    soundItems.push_back(STsoundItem{"x.wav", "(L:x, number)", -1, 0, 0});
    EXPECT_FALSE(ReadConfigFile(configPath));
    EXPECT_FALSE(ReadConfigFile(sim.moduleSoundFolder()));  // a folder is no file
    EXPECT_EQ(masterController, "(L:kept, number)");
    EXPECT_EQ(soundItems.size(), 1u);
    EXPECT_TRUE(SentCalculatorCode().empty());
}

TEST_F(ConfigTest, ALongLineIsReadWhole) {
    const std::string name(5000, 'n');
    ASSERT_TRUE(Read("[general]\nmastercontroller=" + name + "\n"));
    EXPECT_EQ(masterController, "(L:" + name + ", number)");
}

TEST_F(ConfigTest, TheDiagnosticsSinkChangesNothingAndTellsWhatBecameOfEachLine) {
    const std::string text =
        "stray\n[general]\nmastercontroller=m\nmastercontrol=x\n\n[sounditems]\nab,c\n"
        "no comma here\n,gear.wav\nm,missing.wav\ng,gear.wav\n";
    ASSERT_TRUE(Read(text));
    const Settings settings = CurrentSettings();
    const std::vector<std::string> code = SentCalculatorCode();
    const std::size_t items = soundItems.size();

    ResetSoundModule();
    ConfigDiagnostics diagnostics;
    configDiagnostics = &diagnostics;
    ASSERT_TRUE(Read(text));
    EXPECT_EQ(CurrentSettings(), settings);
    EXPECT_EQ(SentCalculatorCode(), code);
    EXPECT_EQ(soundItems.size(), items);

    struct Seen {
        std::size_t index;
        ConfigLineUse use;
        bool operator==(const Seen&) const = default;
    };
    std::vector<Seen> seen;
    for (const ConfigLineReport& report : diagnostics.reports) seen.push_back({report.index, report.use});
    EXPECT_EQ(seen, (std::vector<Seen>{{2, ConfigLineUse::SettingSet},
                                      {3, ConfigLineUse::SettingNoKey},
                                      {6, ConfigLineUse::ItemTooShort},
                                      {7, ConfigLineUse::ItemNoComma},
                                      {8, ConfigLineUse::ItemNoName},
                                      {9, ConfigLineUse::ItemWavNotFound},
                                      {10, ConfigLineUse::ItemStored}}));
    EXPECT_EQ(diagnostics.rawLines.size(), 12u);  // the empty line after the last line end included
    EXPECT_TRUE(diagnostics.general.found);
    EXPECT_EQ(diagnostics.general.header, 1u);
    EXPECT_EQ(diagnostics.general.end, 5u);
}

// Folders, paths and the log switch.

TEST_F(ConfigTest, SetUpFilesFixesThePathsBelowTheSimulatorFolder) {
    SetUpFiles();
    EXPECT_EQ(simFolder, sim.sim().string());
    EXPECT_EQ(soundFolder, sim.moduleSoundFolder());
    EXPECT_EQ(configPath, sim.moduleSoundFolder() + "\\twsound.cfg");
    EXPECT_EQ(logPath, sim.moduleSoundFolder() + "\\logfile.txt");
    EXPECT_FALSE(logEnabled);
    EXPECT_EQ(logFile, nullptr);
}

TEST_F(ConfigTest, SetUpFilesCreatesOnlyTheLastFolderLevel) {
    std::filesystem::remove_all(sim.sound());
    SetUpFiles();
    EXPECT_TRUE(std::filesystem::is_directory(sim.sound()));
    EXPECT_FALSE(std::filesystem::exists(sim.sound() / "logfile.txt"));

    ResetSoundModule();
    TwPlatformSetExecutablePath((sim.sim() / "fs.exe").c_str());
    std::filesystem::remove_all(sim.sim() / "Sound");
    SetUpFiles();
    EXPECT_FALSE(std::filesystem::exists(sim.sim() / "Sound"));
    EXPECT_FALSE(logEnabled);
}

TEST_F(ConfigTest, GetSimFolderCutsAtTheLastSeparator) {
    struct Case {
        std::string executable;
        std::string folder;
    };
    const Case cases[] = {
        {"C:\\Program Files\\FS\\fs.exe", "C:\\Program Files\\FS"},
        {"/opt/fs/fs.exe", "/opt/fs"},
        {"C:\\a/b\\fs.exe", "C:\\a/b"},
        {"C:/a\\b/fs.exe", "C:/a\\b"},
        {"fs.exe", "fs.exe"},
        // Longer than MAX_PATH: cut to 259 characters, as Windows does.
        {"C:\\" + std::string(300, 'x') + "\\fs.exe", "C:"},
        {std::string(250, 'y') + "\\" + std::string(20, 'z'), std::string(250, 'y')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.executable);
        TwPlatformSetExecutablePath(c.executable.c_str());
        EXPECT_EQ(GetSimFolder(), c.folder);
    }
}

// The text helpers.

TEST(ConfigHelpers, TrimLine) {
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {" \t a b\t c \t ", "a b\t c"},
        {std::string("a\0b", 3), "ab"},
        {"\x80\xFF x\xE9y\x7F", "xy\x7F"},
        {"\xA0 a", "a"},  // a blank after a removed byte is still leading
        {"\r\n", "\r\n"},
        {" \t ", ""},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(TrimLine(in), out) << in;
}

TEST(ConfigHelpers, SplitString) {
    using Tokens = std::vector<std::string>;
    const std::pair<std::string, Tokens> cases[] = {
        {"", {}},
        {"  ", {}},
        {"a", {"a"}},
        {"a, b", {"a", "b"}},
        {"a,,b", {"a", "", "b"}},
        {"a,", {"a", ""}},
        {",a", {"", "a"}},
        {" a , b , c , d ", {"a", "b", "c", "d"}},
        {",", {"", ""}},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(SplitString(in, ','), out) << in;
}

TEST(ConfigHelpers, StringToIntFollowsAtoiAndSaturates) {
    const std::pair<std::string, int32_t> cases[] = {
        {"-600", -600}, {"-600dB", -600}, {"abc", 0},      {"", 0},
        {"+42", 42},    {" \v-7", -7},    {"- 5", 0},      {"2147483647", INT32_MAX},
        {"2147483648", INT32_MAX},        {"-2147483649", INT32_MIN}, {"99999999999999999999999", INT32_MAX},
        {"4294966296", INT32_MAX},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(StringToInt(in), out) << in;
}

TEST(ConfigHelpers, PathsAndNames) {
    EXPECT_EQ(AddTrailingBackslash("C:"), "C:\\");
    EXPECT_EQ(AddTrailingBackslash("C:\\FS\\"), "C:\\FS\\");
    EXPECT_EQ(AddTrailingBackslash("/opt/fs/"), "/opt/fs/\\");
    EXPECT_EQ(AddTrailingBackslash(""), "\\");
    EXPECT_EQ(JoinPath("C:\\FS", "..\\x\\a.wav"), "C:\\FS\\..\\x\\a.wav");
    EXPECT_EQ(JoinPath("C:\\FS\\", "\\a.wav"), "C:\\FS\\\\a.wav");
    EXPECT_EQ(ValueAfterEquals("a=b=c"), "b=c");
    EXPECT_EQ(ValueAfterEquals("abc"), "");
    EXPECT_EQ(ToLowerCopy("GearHORN_1 \xC4"), "gearhorn_1 \xC4");
    EXPECT_EQ(MakeLVariableText("Gear Horn"), "(L:gear horn, number)");
}

}  // namespace
