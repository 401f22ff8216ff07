# Cross-building for 64-bit Windows with Debian's MinGW-w64 (g++-mingw-w64-x86-64).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(quarn_mingw x86_64-w64-mingw32)
# The POSIX-threads variant: its libstdc++ has std::mutex, which GoogleTest needs.
set(CMAKE_C_COMPILER ${quarn_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${quarn_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${quarn_mingw}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${quarn_mingw})
# Programs (reswrap) come from the build machine; libraries and headers from the target's root.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The tests' programs run under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
