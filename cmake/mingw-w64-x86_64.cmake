# Cross build of the 64-bit Windows programs with Debian's MinGW-w64
# toolchain (g++-mingw-w64-x86-64-win32): the same programs as the 32-bit
# build, for x86-64 Windows (Windows 7 and later).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(PT_MINGW_PREFIX x86_64-w64-mingw32)
# The win32 thread model, as in the 32-bit build: one thread, no threads
# library beside the programs.
set(CMAKE_C_COMPILER ${PT_MINGW_PREFIX}-gcc-win32)
set(CMAKE_CXX_COMPILER ${PT_MINGW_PREFIX}-g++-win32)
set(CMAKE_RC_COMPILER ${PT_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${PT_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Doubles in SSE2 registers is what x86-64 does anyway: every operation
# rounds to double exactly as on Linux.

# The programs run on their own: no C++ runtime or libgcc DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")
