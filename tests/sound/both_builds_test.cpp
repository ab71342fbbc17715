// The configuration reader and the log give the same results, byte for
// byte, in both builds: natively over the file stand-ins, and on Windows
// (under wine) over the real C runtime. Text mode is where they could part:
// CR LF read as LF, Ctrl-Z ending a text file, LF written as CR LF.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "config.h"
#include "log.h"
#include "recorded_code.h"

#ifndef _WIN32
#include <control_files.h>
#include <cstdlib>
#endif

namespace {

namespace fs = std::filesystem;

// The simulator folder: on Windows the test program's own folder (that is
// what GetModuleFileNameA reports), natively a temporary folder the file
// stand-ins are told about. The sound folder below it is made and removed
// by each test.
class BothBuildsTest : public ::testing::Test {
protected:
    void SetUp() override {
#ifdef _WIN32
        char path[MAX_PATH] = {};
        GetModuleFileNameA(nullptr, path, MAX_PATH);
        sim_ = fs::path(path).parent_path();
#else
        std::string pattern = (fs::temp_directory_path() / "twboth-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        sim_ = pattern;
        TwPlatformSetExecutablePath((sim_ / "fs.exe").string().c_str());
#endif
        fs::remove_all(sim_ / "Sound");
        fs::create_directories(Sound());
        Reset();
    }
    void TearDown() override {
        Reset();
        std::error_code ignored;
        fs::remove_all(sim_ / "Sound", ignored);
#ifndef _WIN32
        fs::remove_all(sim_, ignored);
        TwPlatformResetFiles();
#endif
    }

    static void Reset() {
        ResetConfigurationState();
        SentCalculatorCode().clear();
    }

    fs::path Sound() const { return sim_ / "Sound" / "Tarnwick_HX8"; }

    void Write(const std::string& name, const std::string& bytes) const {
        fs::create_directories((Sound() / name).parent_path());
        std::ofstream out(Sound() / name, std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    std::string Read(const std::string& name) const {
        std::ifstream in(Sound() / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    fs::path sim_;
};

std::string WithCrLf(const std::string& text) {
    std::string out;
    for (char c : text) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return out;
}

const std::string kConfig =
    "[general]\n"
    "MasterController=SoundMaster\n"
    "buffervolwrite=SoundVolume\n"
    "\n"
    "[SoundItems]\n"
    "ApuStart, apu_start.wav\n"
    "GearHorn , horns\\gear_horn.wav , -800\n"
    "Missing, missing.wav, -5\n"
    "Caf\xE9, apu_start.wav, 300";

TEST_F(BothBuildsTest, LfAndCrLfFilesReadTheSameAndTheLogIsCrLf) {
    Write("apu_start.wav", "RIFF");
    Write("horns/gear_horn.wav", "RIFF");
    for (const std::string& text : {kConfig, kConfig + "\n", WithCrLf(kConfig), WithCrLf(kConfig) + "\r\n"}) {
        Reset();
        Write("logfile.txt", "");
        SetUpFiles();
        ASSERT_TRUE(logEnabled);
        Write("twsound.cfg", text);
        ASSERT_TRUE(ReadConfigFile(configPath));

        EXPECT_EQ(masterController, "(L:soundmaster, number)");
        EXPECT_EQ(bufferVolWrite, "(L:soundvolume, number)");
        EXPECT_EQ(bufferPanRead, "");
        ASSERT_EQ(soundItems.size(), 3u);
        EXPECT_EQ(soundItems[0].lVariable, "(L:apustart, number)");
        EXPECT_EQ(soundItems[1].wavFile, soundFolder + "\\horns\\gear_horn.wav");
        EXPECT_EQ(soundItems[1].defaultVolume, -800);
        EXPECT_EQ(soundItems[2].lVariable, "(L:caf, number)");
        EXPECT_EQ(soundItems[2].defaultVolume, 0);
        EXPECT_EQ(SentCalculatorCode(), (std::vector<std::string>{"-1 (>L:apustart, number)", "-1 (>L:gearhorn, number)",
                                                      "-1 (>L:missing, number)", "-1 (>L:caf, number)"}));
        const std::string folder = soundFolder;
        EXPECT_EQ(Read("logfile.txt"), "Wavefile " + folder + "\\apu_start.wav .... found.\r\n\r\n" +
                                           "Wavefile " + folder + "\\horns\\gear_horn.wav .... found.\r\n\r\n" +
                                           "Wavefile " + folder + "\\missing.wav .... NOT FOUND.\r\n" +
                                           "Play command aborted.\r\n\r\n" + "Wavefile " + folder +
                                           "\\apu_start.wav .... found.\r\n\r\n");
    }
}

TEST_F(BothBuildsTest, ACtrlZEndsTheConfigurationAsTextModeDoes) {
    SetUpFiles();
    Write("twsound.cfg", "[general]\r\nmastercontroller=a\x1A\r\nbufferpanread=b\r\n");
    ASSERT_TRUE(ReadConfigFile(configPath));
    EXPECT_EQ(masterController, "(L:a, number)");
    EXPECT_EQ(bufferPanRead, "");
}

TEST_F(BothBuildsTest, MessagesAreAppendedWithCrLf) {
    Write("logfile.txt", "kept\r\n");
    SetUpFiles();
    LogTwoNumbers(60, 3, -2500);
    LogPlayCommand(4, "C:\\100%\\%s.wav", 5);
    LogMessage(70);
    LogMessage(29);
    EXPECT_EQ(Read("logfile.txt"),
              "kept\r\nSetting volume:\r\nBuffer 3 set to -2500.\r\n\r\nPlaying ... C:\\100%\\%s.wav.\r\n.\r\n\r\n\r\n"
              "\r\n------\r\nFS shutdown or change of flight detected.\r\nDirectSound released.\r\n------\r\n\r\n");
}

TEST_F(BothBuildsTest, NoLogFileMeansNoneIsMade) {
    SetUpFiles();
    EXPECT_FALSE(logEnabled);
    LogMessage(2);
    EXPECT_FALSE(fs::exists(Sound() / "logfile.txt"));
}

}  // namespace
