// Host-facing view of the native multimedia file I/O stand-ins.
#pragma once

#include <windows.h>

extern "C" {

// Files opened through mmioOpenA and not closed yet, so that a test can see
// that a reader gave back what it opened.
int TwPlatformOpenMmioCount(void);

// Whether a file opened through mmioOpenA at `path` (written either way,
// translated as mmioOpenA translates it) is still open.
BOOL TwPlatformIsMmioFileOpen(const char* path);

}  // extern "C"
