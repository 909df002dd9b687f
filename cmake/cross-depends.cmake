# Read by cpack in a cross build (CPACK_PROJECT_CONFIG_FILE): the Debian
# package's dependencies. dpkg-shlibdeps finds the libraries the program
# needs in the target's own library folder, which belongs to the packages of
# Debian's cross toolchain. Those name the target's packages with an
# architecture ("libc6:arm64") or are named after it ("libgcc-s1-arm64-cross");
# on the target system both are plainly "libc6" and "libgcc-s1". The cross
# libstdc++6 says no version: the one the program was built with is asked.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()

set(work_dir ${CPACK_PACKAGE_DIRECTORY}/_CPack_Packages/cross-depends)
file(MAKE_DIRECTORY ${work_dir}/debian)
file(TOUCH ${work_dir}/debian/control)  # dpkg-shlibdeps reads it, and needs nothing from it
execute_process(
  COMMAND dpkg-shlibdeps -O -l${CPACK_VELK_TARGET_LIBRARIES} ${CPACK_VELK_PROGRAM}
  WORKING_DIRECTORY ${work_dir}
  OUTPUT_VARIABLE shlibs
  ERROR_VARIABLE errors
  RESULT_VARIABLE result
  OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT result EQUAL 0 OR NOT shlibs MATCHES "^shlibs:Depends=")
  message(FATAL_ERROR "dpkg-shlibdeps found no dependencies of ${CPACK_VELK_PROGRAM}:\n${errors}")
endif()

set(arch ${CPACK_DEBIAN_PACKAGE_ARCHITECTURE})
string(REGEX REPLACE "^shlibs:Depends=" "" depends "${shlibs}")
string(REPLACE ":${arch}" "" depends "${depends}")
string(REPLACE "-${arch}-cross" "" depends "${depends}")
string(REGEX REPLACE "libstdc\\+\\+6(,|$)" "libstdc++6 (>= ${CPACK_VELK_COMPILER_MAJOR})\\1" depends
                     "${depends}")
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${depends}")
