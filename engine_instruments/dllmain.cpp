// Entry point of tw_hx8.gau. The module keeps nothing that needs setting up
// or tearing down per process or thread: its records are static data, and
// the simulator starts and stops it through Linkage.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
