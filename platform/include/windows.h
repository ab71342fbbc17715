// Native stand-in for the parts of <windows.h> the gauge modules use.
//
// Module code is written once against the Windows names; on Linux these
// declarations are served by the platform library (libtwplatform.so), which
// the host steers. Only what the modules need is declared here.
#pragma once

#include <cstddef>
#include <cstdint>

#define WINAPI
#define CALLBACK
#define APIENTRY

typedef int BOOL;
typedef unsigned char BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef unsigned int UINT;
typedef char CHAR;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef void* LPVOID;
typedef uintptr_t UINT_PTR;
typedef intptr_t LONG_PTR;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef int32_t HRESULT;
typedef void* HANDLE;
typedef struct HWND__* HWND;
typedef struct HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
typedef struct SECURITY_ATTRIBUTES_* LPSECURITY_ATTRIBUTES;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

#define MAX_PATH 260
#define WM_TIMER 0x0113
#define INVALID_FILE_ATTRIBUTES ((DWORD)-1)
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010

#define S_OK ((HRESULT)0)
#define E_FAIL ((HRESULT)0x80004005)
#define E_OUTOFMEMORY ((HRESULT)0x8007000E)
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)

typedef void(CALLBACK* TIMERPROC)(HWND, UINT, UINT_PTR, DWORD);

extern "C" {

// Windows and timers.
HWND WINAPI FindWindowA(LPCSTR className, LPCSTR windowName);
UINT_PTR WINAPI SetTimer(HWND window, UINT_PTR id, UINT elapseMs, TIMERPROC proc);
BOOL WINAPI KillTimer(HWND window, UINT_PTR id);
void WINAPI Sleep(DWORD milliseconds);

// The process and its files.
DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size);
DWORD WINAPI GetFileAttributesA(LPCSTR fileName);
BOOL WINAPI CreateDirectoryA(LPCSTR pathName, LPSECURITY_ATTRIBUTES attributes);

}  // extern "C"
