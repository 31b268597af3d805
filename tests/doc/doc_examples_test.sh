#!/bin/sh
# Runs the examples of the README and the manual page as they are written
# (worked_example_test.cpp runs the two worked examples; the RISC-V trial
# links the layout the traps section teaches). A fragment of a placement file
# is run inside the smallest file that holds it; every command runs through
# the shell, with mkld on the PATH, in a folder holding the files it names.
#
# Usage: doc_examples_test.sh <mkld> <source folder> <scratch folder>
set -u
mkld=$1 source=$2 work=$3
readme=$source/README.md manual=$source/doc/mkld.1
PATH=$(cd "$(dirname "$mkld")" && pwd):$PATH
export PATH
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# block DOC HEADING N: the Nth code block (``` or .EX) after the first line
# that starts with HEADING, with the manual's escapes undone.
block() {
  awk -v heading="$2" -v n="$3" '
    !found { found = index($0, heading) == 1; next }
    !inside && (/^ *```/ || /^\.EX$/) { inside = 1; count++; next }
    inside && (/^ *```$/ || /^\.EE$/) { inside = 0; if (count == n) exit; next }
    inside && count == n { print }' "$1" | sed 's/\\-/-/g; s/\\&//g; s/\\e/\\/g; s/\\(dq/"/g'
}

# fresh NAME: an empty folder to run a case in, made the working directory.
fresh() { rm -rf "$work/$1" && mkdir -p "$work/$1" && cd "$work/$1" || exit 1; }
runs() {  # what, shell text: runs it, fails when it does
  printf '%s\n' "$2" >command.sh
  sh command.sh >out.txt 2>&1 || fail "$1 fails: $(cat command.sh) $(cat out.txt)"
}
holds() {  # what, file, text
  grep -qF -- "$3" "$2" || fail "$1: $2 lacks: $3"
}
quick_map() { block "$readme" "## Quick start" 1 >memory-map.xml; }
quick_placement() { block "$readme" "## Quick start" 2; }

rm -rf "$work" && mkdir -p "$work" || exit 1

# Manual, EXAMPLE: its link command is the quick start's, which the RISC-V
# trial runs.
[ "$(block "$manual" ".SH EXAMPLE" 5)" = "$(block "$readme" "## Quick start" 5)" ] ||
  fail "the manual's link command differs from the README's"

# Manual, SEGMENT LIST: the regions come out in the order of the list.
fresh segments
runs "segment list" "$(block "$manual" ".SH SEGMENT LIST" 1)"
[ "$(grep -o '^  [A-Z_]* (' out.ld | tr -d ' (' | tr '\n' ' ')" = "UNPLACED_SECTIONS FLASH RAM " ] ||
  fail "segment list: regions $(grep '^  [A-Z]* (' out.ld)"

# README, dependency file: the rule as shown, with Make and with Ninja.
fresh dependencies
cp "$source/examples/cmake-firmware/"*.xml .
block "$readme" "## Dependency file" 2 >Makefile
runs "Make example" "make tiny.ld"
block "$readme" "## Dependency file" 1 >expected.d
cmp -s expected.d tiny.ld.d || fail "dependency file: $(cat tiny.ld.d)"
rm -f tiny.ld tiny.ld.d
block "$readme" "## Dependency file" 3 >build.ninja
runs "Ninja example" "ninja tiny.ld && ninja tiny.ld"
holds "Ninja example" out.txt "ninja: no work to do."

# Schemas: the processing instruction, the check, the editor settings; the
# installed folder is the source folder's schema/ here.
for doc in "$readme:## Editor support" "$manual:.SH XML SCHEMAS"; do
  fresh schema
  file=${doc%%:*} heading=${doc#*:}
  installed() { sed "s|/opt/mkld/share/mkld/schema|$source/schema|g"; }
  { block "$file" "$heading" 1 | installed; quick_placement | sed 1d; } >placement.xml
  quick_map
  runs "$heading: association" "mkld -memory-map-file memory-map.xml -section-placement-file placement.xml out.ld"
  href=$(sed -n 's/.*href="\(.*\)".*/\1/p' placement.xml)
  xmllint --noout --schema "$href" placement.xml >out.txt 2>&1 || fail "$heading: association: $(cat out.txt)"
  [ "$file" = "$readme" ] && runs "README: xmllint" "$(block "$file" "$heading" 3 | installed)"
  block "$file" "$heading" 2 | installed >settings.json
  for schema in $(sed -n 's/.*"systemId": "\(.*\)".*/\1/p' settings.json); do
    [ -f "$schema" ] || fail "$heading: settings name $schema"
  done
done

# README, traps: each fix runs as shown.
fresh heap
quick_map
{ echo "<Root>"; block "$readme" "### A size written with symbols" 1; echo "</Root>"; } >placement.xml
runs "heap fix" "$(block "$readme" "### A size written with symbols" 2)"
holds "heap fix" firmware.ld "    __heap_end =   __stack_start__;"

fresh stack
quick_map
{ echo "<Root>"; block "$readme" "### The stack is not at the top" 1; echo "</Root>"; } >placement.xml
runs "stack fix" "$(block "$readme" "### The stack is not at the top" 2)"
holds "stack fix" firmware.ld "$(block "$readme" "### The stack is not at the top" 3)"

fresh stack_manual
quick_map
{ echo "<Root>"; block "$manual" ".B place_from_segment_end" 1 | sed 's|^\.\.\.$|<MemorySegment name="RAM">|'
  echo "</MemorySegment></Root>"; } >placement.xml
runs "manual stack fix" "mkld -memory-map-file memory-map.xml -section-placement-file placement.xml \
  -section-placement-macros 'STACK_SIZE=4*1024' firmware.ld"
holds "manual stack fix" firmware.ld "__stack_load_start__ = __RAM_segment_start__ + (__RAM_segment_size__ - 4096);"

for doc in "$readme:### \`\`section \`.sdata'" "$manual:.SH DEFAULT INPUT SECTIONS"; do
  fresh small_data
  quick_map
  { echo '<Root><MemorySegment name="FLASH">'; block "${doc%%:*}" "${doc#*:}" 1
    echo '</MemorySegment><MemorySegment name="RAM"><ProgramSection name=".data_run"/>'
    echo '</MemorySegment></Root>'; } >placement.xml
  runs "${doc#*:}" "mkld -memory-map-file memory-map.xml -section-placement-file placement.xml out.ld"
  for list in "*(.srodata .srodata.*) *(.rodata .rodata.*)" "*(.sdata .sdata.*) *(.data .data.*)" \
              "*(.sbss .sbss.*) *(.bss .bss.*) *(COMMON)"; do
    holds "${doc#*:}" out.ld "    $list"
  done
done

fresh global_pointer
quick_map
quick_placement >placement.xml
runs "global pointer fix" "$(block "$readme" "### \`\`undefined reference" 1)"
holds "global pointer fix" firmware.ld '  __global_pointer$ = __data_start__ + 0x800;'
holds "entry point fix" firmware.ld 'ENTRY(_start)'

# README, CMake: installed as shown, the calls of mkld_add_linker_script and
# mkld_add_memory_report build the sources of examples/cmake-firmware, and so
# does the example's own command.
if command -v riscv64-unknown-elf-gcc >/dev/null 2>&1; then
  fresh cmake
  runs "README install" "cmake --install '$(dirname "$mkld")' --prefix '$work/prefix'"
  mkdir project && cp "$source/examples/cmake-firmware/"* project/ && ln -s "$source/examples" examples
  { echo "cmake_minimum_required(VERSION 3.25)"; echo "project(firmware C ASM)"
    block "$readme" "## Building firmware with CMake" 2; block "$readme" "## Memory report" 2; } >project/CMakeLists.txt
  runs "README CMake functions" "cmake -S project -B build -G Ninja -DCMAKE_TOOLCHAIN_FILE=riscv-toolchain.cmake \
    -DCMAKE_PREFIX_PATH='$work/prefix' && cmake --build build"
  holds "README CMake function" build/firmware.ld "ENTRY(_start)"
  [ -s build/firmware.html ] && [ -s build/firmware.json ] || fail "README memory report: no page or JSON"
  runs "README CMake example" "$(block "$readme" "## Building firmware with CMake" 3 | sed "s|/opt/mkld|$work/prefix|")"
else
  echo "riscv64-unknown-elf-gcc is not installed: the CMake examples are not built"
fi

# The RISC-V recipe in both documents: each piece is what examples/qemu-virt,
# which the qemu_boot test boots, does.
fresh recipe
for piece in "$readme|## The RISC-V recipe|1|CMakeLists.txt" "$readme|## The RISC-V recipe|2|start.S" \
             "$readme|## The RISC-V recipe|3|start.S" "$manual|.SH RISC-V START-UP|1|CMakeLists.txt" \
             "$manual|.SH RISC-V START-UP|2|start.S"; do
  echo "$piece" | tr '|' '\n' >piece
  { read -r file; read -r heading; read -r n; read -r target; } <piece
  block "$file" "$heading" "$n" | sed "s/\\\\(aq/'/g; s/^ *//; s/^-symbols '//; s/'\$//" | tr ';' '\n' >lines
  while IFS= read -r line; do
    grep -qF -- "$line" "$source/examples/qemu-virt/$target" || fail "$heading block $n: $target lacks: $line"
  done <lines
done

# README, located diagnostics: every line shown is one a golden case prints.
for n in 1 2; do
  block "$readme" "## Located diagnostics" $n | while IFS= read -r line; do
    cat "$source"/tests/e2e/cases/*/expected/stderr | grep -qxF -- "$line" || echo "$line"
  done >"$work/unknown.txt"
  [ ! -s "$work/unknown.txt" ] || fail "located diagnostics example $n, in no golden case: $(cat "$work/unknown.txt")"
done

# README, silently missing input: -diagnostics prints exactly the lines shown.
fresh diagnostics
quick_map
block "$readme" "### A section, a segment or an include" 1 >placement.xml
printf '%s\n' "$(block "$readme" "### A section, a segment or an include" 2)" >command.sh
sh command.sh >/dev/null 2>stderr.txt
block "$readme" "### A section, a segment or an include" 3 >expected.txt
cmp -s expected.txt stderr.txt || fail "-diagnostics example: $(cat stderr.txt)"

# Manual, DEFAULT INPUT SECTIONS: each list is what mkld writes for the name.
fresh defaults
quick_map
awk '/^\.SH DEFAULT INPUT SECTIONS/ { on = 1 } on && /^\.SH XML/ { exit }
     on && prev == ".nf" { print name "\t" $0 } on && /^\.B / { name = $2 } on && /^any other name/ { name = "N" }
     { prev = $0 }' "$manual" | sed 's/\\fI//g; s/\\fP//g' >lists
[ "$(wc -l <lists)" -eq 7 ] || fail "default lists: $(cat lists)"
{ echo '<Root><MemorySegment name="RAM">'
  cut -f1 lists | sed 's/.*/<ProgramSection name="&"\/>/'
  echo '</MemorySegment></Root>'; } >placement.xml
runs "default lists" "mkld -memory-map-file memory-map.xml -section-placement-file placement.xml out.ld"
while IFS="$(printf '\t')" read -r name list; do
  holds "default list of $name" out.ld "    $list"
done <lists

[ "$failures" -eq 0 ] || { echo "$failures failure(s)"; exit 1; }
