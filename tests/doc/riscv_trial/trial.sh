#!/bin/sh
# The user trial of the documentation, kept as a link test: a three-segment
# RV32 layout with initialised data, a function that runs from ITCM, a heap
# and a stack at the top of RAM, written from the README and the manual page
# alone. mkld must draw no warning from -diagnostics; the program is linked
# with picolibc and the start-up code of examples/qemu-virt (which the
# recipe describes) and checked with nm. Also checks that -check-segment-overflow stops an
# oversized program with the README's line.
#
# Usage: trial.sh <mkld> <source folder> <scratch folder>
# Exits 77 (skipped) only when the RISC-V toolchain is not installed.
set -u
mkld=$(cd "$(dirname "$1")" && pwd)/$(basename "$1") source=$2 work=$3
here=$source/tests/doc/riscv_trial
gcc=riscv64-unknown-elf-gcc
command -v $gcc >/dev/null 2>&1 || { echo "SKIP: $gcc is not installed"; exit 77; }
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
"$mkld" -memory-map-file "$here/memory-map.xml" -section-placement-file "$here/placement.xml" \
  -section-placement-macros "STACK_SIZE=4*1024" \
  -symbols '__global_pointer$=__data_start__ + 0x800' \
  -entry _start -check-segment-overflow -diagnostics trial.ld 2>mkld.err || exit 1
[ ! -s mkld.err ] || fail "mkld warns: $(cat mkld.err)"
link() {  # elf, extra sources...
  elf=$1
  shift
  $gcc -march=rv32imac -mabi=ilp32 --specs=picolibc.specs -nostartfiles -O2 -T trial.ld -o "$elf" \
    "$source/examples/qemu-virt/start.S" "$here/main.c" "$@"
}
link trial.elf || exit 1

symbols=$(riscv64-unknown-elf-nm trial.elf)
at() { printf '%d' "0x$(echo "$symbols" | awk -v name="$1" '$3 == name { print $1 }')"; }
expect() {  # what, test(1) expression
  # shellcheck disable=SC2086
  [ $2 ] || fail "$1: [ $2 ]"
}
expect "stack at the top of RAM" "$(at __stack_end__) -eq $((0x80020000))"
expect "stack of 4 KiB" "$(at __stack_start__) -eq $((0x8001f000))"
expect "heap after .bss" "$(at __heap_start) -ge $(at __bss_end__)"
expect "heap up to the stack" "$(at __heap_end) -eq $(at __stack_start__)"
expect "function runs from ITCM" "$(at fast_add) -eq $((0x10000000))"
expect "function stored in flash" "$(at __fast_load_start__) -lt $((0x20040000))"
expect "data runs from RAM" "$(at counter) -ge $((0x80000000))"
expect "data stored in flash" "$(at __data_load_start__) -lt $((0x20040000))"
expect "global pointer" "$(at '__global_pointer$') -eq $(($(at __data_start__) + 0x800))"
riscv64-unknown-elf-readelf -h trial.elf | grep -q "Entry point address: *0x$(printf '%x' "$(at _start)")$" ||
  fail "entry point is not _start"

# 192 KiB in 128 KiB of RAM: the checks stop the link (kept by name, since
# picolibc.specs links with --gc-sections).
echo 'char oversized[192 * 1024];' >oversized.c
if link oversized.elf oversized.c -Wl,--undefined=oversized 2>link.err; then
  fail "an oversized program links"
fi
grep -qF "$(sed -n '/^### The program does not fit/,/^### /p' "$source/README.md" | grep '^error: ')" link.err ||
  fail "oversized link: $(cat link.err)"

# The quick start to its end: its files and commands as written, start.o
# from the start-up code of examples/cmake-firmware (whose stack top the
# quick start calls __stack_end__), and its report showing each section as
# the README does.
quick() {
  awk -v n="$1" '/^## Quick start/ { on = 1 } on && /^## / && !/Quick start/ { exit }
    on && /^```/ { inside = !inside; if (inside) count++; next } inside && count == n' "$source/README.md"
}
mkdir quick && cd quick || exit 1
quick 1 >memory-map.xml && quick 2 >placement.xml
PATH=$(dirname "$mkld"):$PATH
$gcc -march=rv32imac -mabi=ilp32 -D__stack_top=__stack_end__ -c "$source/examples/cmake-firmware/start.S" -o start.o
echo 'const char greeting[] = "hello"; int counter = 42; int zero;
int main(void) { return counter + zero + greeting[zero]; }' >main.c
$gcc -march=rv32imac -mabi=ilp32 -O2 -c main.c -o main.o
for n in 3 5 6; do
  quick $n >step.sh
  sh step.sh >step.out 2>&1 || fail "quick start: $(cat step.sh) $(cat step.out)"
done
quick 7 | awk '$2 == "run" || $2 == "reserved" || $2 == "load" { print $1, $2 }' | sort -u >shown
awk '$2 == "run" || $2 == "reserved" || $2 == "load" { print $1, $2 }' step.out | sort -u >printed
cmp -s shown printed || fail "quick start report: $(cat step.out)"

[ "$failures" -eq 0 ] || { echo "$failures failure(s)"; exit 1; }
