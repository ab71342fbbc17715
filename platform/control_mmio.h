// Host-facing view of the native multimedia file I/O stand-ins.
#pragma once

extern "C" {

// Files opened through mmioOpenA and not closed yet, so that a test can see
// that a reader gave back what it opened.
int TwPlatformOpenMmioCount(void);

}  // extern "C"
