# Cross build for 32-bit Windows with mingw-w64 (Debian's i686 packages).
#
# The -posix threading variant: the library itself uses only Win32 critical
# sections, but the host stand-in and the tests use std::mutex and std::thread,
# which mingw's GCC 12 provides only in its posix (winpthreads) variant.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(VX_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_C_COMPILER ${VX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VX_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Link libgcc, libstdc++ and winpthreads statically into every DLL and EXE so
# that they run on a bare Windows (or Wine) with only system DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
# Likewise zlib (package libz-mingw-w64-dev), not its DLL.
set(ZLIB_USE_STATIC_LIBS ON)

# Test executables run under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
