// Helpers the wave tests share in both builds: a temporary folder for the
// files they write, and the number of files the process holds open.
#pragma once

#include "wave_cases.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include "control_mmio.h"
#endif

namespace wave_test {

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

// Files opened through the multimedia file I/O and not closed: natively the
// stand-in counts them; on Windows the process's handle count stands in (no
// other handles come and go while a test runs). -1 if unknown.
inline int OpenFileCount() {
#ifdef _WIN32
    DWORD count = 0;
    return GetProcessHandleCount(GetCurrentProcess(), &count) ? static_cast<int>(count) : -1;
#else
    return TwPlatformOpenMmioCount();
#endif
}

}  // namespace wave_test
