// Native stand-in for the C runtime's shared file opens (<share.h>, _fsopen).
//
// Paths may use backslashes, as module code writes them; they are translated.
// Modes follow the Windows C runtime: without "b" a file is in text mode, so
// CR LF is read as LF and LF is written as CR LF.
#pragma once

#include <cstdio>

#define _SH_DENYRW 0x10
#define _SH_DENYWR 0x20
#define _SH_DENYRD 0x30
#define _SH_DENYNO 0x40

extern "C" FILE* _fsopen(const char* fileName, const char* mode, int shareFlag);
