#!/usr/bin/env python3
"""Writes a synthetic memory map and section placement for timing mkld.

    gen_sections.py SECTIONS SEGMENTS OUTDIR [--loops | --chain]

OUTDIR/memory-map.xml holds SEGMENTS memory segments (SEG0, SEG1, ...; even
ones read-only). OUTDIR/placement.xml spreads SECTIONS program sections over
them the way a large generated placement does:

- every section is loaded and aligned (4, 8 or 16);
- one section in 20 of an even segment runs in a run section of the next
  (odd) segment, which reserves its space (runin);
- each placement segment names an alternative that does not exist first
  ("NOPE;SEG3"), so the first-match rule is exercised;
- the last two sections of each segment have fixed sizes and the first of them
  asks to be placed from the segment end;
- every tenth section has a size, a fill or an address symbol.

With --loops the ordinary sections come from preprocessor `for` loops (with
$(i) macros) instead of being written out one by one; the script is the same
apart from the order and names of the sections.

With --chain (SEGMENTS is then ignored) all sections are one chain in SEG0
whose last section runs in a run section of SEG1, which is laid out first:
laying out the run section walks the whole chain from its end. Without it, the output for 100,000 sections
over 100 segments is about 6 MB of placement file.
"""
import os
import sys

RUN_EVERY = 20


def segment_start(index):
    return 0x10000000 + index * 0x01000000


def write_memory_map(path, segments):
    with open(path, "w", encoding="ascii", newline="\n") as out:
        out.write("<!DOCTYPE Board_Memory_Definition_File>\n")
        out.write('<Root name="Synthetic MCU">\n')
        for s in range(segments):
            access = "ReadOnly" if s % 2 == 0 else "ReadWrite"
            out.write(
                f'  <MemorySegment name="SEG{s}" start="0x{segment_start(s):08x}" '
                f'size="0x01000000" access="{access}" />\n'
            )
        out.write("</Root>\n")


def section_count(sections, segments, s):
    """Sections given to segment s: as even a split as the counts allow."""
    return sections // segments + (1 if s < sections % segments else 0)


def ordinary_section(name, i):
    alignment = (4, 8, 16)[i % 3]
    extra = ""
    if i % 10 == 3:
        extra = ' size="0x40"'
    elif i % 10 == 6:
        extra = ' fill="0xff"'
    elif i % 10 == 9:
        extra = f' address_symbol="{name[1:]}_at"'
    return f'<ProgramSection name="{name}" load="Yes" alignment="{alignment}"{extra} />'


def client_section(s, i):
    return (f'    <ProgramSection name=".c{s}_{i}" load="Yes" alignment="4" '
            f'runin=".r{s + 1}_{i}" />\n')


def run_section(s, i):
    return f'    <ProgramSection name=".r{s}_{i}" alignment="4" />\n'


def write_placement(path, sections, segments, loops):
    with open(path, "w", encoding="ascii", newline="\n") as out:
        out.write("<!DOCTYPE Linker_Placement_File>\n")
        out.write('<Root name="Synthetic placement">\n')
        out.write('  <define name="TAIL_SIZE" value="0x100" />\n')
        for s in range(segments):
            count = section_count(sections, segments, s)
            out.write(f'  <MemorySegment name="NOPE{s};SEG{s}">\n')
            body = max(count - 2, 0)
            # Clients in an even segment, their run sections at the same
            # places in the next (odd) segment: they replace ordinary sections.
            clients = range(0, body, RUN_EVERY) if s % 2 == 0 and s + 1 < segments else range(0)
            runs = range(0)
            if s % 2 == 1:
                runs = range(0, max(section_count(sections, segments, s - 1) - 2, 0), RUN_EVERY)
                runs = [i for i in runs if i < body]
            if loops:
                looped = body - len(clients) - len(runs)
                if looped > 0:
                    out.write(
                        f'    <for index="i" start="0" end="{looped}" incr="1">'
                        f'<ProgramSection name=".s{s}_$(i)" load="Yes" alignment="4" /></for>\n'
                    )
                for i in clients:
                    out.write(client_section(s, i))
                for i in runs:
                    out.write(run_section(s, i))
            else:
                clients, runs = set(clients), set(runs)
                for i in range(body):
                    if i in clients:
                        out.write(client_section(s, i))
                    elif i in runs:
                        out.write(run_section(s, i))
                    else:
                        out.write("    " + ordinary_section(f".s{s}_{i}", i) + "\n")
            if count >= 2:
                out.write(
                    f'    <ProgramSection name=".tail{s}" load="Yes" size="$(TAIL_SIZE)" '
                    f'place_from_segment_end="Yes" />\n'
                )
            if count >= 1:
                out.write(f'    <ProgramSection name=".last{s}" load="Yes" size="0x10" />\n')
            out.write("  </MemorySegment>\n")
        out.write("</Root>\n")


def write_chain(path, sections):
    with open(path, "w", encoding="ascii", newline="\n") as out:
        out.write('<Root name="Synthetic chain">\n  <MemorySegment name="SEG0">\n')
        for i in range(max(sections - 2, 0)):
            out.write(f'    <ProgramSection name=".s{i}" load="Yes" alignment="4" />\n')
        out.write('    <ProgramSection name=".last" load="Yes" runin=".run" />\n  </MemorySegment>\n')
        out.write('  <MemorySegment name="SEG1">\n    <ProgramSection name=".run" />\n  </MemorySegment>\n')
        out.write("</Root>\n")


def main(argv):
    args = [a for a in argv[1:] if not a.startswith("--")]
    loops = "--loops" in argv[1:]
    chain = "--chain" in argv[1:]
    if len(args) != 3:
        sys.stderr.write(__doc__)
        return 2
    sections, segments, outdir = int(args[0]), int(args[1]), args[2]
    if sections < 0 or segments < 1:
        sys.stderr.write("need SECTIONS >= 0 and SEGMENTS >= 1\n")
        return 2
    os.makedirs(outdir, exist_ok=True)
    if chain:
        write_memory_map(os.path.join(outdir, "memory-map.xml"), 2)
        write_chain(os.path.join(outdir, "placement.xml"), sections)
    else:
        write_memory_map(os.path.join(outdir, "memory-map.xml"), segments)
        write_placement(os.path.join(outdir, "placement.xml"), sections, segments, loops)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
