# Cross build of velk.exe for 64-bit Windows with Debian's mingw-w64 compilers.
# Test programs run under Wine, so ctest in the cross build runs the Windows
# tests:
#
#   cmake -S . -B build-windows -G Ninja \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VELK_MINGW_TRIPLET x86_64-w64-mingw32)
set(VELK_MINGW_WINE /usr/lib/wine/wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-cross.cmake)
