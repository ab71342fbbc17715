// What the sound module's tests share: a calculator-code service that
// records what the module sends, a simulator folder in a temporary
// directory, and a fresh module state per test.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "recorded_code.h"

// Puts the sound module back into its state at load: empty folders,
// settings and item table, logging off, no diagnostics sink.
void ResetSoundModule();

std::string ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes);

// A simulator installation in a temporary folder: `sim/fs.exe` is what
// GetModuleFileNameA reports, and `sim/Sound/Tarnwick_HX8` is the sound
// folder (created unless asked not to). Removed again at the end, when the
// file stand-ins are reset as well.
class SimFolder {
public:
    explicit SimFolder(bool createSoundFolder = true);
    ~SimFolder();
    SimFolder(const SimFolder&) = delete;
    SimFolder& operator=(const SimFolder&) = delete;

    const std::filesystem::path& root() const { return root_; }
    std::filesystem::path sim() const { return root_ / "sim"; }
    std::filesystem::path sound() const { return sim() / "Sound" / "Tarnwick_HX8"; }
    // The sound folder as the module spells it: the simulator folder joined
    // with "Sound\Tarnwick_HX8".
    std::string moduleSoundFolder() const { return sim().string() + "\\Sound\\Tarnwick_HX8"; }

    void Write(const std::string& relative, const std::string& bytes) const;

private:
    std::filesystem::path root_;
};
