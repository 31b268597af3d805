# mkld_add_linker_script(<target>
#     MEMORY_MAP <file> | MEMORY_MAP_DTB <file> | both
#     [MEMORY_MAP_DTB_NAMES <NAME=REGION>...]
#     [SECTION_PLACEMENT <file>]
#     [MEMORY_MAP_MACROS <NAME=VALUE>...]
#     [SECTION_PLACEMENT_MACROS <NAME=VALUE>...]
#     [SYMBOLS <NAME=VALUE>...]
#     [CHECK_SEGMENT_OVERFLOW [<ON|OFF>]]
#     [CHECK_SECTION_ALIGNMENT <ON|OFF>]
#     [RUN_SECTIONS_AS_SYMBOLS <ON|OFF>]
#     [DIAGNOSTICS <ON|OFF>]
#     [ENTRY <symbol>]
#     [PORTABLE_SCRIPT <ON|OFF>]
#     [OUTPUT <file>])
#
# Generates a linker script with mkld and links <target> with it. The script
# is made again whenever a file it was made from changes, includes and
# imports too: mkld writes a dependency file that Ninja and Make read.
# MEMORY_MAP_DTB takes the segments from a devicetree (.dtb, or .dts with
# dtc), renamed and selected by MEMORY_MAP_DTB_NAMES; a MEMORY_MAP beside it
# adds segments and overrides those of the same name.
# Relative input paths count from the current source folder, a relative
# OUTPUT from the current binary folder (default: <target>.ld there).
# The script is written with -portable-script, which GNU ld and ld.lld both
# link, unless PORTABLE_SCRIPT is OFF. The build is where mistakes in the
# inputs should show, and nothing there parses mkld's exact output: mkld
# runs with -check-segment-overflow (the linker then fails on a segment that
# overflows) unless CHECK_SEGMENT_OVERFLOW is OFF, and with -diagnostics
# (located lines after the usual messages) unless DIAGNOSTICS is OFF.
# CHECK_SEGMENT_OVERFLOW without a value, as it was once given, means ON.
# -check-section-alignment (the link fails on a section that starts below
# the alignment of its input sections) is on unless CHECK_SECTION_ALIGNMENT
# is OFF, and a script of the default form (PORTABLE_SCRIPT OFF) writes run
# sections as symbols (-run-sections-as-symbols, so that .tdata and .tbss
# stay adjacent) unless RUN_SECTIONS_AS_SYMBOLS is OFF.
#
# Policies are pinned here because a function runs with the policies in force
# where it was defined; CMP0116 (NEW) lets CMake hand the dependency file to
# Ninja with paths it understands.
cmake_policy(PUSH)
cmake_policy(VERSION 3.25)

# Quotes one macro or symbol definition for mkld's list syntax, where ';'
# separates items and '\' takes the next character literally. A '$' before
# '(', '{' or '<' would reach the build tool as a variable reference (CMake
# passes $(NAME) through, and Ninja rejects it) or a generator expression:
# quoting the bracket keeps the pair apart until mkld reads it.
function(_mkld_escape_list_item item out)
  string(REPLACE "\\" "\\\\" item "${item}")
  string(REPLACE ";" "\\;" item "${item}")
  foreach(bracket IN ITEMS "(" "{" "<")
    string(REPLACE "$${bracket}" "$\\${bracket}" item "${item}")
  endforeach()
  set(${out} "${item}" PARENT_SCOPE)
endfunction()

# Joins the items of the CMake list variable `list` into one mkld list
# argument. Every ';' (separators and escaped ones alike) becomes
# $<SEMICOLON>, so that add_custom_command passes the list as one argument.
# The list is read by name: expanding it would split items holding a ';'.
function(_mkld_join_list out list)
  set(joined "")
  set(separator "")
  foreach(item IN LISTS ${list})
    _mkld_escape_list_item("${item}" item)
    string(APPEND joined "${separator}${item}")
    set(separator ";")
  endforeach()
  string(REPLACE ";" "$<SEMICOLON>" joined "${joined}")
  set(${out} "${joined}" PARENT_SCOPE)
endfunction()

# Sets `arguments` to the input options of mkld and mkld-report, and
# `inputs` to the files named, from the caller's MKLD_MEMORY_MAP,
# MKLD_MEMORY_MAP_MACROS, MKLD_MEMORY_MAP_DTB, MKLD_MEMORY_MAP_DTB_NAMES,
# MKLD_SECTION_PLACEMENT and MKLD_SECTION_PLACEMENT_MACROS. A macro: it sets
# the caller's variables.
macro(_mkld_input_arguments)
  set(arguments "")
  set(inputs "")
  if(MKLD_MEMORY_MAP)
    get_filename_component(memory_map "${MKLD_MEMORY_MAP}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    list(APPEND arguments -memory-map-file "${memory_map}")
    list(APPEND inputs "${memory_map}")
  endif()
  if(MKLD_MEMORY_MAP_DTB)
    get_filename_component(devicetree "${MKLD_MEMORY_MAP_DTB}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    list(APPEND arguments -memory-map-dtb "${devicetree}")
    list(APPEND inputs "${devicetree}")
  endif()
  if(MKLD_MEMORY_MAP_DTB_NAMES)
    _mkld_join_list(names MKLD_MEMORY_MAP_DTB_NAMES)
    list(APPEND arguments -memory-map-dtb-names "${names}")
  endif()
  if(MKLD_MEMORY_MAP_MACROS)
    _mkld_join_list(macros MKLD_MEMORY_MAP_MACROS)
    list(APPEND arguments -memory-map-macros "${macros}")
  endif()
  if(MKLD_SECTION_PLACEMENT)
    get_filename_component(placement "${MKLD_SECTION_PLACEMENT}" ABSOLUTE
                           BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    list(APPEND arguments -section-placement-file "${placement}")
    list(APPEND inputs "${placement}")
  endif()
  if(MKLD_SECTION_PLACEMENT_MACROS)
    _mkld_join_list(macros MKLD_SECTION_PLACEMENT_MACROS)
    list(APPEND arguments -section-placement-macros "${macros}")
  endif()
endmacro()

function(mkld_add_linker_script target)
  cmake_parse_arguments(PARSE_ARGV 1 MKLD
    ""
    "MEMORY_MAP;MEMORY_MAP_DTB;SECTION_PLACEMENT;OUTPUT;ENTRY;PORTABLE_SCRIPT;CHECK_SEGMENT_OVERFLOW;DIAGNOSTICS;CHECK_SECTION_ALIGNMENT;RUN_SECTIONS_AS_SYMBOLS"
    "MEMORY_MAP_MACROS;MEMORY_MAP_DTB_NAMES;SECTION_PLACEMENT_MACROS;SYMBOLS")
  if(MKLD_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "mkld_add_linker_script: unexpected arguments: ${MKLD_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT TARGET "${target}")
    message(FATAL_ERROR "mkld_add_linker_script: ${target} is not a target")
  endif()
  if(NOT MKLD_MEMORY_MAP AND NOT MKLD_MEMORY_MAP_DTB)
    message(FATAL_ERROR "mkld_add_linker_script: MEMORY_MAP <file> is required (or MEMORY_MAP_DTB <file>)")
  endif()
  if(NOT TARGET mkld::mkld)
    message(FATAL_ERROR "mkld_add_linker_script: mkld::mkld is not defined; use find_package(mkld)")
  endif()

  if(NOT MKLD_OUTPUT)
    set(MKLD_OUTPUT "${target}.ld")
  endif()
  get_filename_component(script "${MKLD_OUTPUT}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")
  set(depfile "${script}.d")
  # Ninja makes the folders of its outputs; Make does not.
  get_filename_component(script_dir "${script}" DIRECTORY)
  file(MAKE_DIRECTORY "${script_dir}")

  _mkld_input_arguments()
  # The input options so far, for a memory report of the same target; each
  # list argument is one item, its ';' written as $<SEMICOLON>.
  set_property(TARGET ${target} PROPERTY _MKLD_INPUT_ARGUMENTS "${arguments}")
  if(MKLD_SYMBOLS)
    _mkld_join_list(symbols MKLD_SYMBOLS)
    list(APPEND arguments -symbols "${symbols}")
  endif()
  if(NOT DEFINED MKLD_CHECK_SEGMENT_OVERFLOW OR MKLD_CHECK_SEGMENT_OVERFLOW)
    list(APPEND arguments -check-segment-overflow)
  endif()
  if(NOT DEFINED MKLD_DIAGNOSTICS OR MKLD_DIAGNOSTICS)
    list(APPEND arguments -diagnostics)
  endif()
  if(NOT DEFINED MKLD_CHECK_SECTION_ALIGNMENT OR MKLD_CHECK_SECTION_ALIGNMENT)
    list(APPEND arguments -check-section-alignment)
  endif()
  if(NOT DEFINED MKLD_RUN_SECTIONS_AS_SYMBOLS OR MKLD_RUN_SECTIONS_AS_SYMBOLS)
    list(APPEND arguments -run-sections-as-symbols)
  endif()
  if(MKLD_ENTRY)
    list(APPEND arguments -entry "${MKLD_ENTRY}")
  endif()
  if(NOT DEFINED MKLD_PORTABLE_SCRIPT OR MKLD_PORTABLE_SCRIPT)
    list(APPEND arguments -portable-script)
  endif()
  list(APPEND arguments -dependency-file "${depfile}" "${script}")

  file(RELATIVE_PATH shown "${CMAKE_BINARY_DIR}" "${script}")
  add_custom_command(
    OUTPUT "${script}"
    COMMAND mkld::mkld ${arguments}
    DEPENDS ${inputs} "$<TARGET_FILE:mkld::mkld>"
    DEPFILE "${depfile}"
    COMMENT "Generating linker script ${shown}"
    VERBATIM)
  add_custom_target(${target}_linker_script DEPENDS "${script}")
  add_dependencies(${target} ${target}_linker_script)
  target_link_options(${target} PRIVATE "SHELL:-T \"${script}\"")
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS "${script}")
endfunction()

# mkld_add_memory_report(<target>
#     [MEMORY_MAP <file>]
#     [SECTION_PLACEMENT <file>]
#     [MEMORY_MAP_MACROS <NAME=VALUE>...]
#     [SECTION_PLACEMENT_MACROS <NAME=VALUE>...]
#     [HTML <file>]
#     [JSON <file>]
#     [LIMITS <SEGMENT=PERCENT>...]
#     [MAP <file>]
#     [TOP <count>])
#
# Runs mkld-report after each link of <target>: the build prints the table
# of memory usage, writes the HTML page and the JSON when asked, and fails
# when a segment is fuller than its limit. The inputs default to those of
# mkld_add_linker_script for the same target; relative HTML, JSON and MAP
# paths count from the current binary folder.
# The table also lists the 5 largest symbols of each section and object
# files (-top; mkld-report prints one line instead when the ELF has no
# sized symbols) unless TOP gives another count, or 0 for none. MAP names
# the linker's map file of <target> (-Wl,-Map=<file>): the object files and
# libraries are then taken from it (-map) rather than from DWARF.
function(mkld_add_memory_report target)
  cmake_parse_arguments(PARSE_ARGV 1 MKLD
    ""
    "MEMORY_MAP;SECTION_PLACEMENT;HTML;JSON;MAP;TOP"
    "MEMORY_MAP_MACROS;SECTION_PLACEMENT_MACROS;LIMITS")
  if(MKLD_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "mkld_add_memory_report: unexpected arguments: ${MKLD_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT TARGET "${target}")
    message(FATAL_ERROR "mkld_add_memory_report: ${target} is not a target")
  endif()
  if(NOT TARGET mkld::mkld-report)
    message(FATAL_ERROR "mkld_add_memory_report: mkld::mkld-report is not defined; use find_package(mkld)")
  endif()
  if(MKLD_MEMORY_MAP)
    _mkld_input_arguments()
  else()
    get_target_property(arguments ${target} _MKLD_INPUT_ARGUMENTS)
    if(NOT arguments)
      message(FATAL_ERROR "mkld_add_memory_report: MEMORY_MAP <file> is required\n"
                          "(no mkld_add_linker_script for ${target} to take it from)")
    endif()
  endif()
  foreach(file_option IN ITEMS HTML JSON MAP)
    if(MKLD_${file_option})
      get_filename_component(file "${MKLD_${file_option}}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")
      string(TOLOWER "${file_option}" option)
      list(APPEND arguments -${option} "${file}")
    endif()
  endforeach()
  foreach(limit IN LISTS MKLD_LIMITS)
    list(APPEND arguments -limit "${limit}")
  endforeach()
  if(NOT DEFINED MKLD_TOP)
    set(MKLD_TOP 5)
  endif()
  if(NOT MKLD_TOP STREQUAL "0")
    list(APPEND arguments -top "${MKLD_TOP}")
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND mkld::mkld-report ${arguments} "$<TARGET_FILE:${target}>"
    VERBATIM)
endfunction()

cmake_policy(POP)
