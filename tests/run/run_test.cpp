// twsim run as an aircraft builder runs it: the example scenarios end to end
// through the program, its outputs read back and checked against what the
// scenario did, its exit codes, and --play through SDL's disk driver.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "audio_file.h"
#include "video.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

const fs::path kOut = TW_TEST_OUTPUT_DIR;
const std::string kScenarios = TW_EXAMPLES_DIR "/scenarios";

struct Result {
    int code = -1;
    std::string out;
    std::string err;
};

// Runs twsim with `arguments`, the environment set first (`environment`,
// "NAME=value ..."), its standard output and messages kept apart.
Result Twsim(const std::string& arguments, const std::string& environment = "") {
    // One file per test: ctest may run the tests side by side.
    const fs::path errors =
        kOut / (std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-stderr.txt");
    const std::string command =
        (environment.empty() ? "" : "env " + environment + " ") + TW_TWSIM + " " + arguments + " 2>" + errors.string();
    Result result;
    FILE* pipe = popen(command.c_str(), "r");
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) result.out.append(buffer, n);
    const int status = pclose(pipe);
    result.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream in(errors);
    result.err.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return result;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

double Rms(const WavContents& wav, double from, double to) {
    const size_t first = static_cast<size_t>(from * wav.rate);
    const size_t last = std::min(static_cast<size_t>(to * wav.rate), wav.samples.size() / 2);
    double sum = 0.0;
    for (size_t f = first; f < last; ++f) {
        sum += std::pow(wav.samples[2 * f] / 32768.0, 2) + std::pow(wav.samples[2 * f + 1] / 32768.0, 2);
    }
    return last > first ? std::sqrt(sum / (2.0 * (last - first))) : 0.0;
}

// One CSV row: time, variable, value, access.
struct Row {
    double time;
    std::string variable;
    std::string value;
    std::string access;
};

std::vector<Row> ReadCsv(const fs::path& path) {
    std::ifstream in(path);
    std::vector<Row> rows;
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "time,variable,value,access");
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        std::string field;
        bool quoted = false;
        for (char c : line) {
            if (c == '"') {
                quoted = !quoted;
            } else if (c == ',' && !quoted) {
                fields.push_back(field);
                field.clear();
            } else {
                field += c;
            }
        }
        fields.push_back(field);
        if (fields.size() != 4) {
            ADD_FAILURE() << "bad row: " << line;
            continue;
        }
        rows.push_back({std::stod(fields[0]), fields[1], fields[2], fields[3]});
    }
    return rows;
}

// The startup scenario's outputs, read back: one run, checked step by step
// (ctest runs every test in a process of its own).
void RunsCleanAndSaysWhereEverythingIs(const fs::path& folder, const Result& result, const json& summary) {
    ASSERT_EQ(result.code, 0) << result.err << result.out;
    ASSERT_FALSE(summary.is_discarded()) << result.out;
    EXPECT_EQ(summary["suspicious"].size(), 0u) << summary["suspicious"].dump(2);
    EXPECT_EQ(summary["updates"], 720);
    EXPECT_EQ(summary["gauges"].size(), 9u);
    EXPECT_EQ(ReadFile(folder / "summary.json"), result.out);
    const std::string text = ReadFile(folder / "summary.txt");
    EXPECT_NE(text.find("Suspicious: nothing"), std::string::npos) << text;
    for (const char* file : {"sound.wav", "variables.csv", "logfile.txt", "panel-0.50.png", "panel-16.50.png",
                             "panel-20.00.png", "panel-39.00.png"}) {
        EXPECT_TRUE(fs::is_regular_file(folder / file)) << file;
        EXPECT_NE(text.find(file), std::string::npos) << file << " not named in the summary";
    }
}

void TheSummaryListsEverySoundWhenAndHowItPlayed(const json& summary) {
    struct Expected {
        const char* sound;
        double start, end;
        bool looped;
        int volume, pan;
        const char* endedBy;
    };
    const Expected expected[] = {
        {"ApuStart", 1.0, 3.0, false, 0, 0, "its end"},                // 2 s of spool-up
        {"ApuRun", 3.0, 19.0, true, -800, 0, "enable-state change"},   // stopped by the pause
        {"GearHorn", 10.0, 10.5, false, -600, -2500, "its end"},       // volume and pan with the command
        {"GearHorn", 11.0, 14.0, true, 0, 0, "stop command"},
        {"ApuRun", 22.5, 25.0, true, -800, 0, "enable-state change"},  // sound off
        {"ApuRun", 27.5, 29.0, true, -800, 0, "enable-state change"},  // slew
        {"ApuRun", 33.0, 38.0, true, -800, 0, "stop all"},             // after the reload
        {"GearHorn", 34.0, 34.5, false, 0, 0, "its end"},
    };
    const json& plays = summary["plays"];
    ASSERT_EQ(plays.size(), std::size(expected)) << plays.dump(2);
    for (size_t i = 0; i < std::size(expected); ++i) {
        const Expected& e = expected[i];
        const json& p = plays[i];
        SCOPED_TRACE(p.dump());
        EXPECT_EQ(p["sound"], e.sound);
        EXPECT_NEAR(p["start"].get<double>(), e.start, 0.001);
        EXPECT_NEAR(p["end"].get<double>(), e.end, 0.001);
        EXPECT_EQ(p["looped"], e.looped);
        EXPECT_EQ(p["volume"], e.volume);
        EXPECT_EQ(p["pan"], e.pan);
        EXPECT_EQ(p["endedBy"], e.endedBy);
    }
    // The looped horn turned down, then moved right, while it sounded; the
    // APU silenced and restored by the master controller.
    EXPECT_EQ(plays[3]["changes"], json::parse(R"([{"time":12.0,"volume":-1200,"pan":0,"looped":true},
                                                   {"time":13.0,"volume":-1200,"pan":3000,"looped":true}])"));
    EXPECT_EQ(plays[6]["changes"], json::parse(R"([{"time":35.0,"volume":-10000,"pan":0,"looped":true},
                                                   {"time":36.0,"volume":-800,"pan":0,"looped":true}])"));

    const json& changes = summary["enableChanges"];
    const std::vector<std::pair<double, bool>> transitions = {{19, false}, {22, true}, {25, false},
                                                              {27, true},  {29, false}, {30, true}};
    ASSERT_EQ(changes.size(), transitions.size()) << changes.dump(2);
    for (size_t i = 0; i < transitions.size(); ++i) {
        EXPECT_NEAR(changes[i]["time"].get<double>(), transitions[i].first, 0.001);
        EXPECT_EQ(changes[i]["enabled"], transitions[i].second);
    }
    EXPECT_EQ(changes[0]["causes"], "pause");
    for (const json& command : summary["commands"]) {
        EXPECT_EQ(command["outcome"], "acknowledged") << command.dump();
        EXPECT_EQ(command["resolvedAt"], command["time"]) << "taken on the next update";
    }
}

void TheSoundHasEnergyWhereASoundPlayedAndSilenceWhereNone(const fs::path& folder, const json& summary) {
    WavContents wav;
    std::string error;
    ASSERT_TRUE(ReadWavFile((folder / "sound.wav").string(), &wav, &error)) << error;
    EXPECT_EQ(wav.channels, 2);
    EXPECT_NEAR(static_cast<double>(wav.samples.size()) / 2 / wav.rate, 40.0, 0.06);
    for (const json& play : summary["plays"]) {
        const double start = play["start"], end = play["end"];
        // The master controller's silence lies inside a play of the APU.
        if (play["changes"].size() == 2 && play["changes"][0]["volume"] == -10000) {
            EXPECT_GT(Rms(wav, start + 0.05, 35.0 - 0.05), 0.02) << play.dump();
            EXPECT_LT(Rms(wav, 35.05, 36.0 - 0.05), 1e-4) << "silenced";
            EXPECT_GT(Rms(wav, 36.05, end - 0.05), 0.02) << "restored";
            continue;
        }
        EXPECT_GT(Rms(wav, start + 0.05, end - 0.05), 0.02) << play.dump();
    }
    EXPECT_LT(Rms(wav, 0.0, 0.95), 1e-4) << "before the first sound";
    EXPECT_LT(Rms(wav, 19.02, 22.48), 1e-4) << "the pause and the wait after it";
    EXPECT_LT(Rms(wav, 25.02, 27.48), 1e-4) << "sound switched off";
    EXPECT_LT(Rms(wav, 29.02, 32.98), 1e-4) << "slew, and the reload";
    EXPECT_LT(Rms(wav, 38.02, 40.0), 1e-4) << "after stop all";
}

void TheVariablesShowTheAcknowledgementsAndTheTestsReturningToOne(const fs::path& folder, const json& summary) {
    const std::vector<Row> rows = ReadCsv(folder / "variables.csv");
    ASSERT_FALSE(rows.empty());
    auto find = [&](double time, const std::string& variable) -> const Row* {
        for (const Row& row : rows) {
            if (std::abs(row.time - time) < 0.0005 && row.variable == variable) return &row;
        }
        return nullptr;
    };
    // Every item variable is set to -1 when the module reads its
    // configuration, as the gauges are placed.
    for (const char* item : {"L:apustart,number", "L:apurun,number", "L:gearhorn,number"}) {
        const Row* row = find(0.0, item);
        ASSERT_NE(row, nullptr) << item;
        EXPECT_EQ(row->value, "-1");
        EXPECT_EQ(row->access, "write");
    }
    // Each command is read and acknowledged with -1 on the update it is taken.
    for (const json& command : summary["commands"]) {
        std::string variable = command["variable"];
        if (command["target"] == "master") continue;
        std::string spelled = "L:" + std::string(command["target"]) + ",number";
        for (char& c : spelled) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        spelled[0] = 'L';
        const Row* row = find(command["resolvedAt"], spelled);
        ASSERT_NE(row, nullptr) << command.dump();
        EXPECT_EQ(row->value, "-1") << command.dump();
        EXPECT_EQ(row->access, "read+write") << command.dump();
    }
    // The press-to-test switches: 2 from 16 s, back to 1 a second later, by
    // the module's timers.
    for (const char* test : {"L:Eng Oil Qty Test,number", "L:Engine Vibration Test,number"}) {
        const Row* pressed = find(16.0, test);
        ASSERT_NE(pressed, nullptr) << test;
        EXPECT_EQ(pressed->value, "2");
        const Row* after = find(17.0, test);
        ASSERT_NE(after, nullptr) << test;
        EXPECT_EQ(after->value, "1");
    }
    for (const json& test : summary["tests"]) EXPECT_NEAR(test["returnedAt"].get<double>(), 17.0, 0.001);
    // The view notice reaches the other gauges through the module.
    const Row* view = find(28.0, "L:ViewSystemStatus,number");
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->value, "2");
}

void TheFilmIsAValidVideoWithTheSoundTrack(const fs::path& folder) {
    const std::string ffprobe = FindProgram("ffprobe");
    if (ffprobe.empty()) return;  // no ffmpeg here: the run leaves PNG frames instead (FaultsRun checks them)
    ASSERT_TRUE(fs::is_regular_file(folder / "panel.mp4"));
    FILE* pipe = popen((ffprobe + " -v error -show_entries stream=codec_type,codec_name,duration -of json " +
                        (folder / "panel.mp4").string())
                           .c_str(),
                       "r");
    std::string output;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
    ASSERT_EQ(pclose(pipe), 0) << output;
    std::set<std::string> streams;
    const json probe = json::parse(output);
    for (const json& stream : probe["streams"]) {
        streams.insert(stream["codec_type"].get<std::string>() + " " + stream["codec_name"].get<std::string>());
        EXPECT_NEAR(std::stod(stream["duration"].get<std::string>()), 40.0, 0.3) << stream.dump();
    }
    EXPECT_EQ(streams, (std::set<std::string>{"audio aac", "video h264"}));
}

void TheLogIsTheSoundModulesOwn(const fs::path& folder) {
    const std::string log = ReadFile(folder / "logfile.txt");
    EXPECT_NE(log.find("Initialising DirectSound.... succeeded."), std::string::npos);
    EXPECT_NE(log.find("All sounds stopped, sound silenced."), std::string::npos);
    EXPECT_NE(log.find("All (still open) sounds stopped, sound continued after unmute."), std::string::npos);
}

TEST(StartupScenario, EndToEnd) {
    const fs::path folder = kOut / "startup-run";
    // The film at a low frame rate keeps the test quick.
    const Result result = Twsim("run " + kScenarios + "/startup.toml --json --fps 6 --out " + folder.string());
    const json summary = json::parse(result.out, nullptr, false);
    RunsCleanAndSaysWhereEverythingIs(folder, result, summary);
    if (HasFatalFailure()) return;
    {
        SCOPED_TRACE("the summary");
        TheSummaryListsEverySoundWhenAndHowItPlayed(summary);
    }
    {
        SCOPED_TRACE("sound.wav");
        TheSoundHasEnergyWhereASoundPlayedAndSilenceWhereNone(folder, summary);
    }
    {
        SCOPED_TRACE("variables.csv");
        TheVariablesShowTheAcknowledgementsAndTheTestsReturningToOne(folder, summary);
    }
    {
        SCOPED_TRACE("panel.mp4");
        TheFilmIsAValidVideoWithTheSoundTrack(folder);
    }
    {
        SCOPED_TRACE("logfile.txt");
        TheLogIsTheSoundModulesOwn(folder);
    }
}

TEST(FaultsRun, NamesEveryMistakeAndExitsOne) {
    const fs::path folder = kOut / "faults-run";
    // Without ffmpeg on the PATH the film is a row of PNG frames.
    const Result result = Twsim("run " + kScenarios + "/faults.toml --json --fps 2 --out " + folder.string(), "PATH=/nonexistent");
    ASSERT_EQ(result.code, 1) << result.err << result.out;
    const json summary = json::parse(result.out);
    std::multimap<std::string, std::string> found;
    for (const json& f : summary["suspicious"]) found.emplace(f["kind"], f["text"]);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"wav-not-loaded", "Chime play once at 1.00 s played nothing: its WAV file chime.wav did not load"},
        {"not-an-item", "the sound module has no item Flaps (line 11 of twsound.cfg was dropped"},
        {"wav-not-loaded", "Adpcm play looped at 2.00 s played nothing"},
        {"ignored-value", "GearHorn 9 at 2.50 s is not a command the module knows"},
        {"ignored-value", "master value 7 at 3.00 s is not a master command"},
        {"replaced", "GearHorn play once (1) at 3.50 s was written over by 0"},
        {"discarded", "GearHorn play looped at 4.50 s was discarded"},
        {"test-not-reset", "only EngVib1 starts and ends the test, and it is not on the panel"},
        {"silent-play", "cafbell started at 11.00 s at volume -10000"},
    };
    EXPECT_EQ(found.size(), expected.size()) << summary["suspicious"].dump(2);
    for (const auto& [kind, text] : expected) {
        bool seen = false;
        for (auto [it, end] = found.equal_range(kind); it != end; ++it) seen = seen || it->second.find(text) != std::string::npos;
        EXPECT_TRUE(seen) << kind << ": " << text;
    }
    // 13 s at 2 frames a second, from 0 s.
    EXPECT_TRUE(fs::is_regular_file(folder / "frames" / "frame-00001.png"));
    EXPECT_TRUE(fs::is_regular_file(folder / "frames" / "frame-00027.png"));
    EXPECT_FALSE(fs::exists(folder / "frames" / "frame-00028.png"));
    EXPECT_FALSE(fs::exists(folder / "panel.mp4"));
    EXPECT_NE(summary["outputs"]["video"].get<std::string>().find("ffmpeg not found"), std::string::npos);
}

TEST(BadRun, SaysWhereTheScenarioIsWrongAndRunsNothing) {
    const fs::path scenario = kOut / "bad.toml";
    std::ofstream(scenario) << "sound_folder = \"" TW_EXAMPLES_DIR "/sound-sample\"\n"
                               "[[event]]\nat = 1\ncommand = \"ApuStrat\"\nvalue = \"play_once\"\n";
    const fs::path folder = kOut / "bad-run";
    fs::remove_all(folder);
    const Result result = Twsim("run " + scenario.string() + " --out " + folder.string());
    EXPECT_EQ(result.code, 2);
    EXPECT_EQ(result.err, "twsim run: " + scenario.string() +
                              ":2: unknown sound item \"ApuStrat\": twsound.cfg in " TW_EXAMPLES_DIR
                              "/sound-sample has ApuStart, ApuRun, GearHorn\n");
    EXPECT_TRUE(result.out.empty());
    EXPECT_FALSE(fs::exists(folder)) << "nothing runs, nothing is written";

    std::ofstream(scenario) << "gauges = [\"EngOilPress1\", \"EngFuelFlow1\"]\n";
    const Result gauge = Twsim("run " + scenario.string() + " --out " + folder.string());
    EXPECT_EQ(gauge.code, 2);
    EXPECT_NE(gauge.err.find(scenario.string() + ":1: no module has a gauge named \"EngFuelFlow1\""), std::string::npos)
        << gauge.err;
    EXPECT_FALSE(fs::exists(folder));

    // The outputs would replace the folder's logfile.txt, and more.
    std::ofstream(scenario) << "sound_folder = \"" TW_EXAMPLES_DIR "/sound-sample\"\n";
    const Result into = Twsim("run " + scenario.string() + " --out " TW_EXAMPLES_DIR "/sound-sample/");
    EXPECT_EQ(into.code, 2);
    EXPECT_NE(into.err.find("the output folder must not be the sound folder"), std::string::npos) << into.err;
    EXPECT_FALSE(fs::exists(TW_EXAMPLES_DIR "/sound-sample/sound.wav"));
}

TEST(LiveRun, PlaysTheSameSamplesAsSoundWav) {
    const fs::path scenario = kOut / "live.toml";
    std::ofstream(scenario) << "sound_folder = \"" TW_EXAMPLES_DIR "/sound-sample\"\nduration = 1.5\n"
                               "[[event]]\nat = 0.2\ncommand = \"ApuRun\"\nvalue = \"play_looped\"\n"
                               "[[event]]\nat = 0.5\ncommand = \"GearHorn\"\nvalue = \"play_once_volume_pan\"\n"
                               "volume = -300\npan = 2000\n";
    const fs::path folder = kOut / "live-run";
    const fs::path raw = kOut / "live.raw";
    // 1 ms between the disk driver's blocks of 1024 frames: it takes the
    // sound faster than real time, and the run keeps up.
    const Result result = Twsim("run " + scenario.string() + " --play --fps 0 --out " + folder.string(),
                                "SDL_AUDIODRIVER=disk SDL_DISKAUDIODELAY=1 SDL_DISKAUDIOFILE=" + raw.string());
    ASSERT_EQ(result.code, 0) << result.err << result.out;
    WavContents wav;
    std::string error;
    ASSERT_TRUE(ReadWavFile((folder / "sound.wav").string(), &wav, &error)) << error;
    // The device may get silence before the run's sound reaches it, and
    // after it; from the first sound on, it gets every sample as written.
    const std::string played = ReadFile(raw);
    const std::string written(reinterpret_cast<const char*>(wav.samples.data()), wav.samples.size() * sizeof(int16_t));
    const size_t firstSound = written.find_first_not_of('\0');
    ASSERT_NE(firstSound, std::string::npos);
    const size_t firstFrame = firstSound / 4 * 4;
    const std::string expected = written.substr(firstFrame);
    const size_t start = played.find_first_not_of('\0') / 4 * 4;
    ASSERT_LT(start, played.size()) << "the device got nothing but silence";
    EXPECT_TRUE(played.compare(start, expected.size(), expected) == 0) << "the device got other samples";
    EXPECT_EQ(played.find_first_not_of('\0', start + expected.size()), std::string::npos) << "only silence after the run";
    EXPECT_GT(Rms(wav, 0.6, 1.0), 0.02);
}

}  // namespace
