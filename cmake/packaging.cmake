# Installation of the documentation beside the program (installed by
# src/CMakeLists.txt), and the zip CPack makes for Windows.
#
#   cmake --install build --prefix DIR    program, manual page, README,
#                                         copyright, changelog, examples
#   cd build-windows && cpack -G ZIP      velk-<version>-win64.zip (-win32.zip in an i686 build)
#
# The Debian packages are made by dpkg-buildpackage from debian/: debhelper
# strips the program, compresses the manual page and the changelog, and puts
# the debugging information into velk-dbgsym.

include(GNUInstallDirs)

set(VELK_DOC_BINARY_DIR ${PROJECT_BINARY_DIR}/doc)
# The examples as they go out: examples/demo.src and the Pascal example
# (its sources, Makefile and expected output, not a build of it).
file(GLOB VELK_PASCAL_EXAMPLE LIST_DIRECTORIES false
     ${PROJECT_SOURCE_DIR}/examples/pascal/*.src ${PROJECT_SOURCE_DIR}/examples/pascal/*.txt)
list(APPEND VELK_PASCAL_EXAMPLE ${PROJECT_SOURCE_DIR}/examples/pascal/Makefile)
list(SORT VELK_PASCAL_EXAMPLE)
set(VELK_CHANGELOG ${PROJECT_SOURCE_DIR}/debian/changelog)
set(VELK_COPYRIGHT ${PROJECT_SOURCE_DIR}/debian/copyright)

# The manual pages get the version in their title lines ("velk" becomes
# "velk <version>"), so that the version is written down only in the changelog.
foreach(page velk velk-resolve)
  file(READ ${PROJECT_SOURCE_DIR}/doc/${page}.1 manual)
  string(REGEX REPLACE "(\n\\.TH [A-Z-]+ 1 [0-9-]+ )\"velk\"" "\\1\"velk ${PROJECT_VERSION}\""
         versioned "${manual}")
  if(versioned STREQUAL manual)
    message(FATAL_ERROR "doc/${page}.1 has no title line '.TH NAME 1 <date> \"velk\" ...'")
  endif()
  file(WRITE ${VELK_DOC_BINARY_DIR}/${page}.1.new "${versioned}")
  file(COPY_FILE ${VELK_DOC_BINARY_DIR}/${page}.1.new ${VELK_DOC_BINARY_DIR}/${page}.1
       ONLY_IF_DIFFERENT)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
               ${PROJECT_SOURCE_DIR}/doc/${page}.1)
endforeach()
set(VELK_MANUAL ${VELK_DOC_BINARY_DIR}/velk.1)

if(NOT WIN32)
  install(FILES ${VELK_MANUAL} ${VELK_DOC_BINARY_DIR}/velk-resolve.1
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${VELK_COPYRIGHT} ${VELK_CHANGELOG}
          DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/examples/demo.src DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
  install(FILES ${VELK_PASCAL_EXAMPLE} DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples/pascal)
  return()
endif()

# ---- Windows: the zip --------------------------------------------------------
# Windows has no man: the manual goes along as plain text, beside the README,
# the copyright and the changelog, at the top of velk-<version>-win64.zip or
# -win32.zip (unpacked into a folder of the same name), with the examples in
# examples\. Every text file has CR LF line ends, as Windows' own editors
# show them. The program keeps its symbols, so that report addresses can be
# resolved.

# `source` with CR LF line ends as `destination` in the build folder.
function(velk_crlf_copy source destination)
  file(READ ${source} text)
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE ${destination}.new "${text}")
  file(COPY_FILE ${destination}.new ${destination} ONLY_IF_DIFFERENT)
  file(REMOVE ${destination}.new)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
endfunction()
set(VELK_ZIP_TEXT ${PROJECT_BINARY_DIR}/zip-text)
find_program(VELK_GROFF groff)
if(VELK_GROFF)
  add_custom_command(
    OUTPUT ${VELK_DOC_BINARY_DIR}/velk.txt
    COMMAND ${CMAKE_COMMAND} -DGROFF=${VELK_GROFF} -DINPUT=${VELK_MANUAL}
            -DOUTPUT=${VELK_DOC_BINARY_DIR}/velk.txt
            -P ${PROJECT_SOURCE_DIR}/cmake/render-manual.cmake
    DEPENDS ${VELK_MANUAL} ${PROJECT_SOURCE_DIR}/cmake/render-manual.cmake
    COMMENT "Rendering the manual page as velk.txt"
    VERBATIM)
  add_custom_target(velk_manual ALL DEPENDS ${VELK_DOC_BINARY_DIR}/velk.txt)
  install(FILES ${VELK_DOC_BINARY_DIR}/velk.txt DESTINATION .)
else()
  message(WARNING "groff was not found: the package will have no velk.txt")
endif()
velk_crlf_copy(${PROJECT_SOURCE_DIR}/README.md ${VELK_ZIP_TEXT}/README.md)
velk_crlf_copy(${VELK_COPYRIGHT} ${VELK_ZIP_TEXT}/copyright.txt)
velk_crlf_copy(${VELK_CHANGELOG} ${VELK_ZIP_TEXT}/changelog.txt)
install(FILES ${VELK_ZIP_TEXT}/README.md ${VELK_ZIP_TEXT}/copyright.txt
              ${VELK_ZIP_TEXT}/changelog.txt DESTINATION .)
velk_crlf_copy(${PROJECT_SOURCE_DIR}/examples/demo.src ${VELK_ZIP_TEXT}/examples/demo.src)
install(FILES ${VELK_ZIP_TEXT}/examples/demo.src DESTINATION examples)
foreach(source IN LISTS VELK_PASCAL_EXAMPLE)
  get_filename_component(name ${source} NAME)
  velk_crlf_copy(${source} ${VELK_ZIP_TEXT}/examples/pascal/${name})
  install(FILES ${VELK_ZIP_TEXT}/examples/pascal/${name} DESTINATION examples/pascal)
endforeach()

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME velk)
set(CPACK_PACKAGE_VENDOR "VELK developers")
set(CPACK_PACKAGE_CONTACT "VELK developers <velk@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "line-oriented conditional preprocessor with symbol replacement")
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(CPACK_SYSTEM_NAME win64)
else()
  set(CPACK_SYSTEM_NAME win32)
endif()

# The zip's entries carry the time of the newest changelog entry (or
# SOURCE_DATE_EPOCH, when set), so that the same source gives the same zip.
# cpack reads the time from its environment, set by the file it reads first.
file(STRINGS ${VELK_CHANGELOG} trailer REGEX "^ -- " LIMIT_COUNT 1)
string(REGEX REPLACE "^ -- [^>]*>  " "" changelog_date "${trailer}")
execute_process(COMMAND date -u -d "${changelog_date}" +%s OUTPUT_VARIABLE changelog_time
                OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/velk-cpack-time.cmake)
file(CONFIGURE OUTPUT ${CPACK_PROJECT_CONFIG_FILE} CONTENT [[
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  set(ENV{SOURCE_DATE_EPOCH} @changelog_time@)
endif()
]] @ONLY)

include(CPack)
