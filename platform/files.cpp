// Native stand-ins for the Windows C runtime's shared file open (_fsopen) and
// the Win32 calls the sound module makes about its files and folders.
//
// Module code writes Windows paths and relies on text mode: a text-mode read
// turns CR LF into LF and ends at a Ctrl-Z, a text-mode write turns LF into
// CR LF. Every stream handed out is a cookie stream over a binary one, so the
// translation happens here and the host can count what is still open.
#include "control_files.h"
#include "native_path.h"

#include <share.h>
#include <windows.h>

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>

namespace {

constexpr DWORD kFileAttributeReadOnly = 0x01;
constexpr DWORD kFileAttributeNormal = 0x80;
constexpr int kCtrlZ = 0x1A;

std::string executablePath;         // empty: this process's own executable
std::set<std::string> lockedPaths;  // translated paths
std::atomic<int> openFileCount{0};

std::string Translated(const char* windowsPath) {
    std::string path(windowsPath);
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

bool Exists(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

// The entry of `folder` whose name equals `name` without regard to ASCII
// case, or empty when there is none.
std::string FindEntryIgnoringCase(const std::string& folder, const std::string& name) {
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (dir == nullptr) return {};
    std::string found;
    while (dirent* entry = ::readdir(dir)) {
        if (::strcasecmp(entry->d_name, name.c_str()) == 0) {
            found = entry->d_name;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

struct TextStream {
    FILE* file;  // the binary stream underneath
    bool text;
    bool endOfText = false;  // a Ctrl-Z was read: the rest of the file is not data
};

ssize_t StreamRead(void* cookie, char* buffer, size_t size) {
    auto* stream = static_cast<TextStream*>(cookie);
    if (!stream->text) {
        size_t n = std::fread(buffer, 1, size, stream->file);
        return (n == 0 && std::ferror(stream->file)) ? -1 : static_cast<ssize_t>(n);
    }
    size_t n = 0;
    while (n < size && !stream->endOfText) {
        int c = std::getc(stream->file);
        if (c == EOF) break;
        if (c == kCtrlZ) {
            stream->endOfText = true;
            break;
        }
        if (c == '\r') {
            int next = std::getc(stream->file);
            if (next == '\n') {
                c = '\n';
            } else if (next != EOF) {
                std::ungetc(next, stream->file);
            }
        }
        buffer[n++] = static_cast<char>(c);
    }
    if (n == 0 && std::ferror(stream->file)) return -1;
    return static_cast<ssize_t>(n);
}

ssize_t StreamWrite(void* cookie, const char* buffer, size_t size) {
    auto* stream = static_cast<TextStream*>(cookie);
    if (!stream->text) {
        size_t n = std::fwrite(buffer, 1, size, stream->file);
        return n == 0 && size != 0 ? -1 : static_cast<ssize_t>(n);
    }
    for (size_t i = 0; i < size; ++i) {
        if (buffer[i] == '\n' && std::fputc('\r', stream->file) == EOF) return i == 0 ? -1 : static_cast<ssize_t>(i);
        if (std::fputc(buffer[i], stream->file) == EOF) return i == 0 ? -1 : static_cast<ssize_t>(i);
    }
    return static_cast<ssize_t>(size);
}

int StreamSeek(void* cookie, off64_t* offset, int whence) {
    auto* stream = static_cast<TextStream*>(cookie);
    if (::fseeko(stream->file, *offset, whence) != 0) return -1;
    stream->endOfText = false;
    *offset = ::ftello(stream->file);
    return *offset < 0 ? -1 : 0;
}

int StreamClose(void* cookie) {
    auto* stream = static_cast<TextStream*>(cookie);
    int result = std::fclose(stream->file);
    delete stream;
    --openFileCount;
    return result;
}

// Splits a C runtime mode ("r", "a+", "rt", "wb", ...) into the mode for the
// stream underneath and whether the stream is in text mode. False for a mode
// the C runtime would refuse.
bool ParseMode(const char* mode, std::string& baseMode, bool& text) {
    if (mode == nullptr || (mode[0] != 'r' && mode[0] != 'w' && mode[0] != 'a')) return false;
    baseMode = mode[0];
    text = true;
    for (const char* p = mode + 1; *p != '\0'; ++p) {
        switch (*p) {
            case '+': baseMode += '+'; break;
            case 'b': text = false; break;
            case 't': text = true; break;
            default: break;  // other flags of the C runtime (c, n, S, R, T, D) change nothing here
        }
    }
    return true;
}

}  // namespace

std::string NativePath(const char* windowsPath) {
    const std::string path = windowsPath == nullptr ? std::string() : Translated(windowsPath);
    if (path.empty() || Exists(path)) return path;

    // Walk the path folder by folder; stop at the first part that matches
    // nothing and keep the rest as written.
    std::string resolved;
    size_t start = 0;
    if (path[0] == '/') {
        resolved = "/";
        start = 1;
    }
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        std::string part = path.substr(start, end - start);
        std::string candidate = resolved + part;
        if (!part.empty() && part != "." && part != ".." && !Exists(candidate)) {
            std::string match = FindEntryIgnoringCase(resolved, part);
            if (match.empty()) return path;
            candidate = resolved + match;
        }
        resolved = candidate;
        if (end == path.size()) break;
        resolved += '/';
        start = end + 1;
    }
    return resolved;
}

extern "C" FILE* _fsopen(const char* fileName, const char* mode, int shareFlag) {
    (void)shareFlag;  // no share modes here; locks come from TwPlatformLockFile
    std::string baseMode;
    bool text = false;
    if (fileName == nullptr || !ParseMode(mode, baseMode, text)) {
        errno = EINVAL;
        return nullptr;
    }
    const std::string path = NativePath(fileName);
    if (lockedPaths.count(path) != 0 || lockedPaths.count(Translated(fileName)) != 0) {
        errno = EACCES;
        return nullptr;
    }
    // Windows opens no folder as a file stream.
    struct stat info;
    if (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        errno = EACCES;
        return nullptr;
    }
    FILE* file = std::fopen(path.c_str(), (baseMode + 'b').c_str());
    if (file == nullptr) return nullptr;

    auto* stream = new TextStream{file, text};
    cookie_io_functions_t functions{StreamRead, StreamWrite, StreamSeek, StreamClose};
    FILE* cookieFile = ::fopencookie(stream, baseMode.c_str(), functions);
    if (cookieFile == nullptr) {
        std::fclose(file);
        delete stream;
        return nullptr;
    }
    ++openFileCount;
    return cookieFile;
}

extern "C" DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size) {
    // The modules ask only for the process's executable (a null handle).
    if (module != nullptr || fileName == nullptr || size == 0) return 0;
    std::string path = executablePath;
    if (path.empty()) {
        char own[4096];
        ssize_t n = ::readlink("/proc/self/exe", own, sizeof own - 1);
        if (n <= 0) return 0;
        path.assign(own, static_cast<size_t>(n));
    }
    // As on Windows: a path that does not fit is cut to size - 1 characters
    // and terminated, and the result is the buffer size.
    if (path.size() >= size) {
        std::memcpy(fileName, path.data(), size - 1);
        fileName[size - 1] = '\0';
        return size;
    }
    std::memcpy(fileName, path.c_str(), path.size() + 1);
    return static_cast<DWORD>(path.size());
}

extern "C" DWORD WINAPI GetFileAttributesA(LPCSTR fileName) {
    if (fileName == nullptr) return INVALID_FILE_ATTRIBUTES;
    const std::string path = NativePath(fileName);
    struct stat info;
    if (::stat(path.c_str(), &info) != 0) return INVALID_FILE_ATTRIBUTES;
    if (S_ISDIR(info.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
    return (info.st_mode & S_IWUSR) == 0 ? kFileAttributeReadOnly : kFileAttributeNormal;
}

extern "C" BOOL WINAPI CreateDirectoryA(LPCSTR pathName, LPSECURITY_ATTRIBUTES attributes) {
    (void)attributes;
    if (pathName == nullptr) return FALSE;
    // Only the last level is created; a missing parent fails, as on Windows.
    return ::mkdir(NativePath(pathName).c_str(), 0777) == 0 ? TRUE : FALSE;
}

extern "C" void TwPlatformSetExecutablePath(const char* path) { executablePath = path == nullptr ? "" : path; }

extern "C" void TwPlatformLockFile(const char* path, BOOL locked) {
    if (path == nullptr) return;
    const std::string translated = Translated(path);
    if (locked) {
        lockedPaths.insert(translated);
    } else {
        lockedPaths.erase(translated);
    }
}

extern "C" int TwPlatformOpenFileCount(void) { return openFileCount.load(); }

extern "C" void TwPlatformResetFiles(void) {
    executablePath.clear();
    lockedPaths.clear();
}
