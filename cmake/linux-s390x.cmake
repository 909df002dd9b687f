# Cross build of velk for Linux on s390x, run under qemu-s390x:
#
#   cmake -S . -B build-s390x -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/linux-s390x.cmake
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(VELK_CROSS_TRIPLET s390x-linux-gnu)
set(VELK_CROSS_QEMU qemu-s390x)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
