# The common part of the toolchain files for Windows (mingw-w64-x86_64.cmake,
# mingw-w64-i686.cmake): Debian's mingw-w64 compilers for VELK_MINGW_TRIPLET
# with the -posix thread model (GoogleTest needs it), the target's libraries
# under /usr/<triplet>, and VELK_MINGW_WINE, the Wine loader that runs the
# test programs at build and test time. Those files set the triplet, the
# processor and the loader, then include this one.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${VELK_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELK_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VELK_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VELK_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything linked in: velk.exe runs with no DLL beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

set(CMAKE_CROSSCOMPILING_EMULATOR ${VELK_MINGW_WINE})
