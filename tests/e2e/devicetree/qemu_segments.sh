#!/bin/sh
# QEMU's riscv32 virt and spike boards, judged by QEMU itself: the devicetree
# each board dumps gives, through mkld -memory-map-dtb, exactly the RAM and
# flash regions of the board's own memory tree ("info mtree -f": ram and
# romd), with flash read-only and RAM writable. The boot ROM (mrom) is
# QEMU's reset code and not in the devicetree, so it is left out.
#
# Usage: qemu_segments.sh MKLD WORK_DIR
# Exits 77 (skipped) only when QEMU is not installed.
set -eu

mkld=$1
work=$2
if ! command -v qemu-system-riscv32 >/dev/null 2>&1; then
  echo "SKIP: qemu-system-riscv32 is not installed"
  exit 77
fi
rm -rf "$work"
mkdir -p "$work"
failures=0

for machine in virt spike; do
  qemu-system-riscv32 -machine "$machine,dumpdtb=$work/$machine.dtb" -bios none -nographic \
    > "$work/$machine.dump.log" 2>&1 || true
  # "start-end (prio 0, ram|romd): name": start, end and access, in address order.
  (echo "info mtree -f"; sleep 1; echo quit) |
    timeout 20 qemu-system-riscv32 -machine "$machine" -bios none -S -nographic -monitor stdio -serial none \
      2>&1 | tr -d '\r' | sed -n 's/^ *\([0-9a-f]*\)-\([0-9a-f]*\) (prio [0-9]*, \(ram\|romd\)).*/\1 \2 \3/p' |
    sort -u | while read -r first last kind; do
      access=rx
      [ "$kind" = ram ] && access=wx
      printf '%x %x %s\n' "$((0x$first))" "$((0x$last + 1))" "$access"
    done > "$work/$machine.qemu"
  if ! "$mkld" -memory-map-dtb "$work/$machine.dtb" "$work/$machine.ld" > "$work/$machine.log" 2>&1; then
    echo "FAIL: $machine: mkld failed: $(cat "$work/$machine.log")"
    failures=$((failures + 1))
    continue
  fi
  sed -n 's/^  \([A-Za-z0-9_]*\) (\([a-z]*\)) : ORIGIN = \(0x[0-9a-f]*\), LENGTH = \(0x[0-9a-f]*\)$/\1 \2 \3 \4/p' \
    "$work/$machine.ld" | grep -v '^UNPLACED_SECTIONS ' | while read -r name access origin length; do
      printf '%x %x %s\n' "$((origin))" "$((origin + length))" "$access"
    done > "$work/$machine.mkld"
  if [ ! -s "$work/$machine.qemu" ] || ! cmp -s "$work/$machine.qemu" "$work/$machine.mkld"; then
    echo "FAIL: $machine: QEMU's regions (start end access):"
    cat "$work/$machine.qemu"
    echo "mkld's segments:"
    cat "$work/$machine.mkld"
    failures=$((failures + 1))
  fi
done

[ "$failures" -eq 0 ] || exit 1
rm -rf "$work"
echo "virt and spike: the devicetree gives QEMU's own memory regions"
