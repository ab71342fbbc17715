#include "sound_test_support.h"

#include <control_files.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "config.h"
#include "log.h"
#include "recorded_code.h"

void ResetSoundModule() {
    ResetConfigurationState();
    SentCalculatorCode().clear();
}

std::string ReadFileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

SimFolder::SimFolder(bool createSoundFolder) {
    std::string pattern = (std::filesystem::temp_directory_path() / "twsound-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("no temporary folder");
    root_ = pattern;
    std::filesystem::create_directories(sim());
    if (createSoundFolder) std::filesystem::create_directories(sound());
    TwPlatformResetFiles();
    TwPlatformSetExecutablePath((sim() / "fs.exe").c_str());
}

SimFolder::~SimFolder() {
    TwPlatformResetFiles();
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

void SimFolder::Write(const std::string& relative, const std::string& bytes) const {
    WriteFileBytes(sound() / relative, bytes);
}
