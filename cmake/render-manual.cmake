# Renders a manual page as plain ASCII text with CR LF line ends, for systems
# that have no man. Run as
#   cmake -DGROFF=groff -DINPUT=velk.1 -DOUTPUT=velk.txt -P render-manual.cmake
foreach(variable GROFF INPUT OUTPUT)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "render-manual.cmake needs -D${variable}=...")
  endif()
endforeach()

# -P-cbou: no escape sequences, no bold, no overstriking, no underlining.
execute_process(
  COMMAND "${GROFF}" -man -Tascii -P-cbou "${INPUT}"
  OUTPUT_VARIABLE text
  ERROR_VARIABLE errors
  RESULT_VARIABLE result)
if(NOT result EQUAL 0 OR NOT errors STREQUAL "")
  message(FATAL_ERROR "groff could not render ${INPUT} (${result}):\n${errors}")
endif()

string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE "${OUTPUT}" "${text}")
