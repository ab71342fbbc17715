// tw_sound.gau as the Windows tests see it: loaded by the Windows test host
// the way the simulator loads it, with the stand-in SimConnect.dll found
// through the module's manifest (a private assembly beside this program),
// its sound folder below this program's folder (the module takes the
// simulator's folder from the executable's path), its log on, and real
// sound through wine's DirectSound.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "gauge_sim.h"
#include "sound_log.h"
#include "tone_wav.h"

namespace sound_win {

namespace fs = std::filesystem;

inline fs::path ProgramFolder() { return fs::path(win32host::BesideProgram("")); }
inline fs::path SoundFolder() { return ProgramFolder() / "Sound" / "Tarnwick_HX8"; }
// The sound folder as the module spells it: the program's folder, then
// "\Sound\Tarnwick_HX8".
inline std::string ModuleSoundFolder() {
    std::string folder = win32host::BesideProgram("");
    if (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
    return folder + "\\Sound\\Tarnwick_HX8";
}
inline std::string ModulePath() { return win32host::BesideProgram("tw_sound.gau"); }

inline std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A fresh sound folder with logfile.txt (logging on) for every test; the
// module is loaded by the test (Load) and unloaded afterwards.
class SoundModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(win32host::MainWindow(), nullptr) << "no main window: is there an X server?";
        std::error_code ignored;
        fs::remove_all(ProgramFolder() / "Sound", ignored);
        fs::create_directories(SoundFolder());
        Write("logfile.txt", "");
    }
    void TearDown() override { sim.Unload(); }

    void Write(const std::string& relative, const std::string& bytes) const { WriteFile(SoundFolder() / relative, bytes); }
    void WriteConfig(const std::string& text) const { Write("twsound.cfg", text); }

    // Loads the module (start routine: SimConnect) and places tw_sound.
    void Load() {
        LoadModuleOnly();
        Place();
    }
    void LoadModuleOnly() {
        std::string error;
        ASSERT_TRUE(sim.Load(ModulePath(), error)) << error;
        ASSERT_TRUE(sim.simConnect().Complete()) << "the module's SimConnect.dll is not the tests' stand-in";
    }
    uint32_t Place() {
        gauge = sim.Place("tw_sound");
        EXPECT_NE(gauge, 0u) << "tw_sound.gau has no gauge tw_sound";
        return gauge;
    }
    void Update(int count = 1) { sim.Update(count); }

    // Local variables as the other gauges see them, by their bare name.
    void Set(const std::string& name, double value) {
        ASSERT_TRUE(win32host::Calculator().variables.Set("L:" + name + ",number", value)) << name;
    }
    std::optional<double> Get(const std::string& name) const {
        auto found = win32host::Calculator().variables.Find("L:" + name);
        if (!found) return std::nullopt;
        return found->value;
    }

    std::string LogBytes() const { return ReadFile(SoundFolder() / "logfile.txt"); }
    std::vector<LogEntry> Log() const {
        std::string unmatched;
        std::vector<LogEntry> entries = ParseLog(LogBytes(), &unmatched);
        if (!unmatched.empty()) ADD_FAILURE() << "log text no message matches: " << unmatched.substr(0, 200);
        return entries;
    }
    void ClearLog() const { Write("logfile.txt", ""); }
    std::string Path(const char* file) const { return ModuleSoundFolder() + "\\" + file; }

    // What the calculator-code service received since the last clear.
    std::vector<std::string>& CodeLog() { return win32host::Calculator().log; }

    win32host::GaugeSim sim;
    uint32_t gauge = 0;
};

}  // namespace sound_win
