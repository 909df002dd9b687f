# Run at install time. VELK_PART "program": strips the installed program
# VELK_INSTALLED as Debian strips programs. VELK_PART "debug": puts the
# debugging information of the built program VELK_BINARY under
# VELK_PREFIX/lib/debug/.build-id/, named by its build id, where gdb and
# addr2line find it, and links the documentation folder of velk-dbgsym to
# velk's.
if(VELK_PART STREQUAL "program")
  execute_process(COMMAND "${VELK_STRIP}" --remove-section=.comment --remove-section=.note
                          --strip-unneeded "${VELK_INSTALLED}"
                  COMMAND_ERROR_IS_FATAL ANY)
  return()
endif()

execute_process(COMMAND "${VELK_READELF}" -n "${VELK_BINARY}" OUTPUT_VARIABLE notes
                COMMAND_ERROR_IS_FATAL ANY)
if(NOT notes MATCHES "Build ID: ([0-9a-f][0-9a-f])([0-9a-f]+)")
  message(FATAL_ERROR "${VELK_BINARY} has no build id")
endif()
set(directory "${VELK_PREFIX}/lib/debug/.build-id/${CMAKE_MATCH_1}")
file(MAKE_DIRECTORY "${directory}")
message(STATUS "Installing: ${directory}/${CMAKE_MATCH_2}.debug")
execute_process(COMMAND "${VELK_OBJCOPY}" --only-keep-debug --compress-debug-sections
                        "${VELK_BINARY}" "${directory}/${CMAKE_MATCH_2}.debug"
                COMMAND_ERROR_IS_FATAL ANY)
file(CHMOD "${directory}/${CMAKE_MATCH_2}.debug" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ
     WORLD_READ)
file(MAKE_DIRECTORY "${VELK_PREFIX}/share/doc")
file(CREATE_LINK velk "${VELK_PREFIX}/share/doc/velk-dbgsym" SYMBOLIC)
