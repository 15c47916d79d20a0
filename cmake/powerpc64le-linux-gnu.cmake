# Linux on ppc64le, with g++-powerpc64le-linux-gnu (see debian-cross.cmake).
set(PT_CROSS_TRIPLE powerpc64le-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR ppc64le)
set(PT_CROSS_QEMU ppc64le)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
