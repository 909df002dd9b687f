# Installation of the documentation, and the packages CPack makes from an
# installed tree: a Debian package on Linux, a zip on Windows.
#
#   cmake --install build --prefix DIR    program, manual page, README, copyright
#   cd build && cpack                     velk_1.0.0_amd64.deb and
#                                         velk-dbgsym_1.0.0_amd64.deb, or
#                                         velk-1.0.0-win64.zip
#
# The program itself is installed by src/CMakeLists.txt.

include(GNUInstallDirs)

set(VELK_DOC_SOURCE_DIR ${PROJECT_SOURCE_DIR}/doc)
set(VELK_DOC_BINARY_DIR ${PROJECT_BINARY_DIR}/doc)

if(WIN32)
  # Windows has no man: the manual goes along as plain text with CR LF line
  # ends, beside the README and the copyright, at the top of the zip.
  find_program(VELK_GROFF groff)
  if(VELK_GROFF)
    add_custom_command(
      OUTPUT ${VELK_DOC_BINARY_DIR}/velk.txt
      COMMAND ${CMAKE_COMMAND} -DGROFF=${VELK_GROFF} -DINPUT=${VELK_DOC_SOURCE_DIR}/velk.1
              -DOUTPUT=${VELK_DOC_BINARY_DIR}/velk.txt
              -P ${PROJECT_SOURCE_DIR}/cmake/render-manual.cmake
      DEPENDS ${VELK_DOC_SOURCE_DIR}/velk.1 ${PROJECT_SOURCE_DIR}/cmake/render-manual.cmake
      COMMENT "Rendering the manual page as velk.txt"
      VERBATIM)
    add_custom_target(velk_manual ALL DEPENDS ${VELK_DOC_BINARY_DIR}/velk.txt)
    install(FILES ${VELK_DOC_BINARY_DIR}/velk.txt DESTINATION .)
  else()
    message(WARNING "groff was not found: the package will have no velk.txt")
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION .)
  install(FILES ${VELK_DOC_SOURCE_DIR}/copyright DESTINATION . RENAME copyright.txt)
else()
  # Debian keeps manual pages and changelogs compressed, with no name or time
  # in the gzip header (lintian checks both).
  find_program(VELK_GZIP gzip)
  set(VELK_MANUAL ${VELK_DOC_SOURCE_DIR}/velk.1 ${VELK_DOC_SOURCE_DIR}/velk-resolve.1)
  set(VELK_CHANGELOG)
  if(VELK_GZIP)
    foreach(name velk.1 velk-resolve.1 changelog)
      add_custom_command(
        OUTPUT ${VELK_DOC_BINARY_DIR}/${name}.gz
        COMMAND ${CMAKE_COMMAND} -E copy ${VELK_DOC_SOURCE_DIR}/${name} ${VELK_DOC_BINARY_DIR}/${name}
        COMMAND ${VELK_GZIP} -9nf ${VELK_DOC_BINARY_DIR}/${name}
        DEPENDS ${VELK_DOC_SOURCE_DIR}/${name}
        COMMENT "Compressing doc/${name}"
        VERBATIM)
    endforeach()
    add_custom_target(velk_compressed_docs ALL
      DEPENDS ${VELK_DOC_BINARY_DIR}/velk.1.gz ${VELK_DOC_BINARY_DIR}/velk-resolve.1.gz
              ${VELK_DOC_BINARY_DIR}/changelog.gz)
    set(VELK_MANUAL ${VELK_DOC_BINARY_DIR}/velk.1.gz ${VELK_DOC_BINARY_DIR}/velk-resolve.1.gz)
    set(VELK_CHANGELOG ${VELK_DOC_BINARY_DIR}/changelog.gz)
  endif()
  install(FILES ${VELK_MANUAL} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT velk)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${VELK_DOC_SOURCE_DIR}/copyright ${VELK_CHANGELOG}
          DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT velk)
  # The installed program is stripped as Debian strips it; its debugging
  # information goes to lib/debug, in a component of its own.
  install(CODE "
    set(VELK_BINARY \"$<TARGET_FILE:velk>\")
    set(VELK_INSTALLED \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/velk\")
    set(VELK_STRIP \"${CMAKE_STRIP}\")
    set(VELK_PART program)
    include(\"${PROJECT_SOURCE_DIR}/cmake/install-debug-info.cmake\")" COMPONENT velk)
  install(CODE "
    set(VELK_BINARY \"$<TARGET_FILE:velk>\")
    set(VELK_PREFIX \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")
    set(VELK_READELF \"${CMAKE_READELF}\")
    set(VELK_OBJCOPY \"${CMAKE_OBJCOPY}\")
    set(VELK_PART debug)
    include(\"${PROJECT_SOURCE_DIR}/cmake/install-debug-info.cmake\")" COMPONENT dbgsym)
endif()

# ---- CPack -------------------------------------------------------------------

set(CPACK_PACKAGE_NAME velk)
set(CPACK_PACKAGE_VENDOR "VELK developers")
set(CPACK_PACKAGE_CONTACT "VELK developers <velk@example.org>")
set(VELK_SUMMARY "line-oriented conditional preprocessor with symbol replacement")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "velk copies text files line by line, acting on #define, #ifdef, #ifndef and\n"
    "#endif in column 1 and replacing one whole-word symbol per line by its value.\n"
    "Each input file gives an output file of the same name with a new extension\n"
    "(PAS unless -E gives another); output lines end with CR LF.")
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

if(WIN32)
  # velk-1.0.0-win64.zip, unpacked into a folder of the same name. The
  # program keeps its symbols, so that report addresses can be resolved.
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${VELK_SUMMARY}")
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_SYSTEM_NAME win64)
  else()
    set(CPACK_SYSTEM_NAME win32)
  endif()
else()
  # Two packages: velk, with the program stripped, and velk-dbgsym, with its
  # debugging information where gdb and addr2line look for it by build id.
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL velk dbgsym)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # velk_1.0.0_amd64.deb
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_VELK_PACKAGE_NAME velk)
  set(CPACK_DEBIAN_VELK_PACKAGE_SECTION devel)
  set(CPACK_DEBIAN_VELK_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_DBGSYM_PACKAGE_NAME velk-dbgsym)
  set(CPACK_DEBIAN_DBGSYM_PACKAGE_SECTION debug)
  set(CPACK_DEBIAN_DBGSYM_PACKAGE_DEPENDS "velk (= ${PROJECT_VERSION})")
  # Each package's description gives its own synopsis line (CPack would put
  # one summary above both).
  set(CPACK_DEBIAN_VELK_DESCRIPTION "${VELK_SUMMARY}\n${CPACK_PACKAGE_DESCRIPTION}")
  string(CONCAT CPACK_DEBIAN_DBGSYM_DESCRIPTION "debug symbols for velk\n"
      "The debugging information of /usr/bin/velk, with which addr2line turns the\n"
      "addresses of a run-time error report into routines and source lines.")

  # ---- Packages of a cross build ----
  # dpkg knows only the build machine: the package's architecture is the
  # cross compiler's, and its dependencies are found at cpack time among the
  # target's own libraries (cmake/cross-depends.cmake).
  if(CMAKE_CROSSCOMPILING)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -dumpmachine
                    OUTPUT_VARIABLE VELK_TARGET_TRIPLET OUTPUT_STRIP_TRAILING_WHITESPACE)
    execute_process(COMMAND dpkg-architecture -t${VELK_TARGET_TRIPLET} -qDEB_HOST_ARCH
                    OUTPUT_VARIABLE CPACK_DEBIAN_PACKAGE_ARCHITECTURE
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    set(CPACK_DEBIAN_VELK_PACKAGE_SHLIBDEPS OFF)
    set(CPACK_VELK_PROGRAM ${PROJECT_BINARY_DIR}/src/velk)
    set(CPACK_VELK_TARGET_LIBRARIES /usr/${VELK_TARGET_TRIPLET}/lib)
    string(REGEX MATCH "^[0-9]+" CPACK_VELK_COMPILER_MAJOR ${CMAKE_CXX_COMPILER_VERSION})
    set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/cross-depends.cmake)
  endif()
  # ---- end of packages of a cross build ----
endif()

include(CPack)
