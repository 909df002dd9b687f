# Installation of the documentation beside the program (installed by
# src/CMakeLists.txt), and the zip CPack makes for Windows.
#
#   cmake --install build --prefix DIR    program, manual page, README,
#                                         copyright, changelog
#   cd build-windows && cpack -G ZIP      velk-<version>-win64.zip (-win32.zip in an i686 build)
#
# The Debian packages are made by dpkg-buildpackage from debian/: debhelper
# strips the program, compresses the manual page and the changelog, and puts
# the debugging information into velk-dbgsym.

include(GNUInstallDirs)

set(VELK_DOC_BINARY_DIR ${PROJECT_BINARY_DIR}/doc)
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
  return()
endif()

# ---- Windows: the zip --------------------------------------------------------
# Windows has no man: the manual goes along as plain text with CR LF line
# ends, beside the README, the copyright and the changelog, at the top of
# velk-<version>-win64.zip or -win32.zip (unpacked into a folder of the same name). The
# program keeps its symbols, so that report addresses can be resolved.
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
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION .)
install(FILES ${VELK_COPYRIGHT} DESTINATION . RENAME copyright.txt)
install(FILES ${VELK_CHANGELOG} DESTINATION . RENAME changelog.txt)

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
