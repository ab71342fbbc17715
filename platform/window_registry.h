// Between the platform's stand-ins (not for modules or the host): whether a
// handle names a window the host registered (control_window.h).
#pragma once

#include <windows.h>

bool TwPlatformIsRegisteredWindow(HWND window);
