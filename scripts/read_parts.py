#!/usr/bin/env python3
"""Decodes the binary output of an LD run (-r2_cut 0 or -dprime_cut 0) back into a table.

Usage: scripts/read_parts.py OUTPUT [--min VALUE] > table.tsv

OUTPUT is the -o path of the run: the run wrote OUTPUT.meta (row counts of -file0 and -file1 and
the parts directory) and OUTPUT_parts/part_N.bin. Each part file holds a little-endian 64-bit
index of its first pair, a 64-bit pair count, and one 16-bit code per pair: the value in
thousandths (0 to 1000), or 65535 when the pair has no value. Pair g is SNP g // rows1 of -file0
against SNP g % rows1 of -file1. Prints "SNP0<TAB>SNP1<TAB>value" lines in pair order, the value
with three decimals or NA; --min keeps the pairs whose value is at least VALUE.
"""
import argparse
import os
import re
import struct
import sys


def read_metadata(output):
    with open(output + ".meta", encoding="utf-8-sig") as f:
        lines = f.read().splitlines()
    return int(lines[0]), int(lines[1]), lines[2]


def part_files(directory):
    numbered = []
    for name in os.listdir(directory):
        m = re.fullmatch(r"part_(\d+)\.bin", name)
        if m:
            numbered.append((int(m.group(1)), os.path.join(directory, name)))
    return [path for _, path in sorted(numbered)]


def decode(output, minimum=None, out=sys.stdout):
    rows0, rows1, directory = read_metadata(output)
    out.write("SNP0\tSNP1\tvalue\n")
    for path in part_files(directory):
        with open(path, "rb") as f:
            first, count = struct.unpack("<QQ", f.read(16))
            codes = struct.unpack("<%dH" % count, f.read(2 * count))
        for k, code in enumerate(codes):
            g = first + k
            if g >= rows0 * rows1:
                raise ValueError("%s: pair %d is beyond %d x %d" % (path, g, rows0, rows1))
            if code == 65535:
                if minimum is None:
                    out.write("%d\t%d\tNA\n" % (g // rows1, g % rows1))
            elif minimum is None or code / 1000 >= minimum:
                out.write("%d\t%d\t%.3f\n" % (g // rows1, g % rows1, code / 1000))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("output", help="the -o path of the binary run")
    parser.add_argument("--min", type=float, default=None, help="keep values at or above this")
    args = parser.parse_args()
    decode(args.output, args.min)


if __name__ == "__main__":
    main()
