# Shared by the CMake-script tests.

# Runs a command; fails the test with its output unless it succeeds.
# The combined output is returned in `out_var`.
function(run out_var)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT status EQUAL 0)
    string(REPLACE ";" " " command "${ARGN}")
    message(FATAL_ERROR "failed (${status}): ${command}\n${output}")
  endif()
  set(${out_var} "${output}" PARENT_SCOPE)
endfunction()
