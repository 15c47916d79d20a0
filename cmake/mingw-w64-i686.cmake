# Cross build of the 32-bit Windows program with Debian's MinGW-w64
# toolchain (g++-mingw-w64-i686).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(PT_MINGW_PREFIX i686-w64-mingw32)
# The POSIX thread model: GoogleTest needs std::mutex, which the win32 model
# of this GCC lacks. The program itself starts no threads.
set(CMAKE_C_COMPILER ${PT_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PT_MINGW_PREFIX}-g++-posix)
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
