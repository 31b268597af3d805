#!/bin/sh
# Builds examples/qemu-virt through the installed CMake package and boots it
# on QEMU's riscv32 virt board. The firmware checks its own start-up and
# ends QEMU with the bit mask of the failed checks as the exit status.
#   - The flat image (objcopy) boots from pflash0 with RAM filled with 0xA5,
#     so start-up code that leaves .bss alone or .data uncopied fails.
#   - Today's script form with run sections as symbols, linked by GNU ld
#     (without them, GNU ld refuses the thread-local sections): the flat
#     image and the ELF boot, and two broken start-ups fail: without the
#     .data copy with exactly the bits of the checks that read .data (data,
#     and the heap, whose allocator keeps its state there); without the
#     .bss clear the C library's first printf traps on its uncleared state
#     (status 128 + 7, a store access fault).
#   - The portable form, linked by GNU ld (GCC) and by ld.lld (clang): the
#     flat image and the ELF loaded by its program headers both boot.
#   - The same with flash and RAM taken from the devicetree QEMU dumps.
#
# Usage: qemuboot.sh MKLD_BUILD_DIR SOURCE_DIR WORK_DIR
# Exits 77 (skipped) only when a compiler, a linker or QEMU is not installed.
set -eu

mkld_build=$1
source_dir=$2
work=$3

for tool in riscv64-unknown-elf-gcc riscv64-unknown-elf-objcopy clang ld.lld qemu-system-riscv32 ninja timeout; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "SKIP: $tool is not installed"
    exit 77
  fi
done

rm -rf "$work"
mkdir -p "$work"
failures=0

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

quiet() {  # log, command...: runs the command, shows its log when it fails
  log=$1
  shift
  if ! "$@" > "$log" 2>&1; then
    cat "$log"
    echo "FAIL: $*"
    exit 1
  fi
}

quiet "$work/install.log" cmake --install "$mkld_build" --prefix "$work/prefix"
# A copy, so that the broken variants can edit the start-up code.
cp -R "$source_dir/examples/qemu-virt" "$work/source"
start_s=$work/source/start.S
cp "$start_s" "$work/start.S.orig"
# RAM as it is after a power-up that left something behind.
head -c 65536 /dev/zero | tr '\0' '\245' > "$work/fill.bin"

configure() {  # build folder, toolchain file, extra cmake arguments...
  dir=$1
  toolchain=$2
  shift 2
  quiet "$dir.log" cmake -S "$work/source" -B "$dir" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$work/source/$toolchain" \
    -DCMAKE_PREFIX_PATH="$work/prefix" "$@"
}

build() {  # build folder
  quiet "$1.log" cmake --build "$1"
}

# Boots and compares QEMU's exit status; a boot that passes must also say so
# on the UART.
boot() {  # label, expected status, qemu arguments...
  label=$1
  expected=$2
  shift 2
  status=0
  timeout 10 qemu-system-riscv32 -machine virt -bios none -nographic "$@" \
    < /dev/null > "$work/$label.out" 2>&1 || status=$?
  if [ "$status" -ne "$expected" ]; then
    fail "$label: QEMU exited with $status, expected $expected:
$(cat "$work/$label.out")"
  elif [ "$expected" -eq 0 ] && ! grep -q "all checks passed" "$work/$label.out"; then
    fail "$label: no \"all checks passed\" on the UART:
$(cat "$work/$label.out")"
  fi
}

boot_flash() {  # label, expected status, build folder
  boot "$1" "$2" -drive "if=pflash,format=raw,unit=0,file=$3/flash.bin" \
    -device "loader,file=$work/fill.bin,addr=0x80000000"
}

boot_elf() {  # label, expected status, build folder
  boot "$1" "$2" -device "loader,file=$3/firmware.elf,cpu-num=0"
}

# Builds the start-up code with one line replaced and expects the boot to
# fail with the check's bit alone.
boot_broken() {  # label, expected status, build folder, line, replacement
  sed "s/$4/$5/" "$work/start.S.orig" > "$start_s"
  if cmp -s "$start_s" "$work/start.S.orig"; then
    fail "$1: start.S has no line \"$4\" to break"
  else
    build "$3"
    boot_flash "$1" "$2" "$3"
  fi
  cp "$work/start.S.orig" "$start_s"
}

# --- Today's script form with run sections as symbols (the CMake default,
# which thread-local variables need), GNU ld
gnu=$work/gnu
configure "$gnu" riscv-toolchain.cmake -DPORTABLE_SCRIPT=OFF
build "$gnu"
boot_flash flash 0 "$gnu"
boot_elf elf 0 "$gnu"
boot_broken no-bss-clear 135 "$gnu" "la a1, __bss_end__" "la a1, __bss_start__"
boot_broken no-data-copy 9 "$gnu" "la a2, __data_end__" "la a2, __data_start__"

# --- The portable form (mkld_add_linker_script's default), GNU ld and ld.lld
for linker in gnu:riscv-toolchain.cmake lld:clang-toolchain.cmake; do
  form=portable-${linker%%:*}
  configure "$work/$form" "${linker#*:}"
  build "$work/$form"
  boot_flash "$form-flash" 0 "$work/$form"
  boot_elf "$form-elf" 0 "$work/$form"
done

# --- Flash and RAM from QEMU's own virt devicetree (portable form, GNU ld) --
qemu-system-riscv32 -machine "virt,dumpdtb=$work/virt.dtb" -bios none -nographic \
  > "$work/dumpdtb.log" 2>&1 || true
configure "$work/devicetree" riscv-toolchain.cmake -DDEVICETREE="$work/virt.dtb"
build "$work/devicetree"
# The whole 128 MiB of RAM, as the devicetree says (memory-map.xml takes 64 KiB).
grep -q "RAM (wx) : ORIGIN = 0x80000000, LENGTH = 0x08000000" "$work/devicetree/firmware.elf.ld" ||
  fail "devicetree: the script's RAM is not the devicetree's"
boot_flash devicetree-flash 0 "$work/devicetree"
boot_elf devicetree-elf 0 "$work/devicetree"

if [ "$failures" -ne 0 ]; then
  echo "$failures boot check(s) failed"
  exit 1
fi
rm -rf "$work"
echo "all boot checks passed"
