// Turning a path as module code writes it into a path this system can open.
#pragma once

#include <string>

// Backslashes become slashes. Then, as Windows file names ignore case, a
// path that does not exist as written is looked up folder by folder without
// regard to ASCII case; the first entry that matches is taken. When nothing
// matches, the translated path comes back as written, so that a create or a
// failed open behaves as it would have.
std::string NativePath(const char* windowsPath);
