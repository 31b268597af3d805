# Fails when groff reports anything about the manual page: a warning there
# means a formatting mistake that readers would see.
# Usage: cmake -DMANUAL=<file> -P check_manual.cmake
find_program(GROFF groff)
if(NOT GROFF)
  message(FATAL_ERROR "groff not found (Debian package groff-base)")
endif()
execute_process(COMMAND ${GROFF} -ww -man -z ${MANUAL}
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT status EQUAL 0 OR NOT output STREQUAL "")
  message(FATAL_ERROR "groff -ww -man -z ${MANUAL} (status ${status}):\n${output}")
endif()
