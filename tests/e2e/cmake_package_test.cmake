# Checks the installed CMake package on a host project (cmake_package/) with
# the Makefiles and the Ninja generators: find_package(mkld) from a prefix;
# mkld_add_linker_script handing paths with blanks and list items holding ';',
# '\' and '$' to mkld unchanged; its defaults; its messages for wrong calls.
#
# cmake -DMKLD_BUILD_DIR=<mkld build> -DPROJECT_DIR=<cmake_package>
#       -DWORK_DIR=<scratch> -P cmake_package_test.cmake
cmake_minimum_required(VERSION 3.25)

foreach(variable MKLD_BUILD_DIR PROJECT_DIR WORK_DIR)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "${variable} is not set")
  endif()
endforeach()

set(prefix "${WORK_DIR}/install prefix")
set(build "${WORK_DIR}/build dir")
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")

include(${CMAKE_CURRENT_LIST_DIR}/cmake_test_support.cmake)

function(expect_contains what text expected)
  string(FIND "${text}" "${expected}" found)
  if(found EQUAL -1)
    message(FATAL_ERROR "${what} lacks \"${expected}\":\n${text}")
  endif()
endfunction()

run(ignored ${CMAKE_COMMAND} --install "${MKLD_BUILD_DIR}" --prefix "${prefix}")

function(check_generator generator build)
  run(ignored ${CMAKE_COMMAND} -S "${PROJECT_DIR}" -B "${build}" -G "${generator}"
      "-DCMAKE_PREFIX_PATH=${prefix}")
  run(ignored ${CMAKE_COMMAND} --build "${build}" --target app_linker_script)
  run(ignored ${CMAKE_COMMAND} --build "${build}" --target tool_linker_script)
  run(ignored ${CMAKE_COMMAND} --build "${build}" --target validate_placement)

  # Every macro and symbol item arrives as written.
  set(script_path "${build}/scripts/app script.ld")
  file(READ "${script_path}" script)
  expect_contains("app script" "${script}" "  RAM (wx) : ORIGIN = 0x20000000, LENGTH = 0x00008000\n")
  expect_contains("app script" "${script}"
    "  .fast_code ALIGN(__FLASH_segment_start__ , MAX(8, __fast_code_align__)) : AT(ALIGN(__FLASH_segment_start__ , MAX(8, __fast_code_align__)))\n")
  expect_contains("app script" "${script}" "  } > FLASH =0x\\;1\n")
  expect_contains("app script" "${script}"
    "  backslash = c\\d;\n  brace = \${y};\n  dollar = $(x);\n  genex = $<1:x>;\n  semicolon = a;b;\n  spaced =  1 ;\n")
  expect_contains("app script" "${script}" "\n  ASSERT(")

  # The dependency file names the inputs by absolute path, blanks escaped.
  file(READ "${script_path}.d" dependencies)
  string(REPLACE " " "\\ " escaped_source "${PROJECT_DIR}")
  expect_contains("dependency file" "${dependencies}" "${escaped_source}/maps/board\\ map.xml \\\n")
  expect_contains("dependency file" "${dependencies}" "${escaped_source}/placement.xml\n")

  # Defaults: <target>.ld in the binary folder, no placement; checks and the
  # portable form unless switched OFF as here.
  file(READ "${build}/tool.ld" tool_script)
  expect_contains("tool script" "${tool_script}" "  FLASH (rx) : ORIGIN = 0x00000000, LENGTH = 0x00010000\n")
  string(FIND "${tool_script}" "ASSERT" found)
  if(NOT found EQUAL -1)
    message(FATAL_ERROR "tool script has checks it did not ask for:\n${tool_script}")
  endif()
endfunction()

check_generator("Unix Makefiles" "${WORK_DIR}/make build")
check_generator(Ninja "${build}")
# The link of each target uses its own script.
file(READ "${build}/build.ninja" ninja_file)
expect_contains("build.ninja" "${ninja_file}" "-T \"${build}/scripts/app script.ld\"")
# -portable-script, -check-segment-overflow, -diagnostics,
# -check-section-alignment and -run-sections-as-symbols by default (app,
# which gives CHECK_SEGMENT_OVERFLOW without a value), none of them when
# switched OFF (tool); the report's -top 5 likewise.
expect_contains("build.ninja" "${ninja_file}" "-map \"${build}/app.map\" -top 5 ")
foreach(option IN ITEMS -portable-script -check-segment-overflow -diagnostics -check-section-alignment
               -run-sections-as-symbols "-top 5")
  string(REGEX MATCHALL "${option}" found "${ninja_file}")
  list(LENGTH found count)
  if(NOT count EQUAL 1)
    message(FATAL_ERROR "${option} is in build.ninja ${count} times, not once (app's command)")
  endif()
endforeach()

# Wrong calls stop the configuration with a message naming the problem.
foreach(case IN ITEMS
    "no_memory_map|MEMORY_MAP <file> is required"
    "not_a_target|nothing is not a target"
    "unknown_argument|unexpected arguments: CHECK_OVERFLOW"
    "report_without_inputs|MEMORY_MAP <file> is required")
  string(REPLACE "|" ";" case "${case}")
  list(GET case 0 name)
  list(GET case 1 message)
  execute_process(COMMAND ${CMAKE_COMMAND} "-DEXPECT_ERROR=${name}" "${build}"
                  RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(status EQUAL 0)
    message(FATAL_ERROR "${name}: the configuration did not fail")
  endif()
  string(REGEX MATCH "^report" report "${name}")
  set(function mkld_add_linker_script)
  if(report)
    set(function mkld_add_memory_report)
  endif()
  expect_contains("${name}" "${output}" "${function}: ${message}")
endforeach()

file(REMOVE_RECURSE "${WORK_DIR}")
