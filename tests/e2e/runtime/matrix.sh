#!/bin/sh
# Builds examples/c-runtime through the installed CMake package, with GCC
# (GNU ld; both script forms) and with clang (ld.lld; the portable form),
# and boots each firmware of the table below on QEMU with RAM filled with
# 0xA5. A cell passes when QEMU exits 0 and the program printed its pass
# line; "link" cells (boards QEMU lacks) pass when the ELF was linked.
#
# Usage: matrix.sh MKLD_BUILD_DIR SOURCE_DIR WORK_DIR
# Exits 77 (skipped) only when a compiler, a linker, picolibc or QEMU is
# not installed.
set -u
build=$1 source=$2 work=$3

# board  QEMU machine  flash address  RAM size
boards='virt virt 0x20000000 0x10000
sifive_e sifive_e 0x20400000 0x4000'

# cell (program-board-form), build folder, what to do
cells='c-virt-default gcc boot
c-virt-portable gcc boot
c-virt-portable clang boot
c-sifive_e-default gcc boot
c-sifive_e-portable gcc boot
c-sifive_e-portable clang boot
tls-virt-portable gcc boot
tls-virt-portable clang boot
tls-sifive_e-portable gcc boot
tls-sifive_e-portable clang boot
cxx-virt-default gcc boot
cxx-virt-portable gcc boot
cxx-virt-portable clang boot
cxx-sifive_e-default gcc boot
cxx-sifive_e-portable gcc boot
cxx-sifive_e-portable clang boot
c-gd32vf103-default gcc link
c-gd32vf103-portable gcc link
c-gd32vf103-portable clang link
tls-gd32vf103-portable clang link
cxx-gd32vf103-portable clang link
c-ch32v003-default gcc link
c-ch32v003-portable gcc link
tls-ch32v003-portable gcc link
cxx-ch32v003-portable gcc link'

for tool in riscv64-unknown-elf-gcc clang ld.lld qemu-system-riscv32 ninja timeout; do
  command -v "$tool" >/dev/null 2>&1 || { echo "SKIP: $tool is not installed"; exit 77; }
done
[ -d /usr/lib/picolibc/riscv64-unknown-elf ] || { echo "SKIP: picolibc is not installed"; exit 77; }

rm -rf "$work" && mkdir -p "$work" || exit 1
cmake --install "$build" --prefix "$work/prefix" >"$work/install.log" 2>&1 || { cat "$work/install.log"; exit 1; }
# Every firmware is built; a failed link shows as the failed cell.
for compiler in gcc:"default;portable" clang:portable; do
  dir=$work/${compiler%%:*}
  cmake -S "$source/examples/c-runtime" -B "$dir" -G Ninja -DCMAKE_PREFIX_PATH="$work/prefix" \
    -DCMAKE_TOOLCHAIN_FILE="${compiler%%:*}-toolchain.cmake" -DFORMS="${compiler#*:}" >"$dir.log" 2>&1 &&
    cmake --build "$dir" -- -k 0 >>"$dir.log" 2>&1
done

failures=0
echo "$cells" | while read -r cell compiler action; do
  elf=$work/$compiler/$cell.elf label="$cell-$compiler"
  if [ ! -f "$elf" ]; then
    echo "FAIL $label: not linked"; grep -A8 "FAILED: $cell.elf" "$work/$compiler.log"; exit 1
  elif [ "$action" = link ]; then
    echo "PASS $label (linked)"
    continue
  fi
  set -- $(echo "$boards" | grep "^$(echo "$cell" | cut -d- -f2) ")
  image=$work/$label.bin
  cp "${elf%.elf}.bin" "$image" || exit 1
  head -c $(($4)) /dev/zero | tr '\0' '\245' >"$work/fill.bin"
  if [ "$2" = virt ]; then  # pflash0 takes a whole 32 MiB bank
    truncate -s 32M "$image" && flash="-drive if=pflash,format=raw,unit=0,file=$image"
  else
    flash="-device loader,file=$image,addr=$3,force-raw=on"
  fi
  status=0
  timeout 10 qemu-system-riscv32 -machine "$2" -bios none -nographic \
    -semihosting-config enable=on,target=native $flash \
    -device loader,file="$work/fill.bin",addr=0x80000000 </dev/null >"$work/$label.out" 2>&1 || status=$?
  if [ "$status" -eq 0 ] && grep -q ": pass$" "$work/$label.out"; then
    echo "PASS $label: $(cat "$work/$label.out")"
  else
    echo "FAIL $label: QEMU exited with $status: $(cat "$work/$label.out")"; exit 1
  fi
done || failures=1
[ "$failures" -eq 0 ] || exit 1
rm -rf "$work"
