# The common part of the toolchain files for Linux on other processors
# (linux-aarch64.cmake, linux-i686.cmake, linux-s390x.cmake): Debian's cross
# compilers for VELK_CROSS_TRIPLET, the target's libraries under
# /usr/<triplet>, and qemu-user to run the test programs at build and test
# time. Those files set the triplet and the processor, then include this one.
set(CMAKE_SYSTEM_NAME Linux)

set(CMAKE_C_COMPILER ${VELK_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${VELK_CROSS_TRIPLET}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${VELK_CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR ${VELK_CROSS_QEMU};-L;/usr/${VELK_CROSS_TRIPLET})
