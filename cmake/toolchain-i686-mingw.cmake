# Cross toolchain for the Windows build: 32-bit Windows (i686) with mingw-w64.
# The simulator loads 32-bit gauge modules only.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(TW_MINGW_PREFIX i686-w64-mingw32)
# The POSIX thread model: its C++ library has std::mutex and friends, which
# GoogleTest needs; winpthread is linked in statically like the rest.
set(CMAKE_C_COMPILER ${TW_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TW_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TW_MINGW_PREFIX}-windres)
set(CMAKE_AR ${TW_MINGW_PREFIX}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${TW_MINGW_PREFIX}-ranlib CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${TW_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Nothing built here may need a runtime DLL beside it: the compiler's own
# runtime libraries are linked in statically.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
