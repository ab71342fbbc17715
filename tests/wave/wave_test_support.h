// Helpers the wave tests share in both builds: a temporary folder for the
// files they write, and the number of files the process holds open.
#pragma once

#include "wave_cases.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include "control_mmio.h"
#endif

namespace wave_test {

#ifdef _WIN32
// Under wine a crash takes the program's buffered output with it; unbuffered,
// the log shows how far the tests got.
inline const int kUnbufferedOutput = (std::setvbuf(stdout, nullptr, _IONBF, 0), 0);
#endif

// A fresh folder below the system's temporary folder, removed with
// everything in it at the end. Paths come out the way module code writes
// them, with backslashes: natively the stand-ins must turn them round.
class TempFolder {
public:
    TempFolder() {
        const auto base = std::filesystem::temp_directory_path();
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        for (int attempt = 0;; ++attempt) {
            folder_ = base / ("tw_wave_" + std::to_string(stamp) + "_" + std::to_string(attempt));
            std::error_code error;
            if (std::filesystem::create_directory(folder_, error)) break;
            if (attempt > 1000) break;  // the writes below will fail and say so
        }
    }
    ~TempFolder() {
        std::error_code error;
        std::filesystem::remove_all(folder_, error);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    std::string PathOf(const std::string& name) const {
        std::string path = (folder_ / name).string();
        std::replace(path.begin(), path.end(), '/', '\\');
        return path;
    }

    // Writes the file and gives its path; an empty path if it could not be
    // written (the Open under test then fails loudly).
    std::string Write(const std::string& name, const wave_cases::Bytes& bytes) const {
        const std::string written = (folder_ / name).string();
        return wave_cases::WriteFileBytes(written, bytes) ? PathOf(name) : std::string();
    }

private:
    std::filesystem::path folder_;
};

// Whether some handle still holds the file at `path` open. On Windows a
// file held open cannot be opened without sharing; natively the stand-in
// keeps track of what it opened.
inline bool HeldOpen(const std::string& path) {
#ifdef _WIN32
    HANDLE exclusive = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (exclusive == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_SHARING_VIOLATION;
    CloseHandle(exclusive);
    return false;
#else
    return TwPlatformIsMmioFileOpen(path.c_str()) != FALSE;
#endif
}

}  // namespace wave_test
