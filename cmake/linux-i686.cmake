# Cross build of velk for Linux on i686, run under qemu-i386:
#
#   cmake -S . -B build-i686 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/linux-i686.cmake
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VELK_CROSS_TRIPLET i686-linux-gnu)
set(VELK_CROSS_QEMU qemu-i386)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
