#!/bin/sh
# Links a small freestanding RV32 program with scripts that mkld writes and
# checks, with the real linkers' output, that every section and symbol is
# where the script promises; that today's script under GNU ld and the
# -portable-script form under GNU ld and ld.lld agree on every one; and that
# the portable links load right program header by program header.
#
# Usage: linkcheck.sh MKLD SOURCE_DIR
# Exits 77 (skipped) only when the RISC-V toolchain or ld.lld is not installed.
set -eu

mkld=$1
source_dir=$2
here=$source_dir/tests/e2e/linkcheck
prefix=riscv64-unknown-elf-

for tool in ${prefix}gcc ${prefix}ld ${prefix}nm ${prefix}objdump ${prefix}objcopy ${prefix}readelf ld.lld; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "SKIP: $tool is not installed"
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

link() {  # script, object, elf: GNU ld
  "${prefix}gcc" -march=rv32imac -mabi=ilp32 -nostdlib -ffreestanding -T "$1" "$2" -o "$3"
}

link_lld() {  # script, object, elf
  ld.lld -T "$1" "$2" -o "$3"
}

# Section table lines "NAME SIZE VMA LMA" of the allocated sections.
section_table() {
  "${prefix}objdump" -h "$1" | awk '
    /^ *[0-9]+ / { name = $2; size = $3; vma = $4; lma = $5; next }
    name != "" { if ($0 ~ /ALLOC/) print name, size, vma, lma; name = "" }'
}

# Prints the value of a symbol (hex, no prefix), or nothing.
symbol() {  # elf, name
  [ -f "$1.nm" ] || "${prefix}nm" "$1" > "$1.nm"
  awk -v n="$2" '$3 == n { print $1; exit }' "$1.nm"
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

# The second ELF agrees with the first on every symbol's value and on the
# size, address and load address of each of its non-empty allocated
# sections. It may lack a section of the first: the portable form makes a
# run section symbols only. (ld.lld keeps empty sections that define
# symbols; GNU ld drops them.) The portable form's __STEM_align__ symbols
# have no counterpart.
same_layout() {  # label, reference elf, elf
  for elf in "$2" "$3"; do
    { section_table "$elf" | awk '$2 !~ /^0+$/'; "${prefix}nm" "$elf" | awk '$3 !~ /_align__$/ { print $3, $1 }'; } > "$elf.layout"
  done
  awk 'NR == FNR { present[$1]; next } NF == 2 || $1 in present' "$3.layout" "$2.layout" | sort > "$work/reference"
  sort "$3.layout" > "$work/other"
  cmp -s "$work/reference" "$work/other" || fail "$1 differs from today's script under GNU ld:
$(diff "$work/reference" "$work/other" | grep '^[<>]' | head -20)"
}

# No two non-empty allocated sections share a run address (.tbss takes none
# of its own: its variables live past .tdata in each thread's block).
no_overlap() {  # elf, label
  section_table "$1" | awk -v label="$2" -v count=0 '
    function num(h,  k, v) { v = 0; for (k = 1; k <= length(h); k++) v = v * 16 + index("0123456789abcdef", substr(h, k, 1)) - 1; return v }
    $1 != ".tbss" && num($2) > 0 { for (j = 0; j < count; j++) if (num($3) < end[j] && start[j] < num($3) + num($2)) print "FAIL: " label ": " $1 " overlaps " name[j]
      name[count] = $1; start[count] = num($3); end[count++] = num($3) + num($2) }' | grep . && failures=$((failures + 1))
  return 0
}

# Loads the ELF's PT_LOAD headers one by one at their physical addresses
# (file bytes, then zeros up to the memory size), as a debug probe does, and
# compares the bytes that land in the range of objcopy's binary image with
# that image. Succeeds when they are the same.
loads_like_image() {  # elf
  "${prefix}objcopy" -O binary "$1" "$work/image.bin"
  image_size=$(wc -c < "$work/image.bin")
  [ "$image_size" -gt 0 ] || return 0
  image_base=0x$("${prefix}objdump" -h "$1" | awk '
    /^ *[0-9]+ / { size = $3; lma = $5; next }
    size != "" { if ($0 ~ /CONTENTS/ && $0 ~ /LOAD/ && size !~ /^0+$/) print lma; size = "" }' |
    sort | head -n 1)
  image_base=$((image_base))
  : > "$work/loaded.bin"  # then zeros up to the image's size
  dd if=/dev/zero of="$work/loaded.bin" bs=1 count=0 seek="$image_size" status=none
  "${prefix}readelf" -lW "$1" | awk '$1 == "LOAD" { print $2, $4, $5, $6 }' > "$work/loads"
  while read -r offset paddr filesz memsz; do
    put "$1" $((offset)) $((paddr)) $((filesz))
    put /dev/zero 0 $((paddr + filesz)) $((memsz - filesz))
  done < "$work/loads"
  cmp -s "$work/image.bin" "$work/loaded.bin"
}

put() {  # source, offset in it, address, count: the part inside the image
  from=$(($3 > image_base ? $3 : image_base))
  to=$(($3 + $4 < image_base + image_size ? $3 + $4 : image_base + image_size))
  [ "$from" -lt "$to" ] || return 0
  dd if="$1" of="$work/loaded.bin" bs=4096 iflag=skip_bytes,count_bytes oflag=seek_bytes \
    conv=notrunc skip=$(($2 + from - $3)) seek=$((from - image_base)) count=$((to - from)) status=none
}

# Writes today's and the portable script for one case and links them three
# ways; the GNU ld link of today's script is $work/LABEL.elf.
link_case() {  # label, object, mkld arguments...
  label=$1 object=$2
  shift 2
  "$mkld" "$@" "$work/$label.ld" && "$mkld" -portable-script "$@" "$work/$label.portable.ld" &&
    link "$work/$label.ld" "$object" "$work/$label.elf" || { fail "$label: mkld or the link failed"; return; }
  check_consistent "$work/$label.elf" "$label"
  for linker in link link_lld; do
    elf=$work/$label.portable.$linker.elf
    $linker "$work/$label.portable.ld" "$object" "$elf" || { fail "$label: the portable link failed ($linker)"; continue; }
    same_layout "$label: the portable script with $linker" "$work/$label.elf" "$elf"
    no_overlap "$elf" "$label: the portable script with $linker"
    loads_like_image "$elf" || fail "$label: the portable script's program headers ($linker) do not load as the image"
  done
}

# --- The feature program with its own memory map and placement -----------
compile "$work/program.o"
link_case features "$work/program.o" -check-segment-overflow -symbols "STACK_SIZE=0x400" \
  -memory-map-file "$here/memory-map.xml" -section-placement-file "$here/placement.xml"
elf=$work/features.elf

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

# --- Overflow --------------------------------------------------------------
# An oversize .text: with the checks the link fails with the script's own
# message; without them today's script links, the portable one fails on its
# region. Rows: mkld flags | linker | outcome (message, links or fails).
for row in "-check-segment-overflow|link|message" "-check-segment-overflow -portable-script|link|message" \
  "-check-segment-overflow -portable-script|link_lld|message" "|link|links" "-portable-script|link|fails" \
  "-portable-script|link_lld|fails"; do
  flags=${row%%|*} linker=${row#*|} expected=${row##*|}
  linker=${linker%|*}
  "$mkld" $flags -symbols "STACK_SIZE=0x400" -memory-map-segments "FLASH RX 0x08000000 0x40;RAM RWX 0x20000000 0x4000" \
    -section-placement-file "$here/placement.xml" "$work/small.ld" || fail "mkld $flags failed"
  outcome=fails
  $linker "$work/small.ld" "$work/program.o" "$work/small.elf" 2> "$work/small.err" && outcome=links
  grep -q "error: .text is too large to fit in FLASH memory segment" "$work/small.err" && outcome=message
  [ "$outcome" = "$expected" ] || fail "the oversize link ($linker $flags) $outcome, expected $expected"
done

# --- Variants: shared and chained run sections, fixed and end placement ---
link_case variants "$work/program.o" -no-check-unplaced-sections -check-segment-overflow \
  -memory-map-file "$here/memory-map.xml" -section-placement-file "$here/variants.xml"

# --- Today's script: the program-header hazard ----------------------------
# A run section's NOLOAD reservation gets its first client's load address
# from GNU ld, and its PT_LOAD writes zeros over that client's stored copy
# (objcopy's image is right). The README explains it and the remedy.
for label in features variants; do
  if loads_like_image "$work/$label.elf"; then
    fail "$label: today's script no longer shows the program-header hazard: update the README"
  fi
done

# --- The runtime features ------------------------------------------------
# Rows: label | mkld flags | linker. Every row links, with one PT_TLS whose
# image is .tdata's stored copy and that holds the zero-initialised variable
# and ends before .data, .tbss (where placed) after .tdata, nothing of
# .discard_me, the program's handler over the script's default and the
# provided size. Without .tbss, the portable form adds it to .tdata.
compile "$work/runtime.o" -DPLAIN -DRUNTIME
runtime="-memory-map-file $here/memory-map.xml -section-placement-file $here/runtime-placement.xml"
for row in "default|-run-sections-as-symbols|link" "portable|-portable-script|link" "portable|-portable-script|link_lld" \
  "portable-no-tbss|-portable-script -section-placement-macros NO_TBSS|link" \
  "portable-no-tbss|-portable-script -section-placement-macros NO_TBSS|link_lld"; do
  label=runtime-${row%%|*}-${row##*|} flags=${row#*|}
  flags=${flags%|*} linker=${row##*|}
  elf=$work/$label.elf
  "$mkld" $flags $runtime "$work/$label.ld" && $linker "$work/$label.ld" "$work/runtime.o" "$elf" ||
    { fail "$label: mkld or the link failed"; continue; }
  set -- $("${prefix}readelf" -lW "$elf" | awk '$1 == "TLS" { print $3, $4, $6 }')
  [ $# -eq 3 ] && expect_eq "$label: TLS image" "${2#0x}" "0x$(field "$elf" .tdata 4)" || fail "$label: no PT_TLS"
  [ $# -eq 3 ] && [ $((0x$(symbol "$elf" tls_zero) + 8)) -le $(($3)) ] &&
    [ $(($1 + $3)) -le $((0x$(field "$elf" .data 3))) ] || fail "$label: the TLS block ($*) misses tls_zero or runs into .data"
  tbss=$(field "$elf" .tbss 3)
  if [ -n "$tbss" ]; then
    [ $# -eq 3 ] && expect_eq "$label: TLS size" "${3#0x}" "0x$tbss + 0x$(field "$elf" .tbss 2) - $1"
    [ $((0x$tbss)) -ge $((0x$(field "$elf" .tdata 3) + 4)) ] || fail "$label: .tbss at 0x$tbss overlaps .tdata"
  fi
  section_table "$elf" | grep -q discard_me && fail "$label: .discard_me was kept"
  expect_symbol "$elf" stack_size 0x800
  [ "$(symbol "$elf" handler)" != 00001234 ] || fail "$label: the script's handler replaced the program's"
  [ "${label#runtime-portable}" = "$label" ] ||
    [ $((0x$(field "$elf" .init_array 3) % 4)) -eq 0 ] || fail "$label: .init_array is not aligned"
done
# The checks fail the link with their messages: the alignment check in the
# default form, the user's own in both (rows: mkld flags | linker | message).
for row in "-check-section-alignment|link|.init_array starts below the alignment" \
  "-section-placement-macros MIN_STACK=0x1000|link|the stack is too small" \
  "-portable-script -section-placement-macros MIN_STACK=0x1000|link_lld|the stack is too small"; do
  flags=${row%%|*} message=${row##*|} linker=${row#*|}
  linker=${linker%|*}
  "$mkld" -run-sections-as-symbols $flags $runtime "$work/check.ld" || fail "mkld $flags failed"
  $linker "$work/check.ld" "$work/runtime.o" "$work/check.elf" 2> "$work/check.err" &&
    fail "the link with $flags ($linker) did not fail"
  grep -q "$message" "$work/check.err" || fail "the link with $flags ($linker) did not say: $message"
done

# --- Every bundled example ------------------------------------------------
compile "$work/plain.o" -DPLAIN
for example in "$source_dir"/examples/*/; do
  [ -f "$example/memory-map.xml" ] || continue
  set -- -check-segment-overflow -memory-map-file "$example/memory-map.xml"
  [ -f "$example/placement.xml" ] && set -- "$@" -section-placement-file "$example/placement.xml"
  link_case "$(basename "$example")" "$work/plain.o" "$@"
done

# --- RAM without alignments: the portable form aligns .data and keeps .bss
# clear of it, with either linker ---------------------------------------------
"$mkld" -portable-script -memory-map-file "$here/memory-map.xml" -section-placement-file "$here/unaligned-ram.xml" \
  "$work/unaligned.ld" || fail "unaligned RAM: mkld failed"
for linker in link link_lld; do
  elf=$work/unaligned.$linker.elf
  $linker "$work/unaligned.ld" "$work/plain.o" "$elf" || { fail "unaligned RAM: the link failed ($linker)"; continue; }
  no_overlap "$elf" "unaligned RAM ($linker)"
  [ $((0x$(field "$elf" .data 3) % 4)) -eq 0 ] || fail "unaligned RAM ($linker): .data is not aligned"
done

if [ "$failures" -ne 0 ]; then
  echo "$failures link check(s) failed"
  exit 1
fi
echo "all link checks passed"
