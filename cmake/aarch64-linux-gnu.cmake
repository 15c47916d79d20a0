# Linux on aarch64, with g++-aarch64-linux-gnu (see debian-cross.cmake).
set(PT_CROSS_TRIPLE aarch64-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(PT_CROSS_QEMU aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
