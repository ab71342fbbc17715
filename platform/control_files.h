// Host-facing control of the native file stand-ins.
//
// The modules see only _fsopen, GetModuleFileNameA, GetFileAttributesA and
// CreateDirectoryA. The host decides where the simulator's executable is
// (which fixes every folder the sound module uses), can hold a file locked
// the way another program holding it open without sharing would, and can ask
// how many files the modules still hold open.
#pragma once

#include <windows.h>

extern "C" {

// The path GetModuleFileNameA(NULL, ...) returns from now on: the simulator's
// executable. Backslashes or slashes are both fine; only the folder part
// matters to the modules. 0 or "" goes back to this process's own executable.
void TwPlatformSetExecutablePath(const char* path);

// While locked, every _fsopen of `path` fails, as on Windows when another
// program holds the file open without sharing. Paths compare after the same
// translation _fsopen applies (backslashes to slashes).
void TwPlatformLockFile(const char* path, BOOL locked);

// Files opened through _fsopen and not closed yet.
int TwPlatformOpenFileCount(void);

// Back to the process's own executable path and no locked files. Open files
// stay open (and counted).
void TwPlatformResetFiles(void);

}  // extern "C"
