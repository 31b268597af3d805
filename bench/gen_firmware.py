#!/usr/bin/env python3
"""Writes and compiles a firmware-sized RV32 program for timing the link.

    gen_firmware.py OUTDIR [FILES [FUNCTIONS]]

OUTDIR/src/f<N>.c holds FUNCTIONS functions and as many initialised
variables (defaults: 200 files of 50 each); each is compiled once with
riscv64-unknown-elf-gcc for rv32imac, one section per function and
variable, into OUTDIR/obj/. OUTDIR/objects.txt lists the objects for the
link line. The code (about 150 KiB) and data (about 40 KiB) fit the bundled
example's 256 KiB of flash and 64 KiB of RAM.
"""
import os
import subprocess
import sys
from concurrent.futures import ThreadPoolExecutor

CC = "riscv64-unknown-elf-gcc"
CFLAGS = ["-march=rv32imac", "-mabi=ilp32", "-Os", "-ffunction-sections", "-fdata-sections",
          "-nostdlib", "-ffreestanding"]


def source(file_index, functions):
    lines = []
    for i in range(functions):
        lines.append(f"int v_{file_index}_{i} = {file_index * functions + i};")
        lines.append(f"int f_{file_index}_{i}(int x) {{ return x * {i + 3} + v_{file_index}_{i}; }}")
    if file_index == 0:
        lines.append("void _start(void) { for (;;) {} }")
    return "\n".join(lines) + "\n"


def compile_one(args):
    src, obj = args
    subprocess.run([CC, *CFLAGS, "-c", src, "-o", obj], check=True)
    return obj


def main(argv):
    if len(argv) < 2:
        sys.stderr.write(__doc__)
        return 2
    outdir = argv[1]
    files = int(argv[2]) if len(argv) > 2 else 200
    functions = int(argv[3]) if len(argv) > 3 else 50
    os.makedirs(os.path.join(outdir, "src"), exist_ok=True)
    os.makedirs(os.path.join(outdir, "obj"), exist_ok=True)
    jobs = []
    for n in range(files):
        src = os.path.join(outdir, "src", f"f{n}.c")
        obj = os.path.join(outdir, "obj", f"f{n}.o")
        text = source(n, functions)
        # Only changed sources are compiled again.
        if os.path.exists(src) and os.path.exists(obj):
            with open(src, encoding="ascii") as existing:
                if existing.read() == text:
                    continue
        with open(src, "w", encoding="ascii") as out:
            out.write(text)
        jobs.append((src, obj))
    with ThreadPoolExecutor(max_workers=2) as pool:
        list(pool.map(compile_one, jobs))
    with open(os.path.join(outdir, "objects.txt"), "w", encoding="ascii") as out:
        for n in range(files):
            out.write(os.path.join(outdir, "obj", f"f{n}.o") + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
