#!/bin/sh
# Runs mkld-report on the link-check program and compares what it prints
# with the linker's own section table (objdump -h of the same ELF).
#
# Usage: report_check.sh table|browser MKLD MKLD_REPORT SOURCE_DIR
#   table:   the table, the JSON, -limit and bad input
#   browser: the HTML page rendered by headless chromium
# Exits 77 (skipped) when the RISC-V toolchain, or for the browser check
# chromium, is not installed.
set -eu

mode=$1
mkld=$2
report=$3
source_dir=$4
here=$source_dir/tests/e2e/linkcheck
prefix=riscv64-unknown-elf-

need() {
  for tool in "$@"; do
    command -v "$tool" >/dev/null 2>&1 || { echo "SKIP: $tool is not installed"; exit 77; }
  done
}
need "${prefix}gcc" "${prefix}objdump" python3
[ "$mode" = browser ] && need chromium

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

"${prefix}gcc" -march=rv32imac -mabi=ilp32 -nostdlib -ffreestanding -O1 -c "$here/program.c" -o "$work/program.o"
"$mkld" -check-segment-overflow -symbols "STACK_SIZE=0x400" -memory-map-file "$here/memory-map.xml" \
  -section-placement-file "$here/placement.xml" "$work/program.ld"
"${prefix}gcc" -march=rv32imac -mabi=ilp32 -nostdlib -ffreestanding -T "$work/program.ld" "$work/program.o" \
  -o "$work/program.elf"
elf=$work/program.elf
set -- -memory-map-file "$here/memory-map.xml" -section-placement-file "$here/placement.xml" \
  -section-placement-macros STACK_SIZE=0x400

if [ "$mode" = browser ]; then
  # RAM over a 5% limit; FLASH (well under 90%) within budget.
  "$report" "$@" -limit RAM=5 -html "$work/report.html" "$elf" >/dev/null && fail "RAM=5 held"
  browse() {  # profile, width, height, arguments...
    profile=$work/profile-$1
    window=$2,$3
    shift 3
    chromium --headless --no-sandbox --disable-gpu --disable-quic --disable-background-networking \
      --disable-component-update --disable-sync --no-first-run --user-data-dir="$profile" --hide-scrollbars \
      --window-size="$window" "$@"
  }
  # The page measured in a frame of each size: the check appends what it
  # finds to the DOM (a headless window's own viewport is not the size asked).
  for size in 1280x800 390x844; do
    cat > "$work/measured-$size.html" <<HTML
<!DOCTYPE html><body style="margin: 0"><iframe id="page" src="report.html"
style="border: 0; width: ${size%x*}px; height: ${size#*x}px"></iframe><script>
var frame = document.getElementById("page");
frame.onload = function () {
  var w = frame.contentWindow, d = w.document, out = [];
  function seen(e) {
    var r = e.getBoundingClientRect();
    return r.height > 0 && r.top >= 0 && r.bottom <= w.innerHeight && r.left >= 0 && r.right <= w.innerWidth;
  }
  ["FLASH", "RAM"].forEach(function (name) {
    var bar = d.querySelector('.budget[data-segment="' + name + '"]');
    out.push(name + (bar && seen(bar) ? " on the first screen" : " NOT on the first screen"));
    if (bar) out.push(name + " " + bar.className + " " + w.getComputedStyle(bar).borderLeftColor);
  });
  var limit = d.querySelector('.budget[data-segment="RAM"] .limit');
  out.push(limit && limit.getBoundingClientRect().height > 0 ? "limit line in the bar" : "NO limit line in the bar");
  out.push(d.querySelector('.segment[data-segment="RAM"] .limit line') ? "limit line in the picture" : "NO line");
  out.push(d.documentElement.scrollWidth <= w.innerWidth ? "no page-wide scrolling" : "the page is too wide");
  out.push(d.querySelector(".picture").getBoundingClientRect().right <= w.innerWidth ? "the picture fits" : "cut off");
  document.body.insertAdjacentHTML("beforeend", "<pre id=measured>" + w.innerWidth + "x" + w.innerHeight + "\\n" +
                                   out.join("\\n") + "</pre>");
};
</script>
HTML
    browse "$size" 1400 1000 --allow-file-access-from-files --dump-dom "file://$work/measured-$size.html" \
      > "$work/dom-$size.html" 2>/dev/null
    sed -n '/<pre id="measured">/,/<\/pre>/p' "$work/dom-$size.html" > "$work/measured-$size.txt"
    for expected in "$size" "FLASH on the first screen" "RAM on the first screen" "FLASH budget ok rgb(46, 125, 50)" \
        "RAM budget over rgb(198, 40, 40)" "limit line in the bar" "limit line in the picture" \
        "no page-wide scrolling" "the picture fits"; do
      grep -qF "$expected" "$work/measured-$size.txt" || fail "$size: not \"$expected\": $(cat "$work/measured-$size.txt")"
    done
  done
  browse shot 1280 800 --screenshot="$work/report.png" "file://$work/report.html" >/dev/null 2>&1
  browse page 1280 800 --dump-dom "file://$work/report.html" > "$work/page.html" 2>/dev/null
  # Every allocated section is named on the page, in the drill-down and in
  # the table.
  for name in $("${prefix}objdump" -h "$elf" | awk '/^ *[0-9]+ / { n = $2; next } /ALLOC/ { print n }'); do
    grep -Eq "<tr id=\"[^\"]*\"><td>(<details><summary>)?$name<" "$work/page.html" || fail "$name not in the drill-down"
    grep -Eq "^ *$name " "$work/page.html" || fail "no table row of $name in the DOM"
  done
  grep -q "<path class=\"arrow\"" "$work/page.html" || fail "no arrow from a load image in the DOM"
  # .data's largest symbol, 64 words, is listed under it.
  grep -q "<tr><td>buffer</td><td class=\"a\">0x[0-9a-f]*</td><td class=\"n\">256 B<" "$work/page.html" ||
    fail "buffer is not among the symbols of .data"
  # Not blank: a rendered picture has many different byte values in its
  # pixel data, an empty page a handful.
  python3 - "$work/report.png" <<'PY' || fail "the screenshot is blank or not a PNG"
import sys, zlib
data = open(sys.argv[1], "rb").read()
assert data[:8] == b"\x89PNG\r\n\x1a\n"
pos, pixels = 8, b""
while pos < len(data):
    length = int.from_bytes(data[pos:pos + 4], "big")
    if data[pos + 4:pos + 8] == b"IDAT":
        pixels += data[pos + 8:pos + 8 + length]
    pos += 12 + length
assert len(set(zlib.decompress(pixels))) > 64
PY
  [ "$failures" -eq 0 ] || exit 1
  echo "the page renders with every name, its limit line and colours, FLASH and RAM on the first screen"
  exit 0
fi

# --- The table and the JSON against objdump -h -----------------------------
"$report" "$@" -json "$work/report.json" "$elf" > "$work/table.txt" || fail "mkld-report failed"
"${prefix}objdump" -h "$elf" > "$work/objdump.txt"
python3 - "$work/objdump.txt" "$work/table.txt" "$work/report.json" <<'PY' || fail "table or JSON disagree with objdump -h"
import json, re, sys
objdump, table, report = open(sys.argv[1]).read(), open(sys.argv[2]).read(), json.load(open(sys.argv[3]))
segments = {"FLASH": (0x08000000, 0x10000), "RAM": (0x20000000, 0x4000)}
reserved = {".data_run", ".heap", ".stack"}  # what the placement reserves
def segment_of(address):
    return next(n for n, (s, z) in segments.items() if s <= address < s + z)
sections = re.findall(r"^ *\d+ (\S+) +([0-9a-f]+) +([0-9a-f]+) +([0-9a-f]+) .*\n +(.*)$", objdump, re.M)
blocks = {n: [] for n in segments}
for name, size, vma, lma, flags in sections:
    if "ALLOC" not in flags:
        continue
    size, vma, lma, contents = int(size, 16), int(vma, 16), int(lma, 16), "CONTENTS" in flags
    kind = "reserved" if name in reserved else "run"
    load = f"0x{lma:08x}" if contents else "-"
    row = f"  {name} +{kind} +0x{vma:08x} +{load} +{size} +{segment_of(lma) if contents else '-'}\n"
    assert re.search(row, table), "no row " + row
    blocks[segment_of(vma)].append((vma, size, kind, name))
    if contents and lma != vma:
        row = f"  {name} +load image +0x{vma:08x} +0x{lma:08x} +{size} +{segment_of(lma)}\n"
        assert re.search(row, table), "no row " + row
        blocks[segment_of(lma)].append((lma, size, "load image", name))
for segment in report["segments"]:
    start, size = segments[segment["name"]]
    covered = {}
    for address, length, kind, name in blocks[segment["name"]]:
        assert {"section": name, "kind": kind, "size": length} in [
            {k: b[k] for k in ("section", "kind", "size")} for b in segment["blocks"]], name
        for byte in range(address, address + length):  # a run image wins over what overlaps it
            if covered.get(byte) != "run":
                covered[byte] = kind if kind != "reserved" or byte not in covered else covered[byte]
    counts = {k: sum(1 for v in covered.values() if v == k) for k in ("run", "load image", "reserved")}
    expected = (counts["run"], counts["load image"], counts["reserved"], size - len(covered))
    actual = (segment["run"], segment["load"], segment["reserved"], segment["free"])
    assert actual == expected, f"{segment['name']}: {actual} != {expected}"
    line = f"{segment['name']} +0x{start:08x} +{size} +{expected[0]} +{expected[1]} +{expected[2]} +{expected[3]} "
    assert re.search(line, table), "no summary line " + line
PY

# --- -limit, in bytes -------------------------------------------------------
used=$(python3 -c 'import json, sys; print(next(s["used"] for s in json.load(open(sys.argv[1]))["segments"] if s["name"] == "RAM"))' "$work/report.json")
if "$report" "$@" -limit FLASH=50 -limit RAM=10 "$elf" > /dev/null 2> "$work/limit.err"; then
  fail "a RAM limit of 10% held at $used bytes"
fi
expected=$(python3 -c 'import sys; u = int(sys.argv[1]); print(f"error: RAM uses {u:,} of 16,384 bytes ({100 * u / 16384:.1f}%), over its limit of 1,638 bytes (10%) by {u - 1638:,} bytes")' "$used")
[ "$(cat "$work/limit.err")" = "$expected" ] || fail "limit message: $(cat "$work/limit.err")"
"$report" "$@" -limit RAM=50 "$elf" > /dev/null || fail "a RAM limit of 50% failed at $used bytes"

# --- The files are written before the table: a reader may stop early ----------
"$report" "$@" -html "$work/early.html" -json "$work/early.json" "$elf" | head -1 > /dev/null
[ -s "$work/early.html" ] && [ -s "$work/early.json" ] || fail "files not written when the reader stopped early"

# --- Overflow: a table too big for FLASH, counted against FLASH, fails -------
printf '__attribute__((section(".text.big"))) const unsigned char big_table[100000] = {1};\n' > "$work/big.c"
"${prefix}gcc" -march=rv32imac -mabi=ilp32 -nostdlib -ffreestanding -O1 -g -c "$work/big.c" -o "$work/big.o"
"${prefix}ar" rc "$work/libbig.a" "$work/big.o"
"$mkld" -symbols "STACK_SIZE=0x400" -memory-map-file "$here/memory-map.xml" \
  -section-placement-file "$here/placement.xml" "$work/over.ld"
"${prefix}gcc" -march=rv32imac -mabi=ilp32 -nostdlib -ffreestanding -T "$work/over.ld" "$work/program.o" \
  -Wl,--whole-archive "$work/libbig.a" -Wl,--no-whole-archive -Wl,-Map="$work/over.map" -o "$work/over.elf"
status=0
"$report" "$@" -limit FLASH=100 -json "$work/over.json" -top 3 -map "$work/over.map" "$work/over.elf" \
  > "$work/over.txt" 2> "$work/over.err" || status=$?
[ "$status" -eq 1 ] || fail "an overflowing FLASH gave status $status"
"${prefix}objdump" -h "$work/over.elf" > "$work/over-objdump.txt"
"${prefix}nm" -S "$work/over.elf" > "$work/over-nm.txt"
"$report" "$@" -json "$work/over-dwarf.json" "$work/over.elf" > /dev/null 2>&1 || true
python3 - "$work/over-objdump.txt" "$work/over.json" "$work/over.err" "$work/over-nm.txt" \
  "$work/over.txt" "$work/over.map" "$work/over-dwarf.json" <<'PY' || fail "overflow, symbols or object files disagree with objdump, nm or the map file"
import json, re, sys
objdump, report, err, nm, table = (open(f).read() for f in sys.argv[1:6])
report = json.loads(report)
flash_end = 0x08000000 + 0x10000
# Bytes of FLASH-stored images past its end, each counted once.
past = set()
sections = re.findall(r"^ *\d+ (\S+) +([0-9a-f]+) +([0-9a-f]+) +([0-9a-f]+) .*\n +(.*)$", objdump, re.M)
for name, length, vma, lma, flags in sections:
    if "ALLOC" in flags and "CONTENTS" in flags and 0x08000000 <= int(lma, 16) < 0x09000000:
        past.update(range(max(int(lma, 16), flash_end), int(lma, 16) + int(length, 16)))
flash = next(s for s in report["segments"] if s["name"] == "FLASH")
assert flash["overflow"] == len(past), (flash["overflow"], len(past))
assert flash["usedPercent"] > 100 and report["outcome"] == "fail"
assert f"error: FLASH overflows by {len(past):,} bytes: it holds {flash['used']:,} of 65,536 bytes" in err, err
assert "error: FLASH uses" in err, err  # and its limit of 100% is broken too
# Every sized symbol nm lists in an allocated section, with its address and size.
symbols = {(s["name"], s["address"], s["size"]) for sec in report["sections"] for s in sec["symbols"]}
listed_symbols = {(n, int(a, 16), int(z, 16)) for a, z, t, n in re.findall(r"^([0-9a-f]+) ([0-9a-f]+) ([TtDdBbRr]) (\S+)$", nm, re.M)}
assert symbols == listed_symbols, (symbols ^ listed_symbols)
assert re.search(r"^  big_table +0x0800006c +100000 +", table, re.M), "big_table not the top symbol of .text"
# Per object file: the input sections the map file lists in allocated output sections.
listed = {}
for name, length, path in re.findall(r"^ (\.[^\s*]+)\s+0x[0-9a-f]+\s+0x([0-9a-f]+) (\S+)$",
                                     open(sys.argv[6]).read(), re.M):
    if not name.startswith((".debug", ".comment", ".riscv", ".note")):
        key = (re.sub(r"\(.*", "", path).rsplit("/", 1)[-1], re.sub(r".*\((.*)\)", r"\1", path).rsplit("/", 1)[-1])
        listed[key] = listed.get(key, 0) + int(length, 16)
objects = {}
for o in report["objects"]:
    key = ((o["library"] or o["object"]).rsplit("/", 1)[-1], o["object"].rsplit("/", 1)[-1])
    objects[key] = objects.get(key, 0) + o["size"]
assert objects == {k: v for k, v in listed.items() if v}, (objects, listed)
# From DWARF, without the map: big.c's one variable, as large as nm says.
dwarf = json.load(open(sys.argv[7]))
assert dwarf["objectSource"] == "dwarf" and [(o["object"].rsplit("/", 1)[-1], o["size"]) for o in dwarf["objects"]] \
    == [("big.c", next(z for n, a, z in listed_symbols if n == "big_table"))], dwarf["objects"]
PY

# --- -compare: two builds of the example, against objdump -h of both ---------
"$report" "$@" -compare "$work/report.json" -markdown "$work/compare.md" "$work/over.elf" > "$work/compare.txt" 2>/dev/null || true
grep -q "^| \`FLASH\` | 628 (1.0%) | " "$work/compare.md" || fail "no FLASH row in the Markdown: $(head -5 "$work/compare.md")"
python3 - "$work/objdump.txt" "$work/over-objdump.txt" "$work/compare.txt" <<'PY' || fail "-compare disagrees with objdump -h"
import re, sys
def sizes(text):
    return {n: int(z, 16) for n, z in re.findall(r"^ *\d+ (\S+) +([0-9a-f]+) .*\n +.*ALLOC", text, re.M)}
old, new, table = sizes(open(sys.argv[1]).read()), sizes(open(sys.argv[2]).read()), open(sys.argv[3]).read()
changed = {n for n in old.keys() | new.keys() if old.get(n) != new.get(n)}
assert changed, "the two builds do not differ"
for name in changed:
    delta = new.get(name, 0) - old.get(name, 0)
    assert re.search(rf"^  {re.escape(name)} .* {re.escape(f'{delta:+,}')}$", table, re.M), f"no row {name} {delta:+,}"
assert re.search(r"^  big_table +\.text +- +100,000 +\+100,000$", table, re.M), "no new symbol big_table"
PY

# --- Without the placement every section is a run image; one outside every
# segment is listed, not dropped ----------------------------------------------
"$report" -memory-map-segments "FLASH RX 0x08000000 0x10000" "$elf" > "$work/plain.txt"
grep -q "^outside every segment" "$work/plain.txt" || fail "no sections outside every segment"
grep -Eq "^  \.stack +run +0x20003c00 +- +1024 +-$" "$work/plain.txt" || fail ".stack not listed outside"
grep -q "reserved" "$work/plain.txt" && sed -n '/^FLASH (/,$p' "$work/plain.txt" | grep -q " reserved " &&
  fail "a reservation without a placement"

# --- Bad input: one error line, status 1, nothing on the standard output ----
# Cut short in the program headers, in the loaded bytes and in the section
# headers at the end; and with the section headers zeroed.
size=$(wc -c < "$elf")
head -c 300 "$elf" > "$work/cut300.elf"
head -c 3000 "$elf" > "$work/cut3000.elf"
head -c $((size - 200)) "$elf" > "$work/cutend.elf"
python3 - "$elf" "$work/zeroed.elf" <<'PY'
import struct, sys
data = bytearray(open(sys.argv[1], "rb").read())
offset, size, count = struct.unpack_from("<I", data, 0x20)[0], *struct.unpack_from("<HH", data, 0x2e)
data[offset:offset + size * count] = bytes(size * count)
open(sys.argv[2], "wb").write(data)
PY
damaged="is truncated or damaged:"
for case in "missing|$work/missing.elf|cannot open $work/missing.elf: No such file or directory" \
            "not ELF|$here/placement.xml|$here/placement.xml is not an ELF file" \
            "cut at 300|$work/cut300.elf|$work/cut300.elf $damaged the program header table (" \
            "cut at 3000|$work/cut3000.elf|$work/cut3000.elf $damaged program header 1 loads bytes past the end" \
            "cut 200 short|$work/cutend.elf|$work/cutend.elf $damaged the section header table (" \
            "zeroed section headers|$work/zeroed.elf|$work/zeroed.elf $damaged it loads bytes but has no allocated" \
            "other machine|$mkld|$mkld is an ELF file for another machine ("; do
  label=${case%%|*}
  rest=${case#*|}
  file=${rest%%|*}
  message=${rest#*|}
  status=0
  "$report" "$@" "$file" > "$work/bad.out" 2> "$work/bad.err" || status=$?
  [ "$status" -eq 1 ] || fail "$label: status $status"
  [ -s "$work/bad.out" ] && fail "$label: wrote to the standard output"
  case "$(cat "$work/bad.err")" in
    "error: $message"*) ;;
    *) fail "$label: $(cat "$work/bad.err")" ;;
  esac
done

[ "$failures" -eq 0 ] || { echo "$failures report check(s) failed"; exit 1; }
echo "all report checks passed"
