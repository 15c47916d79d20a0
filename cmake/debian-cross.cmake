# Cross builds for Linux on another processor family with Debian's cross
# compilers (g++-<triple>). Each cmake/<triple>.cmake sets PT_CROSS_TRIPLE,
# the processor and the user-mode emulator's name, then includes this file:
#   cmake --preset aarch64    (or: cmake -B build/x -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake)
set(CMAKE_SYSTEM_NAME Linux)

set(CMAKE_C_COMPILER ${PT_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${PT_CROSS_TRIPLE}-g++)

# Where the target's files are, the Debian way: the toolchain's own C and C++
# libraries under /usr/<triple>, and everything installed for the target
# architecture (libx11-dev:arm64, ...) multiarch under /usr/lib/<triple>.
# So the search looks under the toolchain's root first and then in the usual
# prefixes with the target's library architecture. That finds packages of the
# target architecture, and architecture-independent ones too (the JSON
# library's header in /usr/include and its CMake files in /usr/share/cmake,
# which ptrun needs), but never a library of the build machine, whose files
# lie under /usr/lib/<build triple>. Programs are the build machine's.
set(CMAKE_LIBRARY_ARCHITECTURE ${PT_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH /usr/${PT_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
# pkg-config likewise: the target's .pc files and the independent ones.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${PT_CROSS_TRIPLE}/pkgconfig:/usr/share/pkgconfig)

# ctest runs the test programs in Debian's user-mode emulator (qemu-user),
# with the target's C library from the toolchain's root.
find_program(PT_CROSS_EMULATOR qemu-${PT_CROSS_QEMU})
if(PT_CROSS_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PT_CROSS_EMULATOR} -L /usr/${PT_CROSS_TRIPLE})
endif()
