# Cross build of the 32-bit Windows program with Debian's MinGW-w64
# toolchain (g++-mingw-w64-i686-win32).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(PT_MINGW_PREFIX i686-w64-mingw32)
# The win32 thread model (g++-mingw-w64-i686-win32): the program has one
# thread, and the POSIX model would link its threads library into every
# program and import GetTickCount64 through it, which Windows XP lacks.
# GoogleTest gets the one piece of thread support this model's C++ library
# lacks from tests/support/gtest_threads_win32.h.
set(CMAKE_C_COMPILER ${PT_MINGW_PREFIX}-gcc-win32)
set(CMAKE_CXX_COMPILER ${PT_MINGW_PREFIX}-g++-win32)
set(CMAKE_RC_COMPILER ${PT_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${PT_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Doubles in SSE2 registers, so every operation rounds to double exactly as
# on x86-64; the x87 unit would keep 80-bit intermediates.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")

# pt.exe runs on its own: no C++ runtime or libgcc DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Release programs ship without symbols or debug data (half of pt.exe's size).
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")
