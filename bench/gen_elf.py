#!/usr/bin/env python3
"""Writes a linked RV32 ELF file of many sections for timing mkld-report.

    gen_elf.py SECTIONS SEGMENTS OUTPUT [SYMBOLS_PER_SECTION]

The sections lie in the segments of gen_sections.py's memory map (SEG0,
SEG1, ... at 0x10000000 + s * 0x01000000) and are named like the sections
of its placement, so that the report finds their intent there:

- even segments hold loaded sections ".s<s>_<i>" (16 to 64 bytes); one in 20
  is a client ".c<s>_<i>" stored there and run in the next segment, in the
  space of the run section ".r<s+1>_<i>";
- odd segments hold those run sections and ".s<s>_<i>" sections without
  contents.

Each stretch of stored bytes that runs where it is stored gets one PT_LOAD,
and each stored copy of a client its own, as a linker makes them. With
SYMBOLS_PER_SECTION, a symbol table gives each section that many global
objects of equal size (fewer when it is smaller), named after it.
"""
import struct
import sys

RUN_EVERY = 20


def segment_start(index):
    return 0x10000000 + index * 0x01000000


def layout(sections, segments):
    """(name, run address, load address, size, has contents) per section."""
    result = []
    per_segment = [sections // segments + (1 if s < sections % segments else 0) for s in range(segments)]
    for s in range(0, segments, 2):
        stored = segment_start(s)
        running = segment_start(s + 1) if s + 1 < segments else None
        for i in range(per_segment[s]):
            size = 16 + 16 * (i % 4)
            if running is not None and i % RUN_EVERY == 0:
                result.append((f".c{s}_{i}", running, stored, size, True))
                result.append((f".r{s + 1}_{i}", running, running, size, False))
                running += size
            else:
                result.append((f".s{s}_{i}", stored, stored, size, True))
            stored += size
        if s + 1 < segments:
            for i in range(per_segment[s + 1] - per_segment[s] // RUN_EVERY - 1):
                result.append((f".s{s + 1}_{i}", running, running, 32, False))
                running += 32
    return result[:sections]


def symbol_table(sections, per_section):
    """The .symtab and .strtab contents: per_section objects per section."""
    symbols, strings = bytearray(16), bytearray(b"\0")
    for index, (name, run, load, size, contents) in enumerate(sections, start=1):
        count = min(per_section, size)
        for k in range(count):
            symbols += struct.pack("<IIIBBH", len(strings), run + k * (size // count), size // count,
                                   0x11, 0, index)  # STB_GLOBAL, STT_OBJECT
            strings += f"{name[1:]}_obj{k}".encode() + b"\0"
    return symbols, strings


def write_elf(path, sections, per_section=0):
    header_size, program_header_size, section_header_size = 52, 32, 40
    names = bytearray(b"\0.shstrtab\0.symtab\0.strtab\0")
    name_offsets = []
    for name, *_ in sections:
        name_offsets.append(len(names))
        names += name.encode() + b"\0"
    # Program headers: a stretch of sections stored where they run, or one
    # stored copy of a client.
    loads = []  # [run address, load address, offset, size]
    offset = 0
    offsets = []
    for name, run, load, size, contents in sections:
        offsets.append(offset if contents else 0)
        if not contents:
            continue
        last = loads[-1] if loads else None
        if run == load and last and last[0] == last[1] and last[0] + last[3] == run:
            last[3] += size
        else:
            loads.append([run, load, offset, size])
        offset += size
    data_start = header_size + program_header_size * len(loads)
    contents_size = offset
    names_offset = data_start + contents_size
    symbols, strings = symbol_table(sections, per_section) if per_section else (b"", b"")
    symbols_offset = names_offset + len(names)
    symbols_offset += (-symbols_offset) % 4
    strings_offset = symbols_offset + len(symbols)
    section_headers = strings_offset + len(strings)
    section_headers += (-section_headers) % 4
    # The null section and .shstrtab around them; .symtab and .strtab after.
    count = len(sections) + 2 + (2 if per_section else 0)
    # More than 65,279 sections: the counts move into section 0 (extended numbering).
    extended = count >= 0xff00
    with open(path, "wb") as out:
        out.write(b"\x7fELF" + bytes([1, 1, 1]) + bytes(9))
        out.write(struct.pack("<HHIIIIIHHHHHH", 2, 243, 1, segment_start(0), header_size, section_headers, 0,
                              header_size, program_header_size, len(loads), section_header_size,
                              0 if extended else count, 0xffff if extended else len(sections) + 1))
        for run, load, at, size in loads:
            out.write(struct.pack("<IIIIIIII", 1, data_start + at, run, load, size, size, 5, 4))
        out.write(bytes(contents_size))
        out.write(names)
        out.write(bytes(symbols_offset - names_offset - len(names)))
        out.write(symbols)
        out.write(strings)
        out.write(bytes(section_headers - strings_offset - len(strings)))
        out.write(struct.pack("<IIIIIIIIII", 0, 0, 0, 0, 0, count if extended else 0,
                              len(sections) + 1 if extended else 0, 0, 0, 0))
        for (name, run, load, size, contents), name_offset, at in zip(sections, name_offsets, offsets):
            out.write(struct.pack("<IIIIIIIIII", name_offset, 1 if contents else 8, 2 | 4, run,
                                  data_start + at if contents else data_start + contents_size, size, 0, 0, 4, 0))
        out.write(struct.pack("<IIIIIIIIII", 1, 3, 0, 0, names_offset, len(names), 0, 0, 1, 0))
        if per_section:
            strtab = len(sections) + 3
            out.write(struct.pack("<IIIIIIIIII", 11, 2, 0, 0, symbols_offset, len(symbols), strtab, 1, 4, 16))
            out.write(struct.pack("<IIIIIIIIII", 19, 3, 0, 0, strings_offset, len(strings), 0, 0, 1, 0))


def main(argv):
    if len(argv) not in (4, 5):
        sys.stderr.write(__doc__)
        return 2
    write_elf(argv[3], layout(int(argv[1]), int(argv[2])), int(argv[4]) if len(argv) == 5 else 0)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
