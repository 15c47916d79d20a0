# Linux on s390x, with g++-s390x-linux-gnu (see debian-cross.cmake).
set(PT_CROSS_TRIPLE s390x-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(PT_CROSS_QEMU s390x)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
