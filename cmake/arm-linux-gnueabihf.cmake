# Linux on arm, with g++-arm-linux-gnueabihf (see debian-cross.cmake).
set(PT_CROSS_TRIPLE arm-linux-gnueabihf)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(PT_CROSS_QEMU arm)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
