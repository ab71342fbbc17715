// Shared helpers of the render tests: files, the engine instruments module
// loaded through the host, little-endian reads.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <unistd.h>

#include "module.h"

inline std::vector<uint8_t> ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t{b[at + 3]} << 24);
}
inline uint16_t Le16(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

// The engine instruments module, loaded once for all tests of a binary.
inline LoadedModule& Hx8() {
    static std::unique_ptr<LoadedModule> module = [] {
        std::string error;
        auto m = LoadedModule::Open(TW_HX8_MODULE, &error);
        if (!m) throw std::runtime_error("cannot load " TW_HX8_MODULE ": " + error);
        return m;
    }();
    return *module;
}

// A fresh empty folder under the system's temporary folder.
inline std::filesystem::path FreshFolder(const std::string& name) {
    const auto dir = std::filesystem::temp_directory_path() /
                     ("tw_render_" + name + "_" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}
