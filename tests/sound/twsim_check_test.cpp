// `twsim check` on the sample folders: what it finds, and both outputs.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <map>
#include <string>

#include "check.h"
#include "sound_test_support.h"

namespace {

const std::string kSample = TW_EXAMPLES_DIR "/sound-sample";
const std::string kFaults = TW_EXAMPLES_DIR "/sound-faults";

TEST(TwsimCheck, AGoodFolderShowsWhatTheModuleWillUse) {
    const CheckReport report = RunCheck(kSample);
    ASSERT_TRUE(report.configRead);
    EXPECT_TRUE(report.ok());
    EXPECT_EQ(report.lineCount, 11u);

    const std::map<std::string, std::pair<std::string, std::size_t>> settings = {
        {"mastercontroller", {"(L:soundmaster, number)", 2}}, {"buffervolwrite", {"(L:soundvolume, number)", 3}},
        {"bufferpanwrite", {"(L:soundpan, number)", 4}},      {"buffervolread", {"(L:soundvolumeout, number)", 5}},
        {"bufferpanread", {"(L:soundpanout, number)", 6}},
    };
    ASSERT_EQ(report.settings.size(), 5u);
    for (const CheckedSetting& setting : report.settings) {
        EXPECT_EQ(std::make_pair(setting.reference, setting.line), settings.at(setting.key)) << setting.key;
    }

    ASSERT_EQ(report.items.size(), 3u);
    EXPECT_EQ(report.items[1].variable, "(L:apurun, number)");
    EXPECT_EQ(report.items[1].line, 10u);
    EXPECT_EQ(report.items[1].defaultVolume, -800);
    EXPECT_EQ(report.items[2].wavName, "horns\\gear_horn.wav");
    EXPECT_EQ(report.items[2].wavFile, kSample + "\\horns\\gear_horn.wav");
    EXPECT_TRUE(report.ignoredLines.empty());
    EXPECT_TRUE(report.notes.empty());

    // 16-bit mono at 22050 Hz: 2 s, 0.2 s and 0.5 s of sound.
    const uint32_t dataSizes[] = {88200, 8820, 22050};
    ASSERT_EQ(report.waves.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        const CheckedWave& wave = report.waves[i];
        SCOPED_TRACE(wave.name);
        EXPECT_TRUE(wave.usable) << wave.problem;
        ASSERT_TRUE(wave.format.has_value());
        EXPECT_EQ(wave.format->formatTag, 1);
        EXPECT_EQ(wave.format->channels, 1);
        EXPECT_EQ(wave.format->samplesPerSecond, 22050u);
        EXPECT_EQ(wave.format->bitsPerSample, 16);
        EXPECT_EQ(wave.dataSize, dataSizes[i]);
    }
    EXPECT_EQ(report.variablesWritten, (std::vector<std::string>{"-1 (>L:apustart, number)", "-1 (>L:apurun, number)",
                                                                 "-1 (>L:gearhorn, number)"}));
    EXPECT_FALSE(std::filesystem::exists(kSample + "/logfile.txt"));
}

TEST(TwsimCheck, AFaultyFolderReportsEveryIgnoredLineAndUnusableWavFile) {
    const CheckReport report = RunCheck(kFaults);
    ASSERT_TRUE(report.configRead);
    EXPECT_FALSE(report.ok());

    struct Ignored {
        std::size_t line;
        bool itemDropped;
        const char* reason;  // a part of the reason
    };
    const Ignored expected[] = {
        {1, false, "before the first section header"},
        {3, false, "replaced by line 7"},
        {4, false, "no blank may stand before"},
        {6, false, "not one of the keys"},
        {11, true, "flaps.wav not found"},
        {19, true, "shorter than 7 characters"},
        {20, true, "no comma"},
        {21, true, "no variable name"},
        {24, false, "write [sounditems]"},
        {25, true, "in section [ sound items ]"},
    };
    ASSERT_EQ(report.ignoredLines.size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        const CheckedLine& line = report.ignoredLines[i];
        SCOPED_TRACE("line " + std::to_string(expected[i].line));
        EXPECT_EQ(line.line, expected[i].line);
        EXPECT_EQ(line.itemDropped, expected[i].itemDropped);
        EXPECT_NE(line.reason.find(expected[i].reason), std::string::npos) << line.reason;
    }
    EXPECT_EQ(report.droppedItems, 5u);

    EXPECT_EQ(report.settings[0].reference, "(L:soundmastertwo, number)");
    EXPECT_EQ(report.settings[0].line, 7u);
    EXPECT_EQ(report.settings[3].reference, "") << "buffervolwrite has a blank before '='";
    EXPECT_EQ(report.settings[4].reference, "(L: soundpan, number)");

    ASSERT_EQ(report.items.size(), 10u);
    EXPECT_EQ(report.items[8].variable, "(L:loud, number)");
    EXPECT_EQ(report.items[9].variable, "(L:cafbell, number)");
    EXPECT_EQ(report.items[9].defaultVolume, -10000);

    struct Noted {
        std::size_t line;
        const char* text;
    };
    const Noted notes[] = {
        {5, "begins with a blank"},
        {22, "\"loud\" is not a whole number"},
        {23, "outside -10000..0"},
        {23, "bytes outside ASCII"},
    };
    ASSERT_EQ(report.notes.size(), std::size(notes));
    for (std::size_t i = 0; i < std::size(notes); ++i) {
        EXPECT_EQ(report.notes[i].line, notes[i].line);
        EXPECT_NE(report.notes[i].text.find(notes[i].text), std::string::npos) << report.notes[i].text;
    }

    struct Wave {
        const char* name;
        bool usable;
        const char* problem;  // a part of it
    };
    const Wave waves[] = {
        {"horns\\gear_horn.wav", true, ""},
        {"flaps.wav", false, "missing"},
        {"chime.wav", false, "not a RIFF file"},
        {"movie.wav", false, "form type \"AVI \""},
        {"no_fmt.wav", false, "no \"fmt \" chunk"},
        {"no_data.wav", false, "no \"data\" chunk"},
        {"adpcm.wav", false, "format 2 (Microsoft ADPCM) is not PCM"},
        {"truncated.wav", false, "claims 8816 bytes, but the file holds only 2204"},
        {"empty_data.wav", false, "0 bytes of sound data"},
    };
    ASSERT_EQ(report.waves.size(), std::size(waves));
    for (std::size_t i = 0; i < std::size(waves); ++i) {
        const CheckedWave& wave = report.waves[i];
        SCOPED_TRACE(waves[i].name);
        EXPECT_EQ(wave.name, waves[i].name);
        EXPECT_EQ(wave.usable, waves[i].usable);
        EXPECT_NE(wave.problem.find(waves[i].problem), std::string::npos) << wave.problem;
    }
    EXPECT_EQ(report.waves[0].lines, (std::vector<std::size_t>{10, 22, 23}));
    EXPECT_EQ(report.unusableWaves, 8u);
    EXPECT_EQ(report.waves[6].format->formatTag, 2);
    EXPECT_EQ(report.waves[6].dataSize, 512u);
}

TEST(TwsimCheck, AFolderWithoutConfigurationIsNotOk) {
    SimFolder sim;
    const CheckReport report = RunCheck(sim.sound().string());
    EXPECT_FALSE(report.configRead);
    EXPECT_FALSE(report.ok());
    EXPECT_NE(FormatCheckText(report).find("NOT FOUND"), std::string::npos);
}

TEST(TwsimCheck, OneHundredAndOneItemsDropTheLast) {
    SimFolder sim;
    std::string text = "[sounditems]\n";
    for (int i = 0; i < 101; ++i) text += "item" + std::to_string(i) + ",a.wav\n";
    sim.Write("twsound.cfg", text);
    sim.Write("a.wav", ReadFileBytes(kSample + "/apu_run.wav"));
    const CheckReport report = RunCheck(sim.sound().string());
    EXPECT_EQ(report.items.size(), 100u);
    ASSERT_EQ(report.ignoredLines.size(), 1u);
    EXPECT_EQ(report.ignoredLines[0].line, 102u);
    EXPECT_TRUE(report.ignoredLines[0].itemDropped);
    EXPECT_NE(report.ignoredLines[0].reason.find("no sound slot"), std::string::npos);
    EXPECT_FALSE(report.ok());
}

TEST(TwsimCheck, TextOutputShowsTablesAndVerdicts) {
    const std::string good = FormatCheckText(RunCheck(kSample));
    for (const char* expected :
         {"  mastercontroller  (L:soundmaster, number)", "  2      11    (L:gearhorn, number)  0       horns\\gear_horn.wav",
          "Ignored lines: none", "PCM, 1 channel, 22050 Hz, 16 bits, 22050 bytes of data",
          "Result: 3 items stored, no item line dropped, every WAV file usable."}) {
        EXPECT_NE(good.find(expected), std::string::npos) << expected << "\n" << good;
    }
    const std::string faulty = FormatCheckText(RunCheck(kFaults));
    for (const char* expected :
         {"  buffervolwrite    (not set)", "  line 11 (item dropped): WAV file flaps.wav not found",
          "      , nameless.wav", "CANNOT BE USED: not a RIFF file",
          "Result: 10 items stored, 5 item lines dropped, 8 WAV files cannot be used."}) {
        EXPECT_NE(faulty.find(expected), std::string::npos) << expected << "\n" << faulty;
    }
}

TEST(TwsimCheck, JsonOutputCarriesTheSameReport) {
    const CheckReport report = RunCheck(kFaults);
    const nlohmann::json json = nlohmann::json::parse(FormatCheckJson(report));
    EXPECT_EQ(json["ok"], false);
    EXPECT_EQ(json["settings"]["mastercontroller"]["reference"], "(L:soundmastertwo, number)");
    EXPECT_TRUE(json["settings"]["buffervolwrite"].is_null());
    ASSERT_EQ(json["items"].size(), report.items.size());
    EXPECT_EQ(json["items"][0]["wavName"], "horns\\gear_horn.wav");
    EXPECT_EQ(json["ignoredLines"].size(), report.ignoredLines.size());
    EXPECT_EQ(json["ignoredLines"][4]["line"], 11);
    EXPECT_EQ(json["ignoredLines"][4]["itemDropped"], true);
    EXPECT_EQ(json["wavFiles"][0]["dataSize"], 11024);
    EXPECT_EQ(json["wavFiles"][0]["problem"], nullptr);
    EXPECT_EQ(json["wavFiles"][2]["usable"], false);
    EXPECT_FALSE(json["wavFiles"][2].contains("formatTag"));
    EXPECT_EQ(json["droppedItems"], 5);
    EXPECT_EQ(json["unusableWavFiles"], 8);
}

// The installed program: exit codes and output on the sample folders.
std::pair<int, std::string> RunTwsim(const std::string& arguments) {
    const std::string command = std::string(TW_TWSIM) + " " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    std::string output;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
    const int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

TEST(TwsimProgram, ExitCodesAndOutputs) {
    auto [goodCode, goodText] = RunTwsim("check " + kSample);
    EXPECT_EQ(goodCode, 0) << goodText;
    EXPECT_NE(goodText.find("every WAV file usable"), std::string::npos);

    auto [faultCode, faultJson] = RunTwsim("check --json " + kFaults);
    EXPECT_EQ(faultCode, 1);
    EXPECT_EQ(nlohmann::json::parse(faultJson)["droppedItems"], 5);

    auto [missingCode, missingText] = RunTwsim("check " + kSample + "/no-such-folder");
    EXPECT_NE(missingCode, 0);
    EXPECT_NE(missingCode, 1) << "a usage error, not a finding";

    auto [noCommandCode, noCommandText] = RunTwsim("");
    EXPECT_NE(noCommandCode, 0);
}

}  // namespace
