# Cross build of velk.exe for 32-bit Windows (PE32) with Debian's mingw-w64
# compilers. Test programs run under 32-bit Wine, which scripts/setup-wine32
# gets ready (the machine's own, or Debian's run under qemu-i386 where the
# kernel runs no 32-bit code); it prints the folder of the loader to give
# here:
#
#   loaders=$(bash scripts/setup-wine32)
#   cmake -S . -B build-windows-i686 -G Ninja \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake -DVELK_WINE32="$loaders/wine"
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VELK_MINGW_TRIPLET i686-w64-mingw32)
set(VELK_WINE32 /usr/lib/wine/wine CACHE FILEPATH "The 32-bit Wine loader that runs test programs")
set(VELK_MINGW_WINE ${VELK_WINE32})
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-cross.cmake)
