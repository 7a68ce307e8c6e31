# Cross build for Windows with Debian's MinGW-w64 (the -posix variant, for std::thread), for the
# target that VOK_MINGW_TRIPLE names. Programs and the DLL carry their runtime, so that they run
# on a bare Windows.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${VOK_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VOK_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VOK_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VOK_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

# Tests and tools run under Wine on the build machine (or in its emulated test machine).
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
