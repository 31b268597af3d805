# Builds examples/cmake-firmware the way a firmware project would: installs
# mkld into a fresh prefix, configures a copy of the example with Ninja and the
# RV32 toolchain file, and checks that the build follows the memory layout:
#   1. the ELF's sections sit where the memory map and placement put them;
#   2. editing the included placement fragment regenerates the script and the
#      ELF changes accordingly;
#   3. touching an input without changing it reruns mkld but relinks nothing,
#      since an identical script is left untouched;
#   4. a rebuild with nothing changed runs nothing;
#   5. each link prints the memory report and writes its page, and a
#      segment over its limit fails the build.
#
# cmake -DMKLD_BUILD_DIR=<mkld build> -DEXAMPLE_DIR=<example> -DWORK_DIR=<scratch>
#       [-DTOOLCHAIN=<toolchain file of the example>] -P cmake_firmware_test.cmake
cmake_minimum_required(VERSION 3.25)

foreach(variable MKLD_BUILD_DIR EXAMPLE_DIR WORK_DIR)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "${variable} is not set")
  endif()
endforeach()
if(NOT DEFINED TOOLCHAIN)
  set(TOOLCHAIN riscv-toolchain.cmake)
endif()
find_program(READELF riscv64-unknown-elf-readelf REQUIRED)
find_program(NINJA ninja REQUIRED)

set(prefix "${WORK_DIR}/prefix")
set(source "${WORK_DIR}/source")
set(build "${WORK_DIR}/build")
set(elf "${build}/firmware.elf")
set(script "${build}/firmware.elf.ld")
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")

include(${CMAKE_CURRENT_LIST_DIR}/cmake_test_support.cmake)

function(build_example out_var)
  run(output ${CMAKE_COMMAND} --build "${build}")
  set(${out_var} "${output}" PARENT_SCOPE)
endfunction()

# Sets `out_var` to the address of section `name` in the ELF, as 0x%08x.
function(section_address out_var name)
  run(sections "${READELF}" -W -S "${elf}")
  string(REGEX MATCH "\\] ${name} +[A-Z_]+ +([0-9a-f]+)" match "${sections}")
  if(NOT match)
    message(FATAL_ERROR "no section ${name} in the ELF:\n${sections}")
  endif()
  set(${out_var} "0x${CMAKE_MATCH_1}" PARENT_SCOPE)
endfunction()

# Sets `out_var` to the value of symbol `name` in the ELF, as 0x%08x.
function(symbol_value out_var name)
  run(symbols "${READELF}" -W -s "${elf}")
  string(REGEX MATCH ": ([0-9a-f]+) +[0-9]+ [A-Z]+ +[A-Z]+ +[A-Z]+ +[A-Z0-9]+ ${name}\n" match "${symbols}")
  if(NOT match)
    message(FATAL_ERROR "no symbol ${name} in the ELF")
  endif()
  set(${out_var} "0x${CMAKE_MATCH_1}" PARENT_SCOPE)
endfunction()

function(expect what actual expected)
  if(NOT actual STREQUAL expected)
    message(FATAL_ERROR "${what}: expected ${expected}, got ${actual}")
  endif()
endfunction()

function(expect_output_has output pattern why)
  string(FIND "${output}" "${pattern}" found)
  if(found EQUAL -1)
    message(FATAL_ERROR "${why}: no \"${pattern}\" in the build output:\n${output}")
  endif()
endfunction()

function(expect_output_lacks output pattern why)
  string(FIND "${output}" "${pattern}" found)
  if(NOT found EQUAL -1)
    message(FATAL_ERROR "${why}: \"${pattern}\" in the build output:\n${output}")
  endif()
endfunction()

run(ignored ${CMAKE_COMMAND} --install "${MKLD_BUILD_DIR}" --prefix "${prefix}")
file(COPY "${EXAMPLE_DIR}/" DESTINATION "${source}")
run(ignored ${CMAKE_COMMAND} -S "${source}" -B "${build}" -G Ninja
    "-DCMAKE_MAKE_PROGRAM=${NINJA}"
    "-DCMAKE_TOOLCHAIN_FILE=${source}/${TOOLCHAIN}"
    "-DCMAKE_PREFIX_PATH=${prefix}")

# 1. First build: code and constants in flash, .data stored after them in
# flash and run at the start of RAM, the 0x800-byte stack at the top of RAM.
build_example(output)
expect_output_has("${output}" "Generating linker script firmware.elf.ld" "first build")
section_address(address .init)
expect(".init address" "${address}" "0x20000000")
section_address(address .data)
expect(".data address" "${address}" "0x80000000")
section_address(address .stack)
expect(".stack address" "${address}" "0x80003800")
symbol_value(stack_top __stack_top)
expect("__stack_top" "${stack_top}" "0x80004000")
symbol_value(load_start __data_load_start__)
symbol_value(rodata_end __rodata_end__)
math(EXPR padding "${load_start} - ${rodata_end}")
if(padding LESS 0 OR padding GREATER 3)
  message(FATAL_ERROR ".data is stored at ${load_start}, not right after .rodata (ends ${rodata_end})")
endif()
expect_output_has("${output}" "Memory usage of ${elf}" "the report after the link")
expect_output_has("${output}" "load image" "the report after the link")
if(NOT EXISTS "${build}/firmware.html")
  message(FATAL_ERROR "the link wrote no firmware.html")
endif()
symbol_value(uart uart0_registers)
expect("uart0_registers (from SYMBOLS)" "${uart}" "0x10013000")
file(READ "${script}" first_script)

# 2. A section inserted in the included fragment moves .data up in RAM.
file(READ "${source}/ram-sections.xml" fragment)
string(REPLACE "<ProgramSection name=\".data_run\""
               "<ProgramSection name=\".noinit\" size=\"0x100\" />\n  <ProgramSection name=\".data_run\""
               edited "${fragment}")
if(edited STREQUAL fragment)
  message(FATAL_ERROR "the fragment has no .data_run section to insert before")
endif()
file(WRITE "${source}/ram-sections.xml" "${edited}")
build_example(output)
expect_output_has("${output}" "Generating linker script" "after editing the fragment")
expect_output_has("${output}" "Linking C executable firmware.elf" "after editing the fragment")
file(READ "${script}" second_script)
if(second_script STREQUAL first_script)
  message(FATAL_ERROR "the script did not change with the fragment")
endif()
expect_output_has("${second_script}" "  .noinit " "the regenerated script")
section_address(address .data)
expect(".data address after the edit" "${address}" "0x80000100")

# 3. An input touched but unchanged: mkld runs, the script stays as it was,
# so nothing is relinked.
file(TOUCH "${source}/placement.xml")
build_example(output)
expect_output_has("${output}" "Generating linker script" "after touching placement.xml")
expect_output_lacks("${output}" "Linking" "an unchanged script")
file(READ "${script}" third_script)
expect("script after touching an input" "${third_script}" "${second_script}")

# 4. Nothing changed: nothing runs.
build_example(output)
expect_output_has("${output}" "ninja: no work to do" "a rebuild with nothing changed")

# 5. A RAM budget of 1% fails the build after the link, with the report's
# message.
file(READ "${source}/CMakeLists.txt" project)
string(REPLACE "LIMITS RAM=90" "LIMITS RAM=1" project "${project}")
file(WRITE "${source}/CMakeLists.txt" "${project}")
execute_process(COMMAND ${CMAKE_COMMAND} --build "${build}" RESULT_VARIABLE status OUTPUT_VARIABLE output
                ERROR_VARIABLE output)
if(status EQUAL 0)
  message(FATAL_ERROR "a RAM limit of 1% did not fail the build:\n${output}")
endif()
expect_output_has("${output}" "(1%) by " "a segment over its limit, in bytes")

file(REMOVE_RECURSE "${WORK_DIR}")
