// Entry point of tw_sound.gau. Nothing is set up per process or thread here:
// the simulator starts and stops the module through Linkage, and every
// record is static data.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
