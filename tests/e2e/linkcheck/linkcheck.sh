#!/bin/sh
# Links a small freestanding RV32 program with scripts that mkld writes and
# checks, with the real linker's output, that every section and symbol is
# where the script promises.
#
# Usage: linkcheck.sh MKLD SOURCE_DIR
# Exits 77 (skipped) only when the RISC-V toolchain is not installed.
set -eu

mkld=$1
source_dir=$2
here=$source_dir/tests/e2e/linkcheck
prefix=riscv64-unknown-elf-

for tool in gcc ld nm objdump objcopy readelf; do
  if ! command -v "$prefix$tool" >/dev/null 2>&1; then
    echo "SKIP: $prefix$tool is not installed"
    exit 77
  fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

compile() {  # output, extra flags...
  out=$1
  shift
  "${prefix}gcc" -march=rv32imac -mabi=ilp32 -nostdlib -ffreestanding -O1 "$@" \
    -c "$here/program.c" -o "$out"
}

link() {  # script, object, elf
  "${prefix}gcc" -march=rv32imac -mabi=ilp32 -nostdlib -ffreestanding -T "$1" "$2" -o "$3"
}

# Section table lines "NAME SIZE VMA LMA" of the allocated sections.
section_table() {
  "${prefix}objdump" -h "$1" | awk '
    /^ *[0-9]+ / { name = $2; size = $3; vma = $4; lma = $5; next }
    name != "" { if ($0 ~ /ALLOC/) print name, size, vma, lma; name = "" }'
}

# Prints the value of a symbol (hex, no prefix), or nothing.
symbol() {  # elf, name
  "${prefix}nm" "$1" | awk -v n="$2" '$3 == n { print $1; exit }'
}

field() {  # elf, section, column (2 size, 3 vma, 4 lma)
  section_table "$1" | awk -v s="$2" -v c="$3" '$1 == s { print $c; exit }'
}

expect_eq() {  # what, actual (hex), expected (number)
  if [ -z "$2" ]; then
    fail "$1: missing"
  elif [ $((0x$2)) -ne $(($3)) ]; then
    fail "$1 is 0x$2, expected $(printf '0x%08x' $(($3)))"
  fi
}

expect_symbol() {  # elf, name, expected
  expect_eq "symbol $2" "$(symbol "$1" "$2")" "$3"
}

# Every allocated section that has start, load-start and size symbols sits
# exactly there; every symbol the script defines for it agrees with the
# linker's section table.
check_consistent() {  # elf, label
  section_table "$1" > "$work/table"
  while read -r name size vma lma; do
    stem=${name#.}
    start=$(symbol "$1" "__${stem}_start__")
    [ -n "$start" ] || { fail "$2: $name has no __${stem}_start__"; continue; }
    expect_eq "$2: $name VMA" "$vma" "0x$start"
    load=$(symbol "$1" "__${stem}_load_start__")
    [ -n "$load" ] && expect_eq "$2: $name LMA" "$lma" "0x$load"
    expect_eq "$2: $name size" "$size" "0x$(symbol "$1" "__${stem}_size__")"
    expect_eq "$2: __${stem}_end__" "$(symbol "$1" "__${stem}_end__")" "0x$vma + 0x$size"
  done < "$work/table"
}

# --- The feature program with its own memory map and placement -----------
compile "$work/program.o"
"$mkld" -check-segment-overflow -symbols "STACK_SIZE=0x400" \
  -memory-map-file "$here/memory-map.xml" \
  -section-placement-file "$here/placement.xml" "$work/program.ld"
link "$work/program.ld" "$work/program.o" "$work/program.elf"
elf=$work/program.elf
check_consistent "$elf" "features"

flash=0x08000000
ram=0x20000000
expect_symbol "$elf" __FLASH_segment_start__ $flash
expect_symbol "$elf" __FLASH_segment_end__ "$flash + 0x10000"
expect_symbol "$elf" __RAM_segment_size__ 0x4000
expect_symbol "$elf" STACK_SIZE 0x400

# The first section sits at the segment start, stored where it runs.
expect_eq ".vectors VMA" "$(field "$elf" .vectors 3)" $flash
expect_eq ".vectors LMA" "$(field "$elf" .vectors 4)" $flash

# Alignment.
text=$(field "$elf" .text 3)
[ $((0x$text % 16)) -eq 0 ] || fail ".text at 0x$text is not 16-byte aligned"
aligned=$(field "$elf" .aligned 3)
[ $((0x$aligned % 256)) -eq 0 ] || fail ".aligned at 0x$aligned is not 256-byte aligned"

# A reserved size, filled with the fill pattern past the input sections.
expect_eq ".rodata size" "$(field "$elf" .rodata 2)" 0x100
"${prefix}objcopy" -O binary --only-section=.rodata "$elf" "$work/rodata.bin"
tail_bytes=$(od -An -tx1 -v "$work/rodata.bin" | tr -d ' \n' | tail -c 16)
[ "$tail_bytes" = "a5a5a5a5a5a5a5a5" ] || fail ".rodata ends in $tail_bytes, not the fill pattern"

# .data is stored in flash right after .rodata and runs in RAM, in the space
# that .data_run reserves.
expect_eq ".data VMA" "$(field "$elf" .data 3)" $ram
expect_eq ".data LMA" "$(field "$elf" .data 4)" "0x$(symbol "$elf" __rodata_end__)"
expect_symbol "$elf" __data_run_start__ $ram
data_size=$(field "$elf" .data 2)
run_size=$(field "$elf" .data_run 2)
[ $((0x$run_size)) -ge $((0x$data_size)) ] || fail ".data_run (0x$run_size) smaller than .data (0x$data_size)"
expect_symbol "$elf" __data_load_end__ "0x$(field "$elf" .data 4) + 0x$data_size"
# The small-data variable is in .data, not an orphan section.
counter=$(symbol "$elf" counter)
[ $((0x$counter)) -ge $((ram)) ] && [ $((0x$counter)) -lt $((ram + 0x$data_size)) ] ||
  fail "counter at 0x$counter is outside .data"

# runoffset: stored after .data's stored copy, run at its load address plus the offset.
fast_lma=$(field "$elf" .fast 4)
expect_eq ".fast LMA" "$fast_lma" "0x$(symbol "$elf" __data_load_start__) + 0x$data_size"
expect_eq ".fast VMA" "$(field "$elf" .fast 3)" "0x$fast_lma + 0x18003000"

# .bss with its extra symbols, after the reserved run space.
bss=$(field "$elf" .bss 3)
expect_eq ".bss VMA" "$bss" "$ram + 0x$run_size"
expect_symbol "$elf" _bss_begin "0x$bss"
expect_symbol "$elf" _bss_end "0x$bss + 0x$(field "$elf" .bss 2)"
expect_symbol "$elf" _bss_size "0x$(field "$elf" .bss 2)"

# .heap aligned after .bss with its reserved size; .stack from the segment end.
expect_eq ".heap size" "$(field "$elf" .heap 2)" 0x200
heap=$(field "$elf" .heap 3)
[ $((0x$heap % 8)) -eq 0 ] || fail ".heap at 0x$heap is not 8-byte aligned"
expect_eq ".stack VMA" "$(field "$elf" .stack 3)" "$ram + 0x4000 - 0x400"
expect_eq ".stack size" "$(field "$elf" .stack 2)" 0x400
expect_symbol "$elf" __RAM_segment_used_end__ "$ram + 0x4000"
expect_symbol "$elf" __FLASH_segment_used_end__ "0x$aligned + 0x$(field "$elf" .aligned 2)"

# --- Overflow: the link fails with the script's own message ---------------
if "$mkld" -check-segment-overflow -symbols "STACK_SIZE=0x400" \
  -memory-map-segments "FLASH RX 0x08000000 0x40;RAM RWX 0x20000000 0x4000" \
  -section-placement-file "$here/placement.xml" "$work/small.ld" &&
  ! link "$work/small.ld" "$work/program.o" "$work/small.elf" 2> "$work/small.err"; then
  grep -q "error: .text is too large to fit in FLASH memory segment" "$work/small.err" ||
    fail "overflow link failed without the script's message: $(cat "$work/small.err")"
else
  fail "an oversize .text linked without error"
fi

# Without the checks the same oversize link goes through.
"$mkld" -symbols "STACK_SIZE=0x400" \
  -memory-map-segments "FLASH RX 0x08000000 0x40;RAM RWX 0x20000000 0x4000" \
  -section-placement-file "$here/placement.xml" "$work/small.ld"
link "$work/small.ld" "$work/program.o" "$work/small.elf" ||
  fail "the oversize link failed without -check-segment-overflow"

# --- Every bundled example ------------------------------------------------
compile "$work/plain.o" -DPLAIN
for example in "$source_dir"/examples/*/; do
  [ -f "$example/memory-map.xml" ] || continue
  label=$(basename "$example")
  set -- -check-segment-overflow -memory-map-file "$example/memory-map.xml"
  [ -f "$example/placement.xml" ] && set -- "$@" -section-placement-file "$example/placement.xml"
  if ! "$mkld" "$@" "$work/$label.ld"; then
    fail "$label: mkld failed"
    continue
  fi
  if ! link "$work/$label.ld" "$work/plain.o" "$work/$label.elf"; then
    fail "$label: the link failed"
    continue
  fi
  check_consistent "$work/$label.elf" "$label"
done

if [ "$failures" -ne 0 ]; then
  echo "$failures link check(s) failed"
  exit 1
fi
echo "all link checks passed"
