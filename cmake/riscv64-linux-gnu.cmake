# Linux on riscv64, with g++-riscv64-linux-gnu (see debian-cross.cmake).
set(PT_CROSS_TRIPLE riscv64-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR riscv64)
set(PT_CROSS_QEMU riscv64)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
