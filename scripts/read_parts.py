#!/usr/bin/env python3
"""Decodes the binary output of an LD run (-r2_cut 0 or -dprime_cut 0) back into a table.

Usage: scripts/read_parts.py OUTPUT [--min VALUE] > table.tsv

OUTPUT is the -o path of the run: the run wrote OUTPUT.meta (row counts of -file0 and -file1, the
parts directory and the run's identifier) and OUTPUT_parts/part_N.bin with OUTPUT_parts/run.id. Each
part file holds a little-endian 64-bit index of its first pair, a 64-bit pair count, and one 16-bit
code per pair: the value in thousandths (0 to 1000), or 65535 when the pair has no value. Pair g is
SNP g // rows1 of -file0 against SNP g % rows1 of -file1. Prints "SNP0<TAB>SNP1<TAB>value" lines in
pair order, the value with three decimals or NA; --min keeps the pairs whose value is at least VALUE.

When the run's inputs carried variant IDs (a PLINK fileset or VCF), the run also wrote OUTPUT.ids0
and OUTPUT.ids1, one ID a line, and the table gains the columns ID0 and ID1.

The parts are looked for beside the metadata file. Before printing anything the reader checks that
they belong to the run the metadata describes and cover its rows0 x rows1 pairs exactly once; if not
it says why on standard error and exits with status 1.
"""
import argparse
import array
import os
import re
import sys


class PartsError(Exception):
    pass


def read_metadata(output):
    path = output + ".meta"
    try:
        with open(path, encoding="utf-8-sig") as f:
            lines = f.read().splitlines()
    except OSError as e:
        raise PartsError("cannot read %s: %s" % (path, e.strerror))
    try:
        rows0, rows1 = int(lines[0]), int(lines[1])
        recorded = lines[2]
    except (IndexError, ValueError):
        raise PartsError("%s is not the metadata of a binary run" % path)
    run = lines[3][4:] if len(lines) > 3 and lines[3].startswith("run ") else None
    # A shard's metadata (-parallel) says which pairs it holds; a whole run's holds them all.
    pairs = (0, rows0 * rows1)
    if len(lines) > 4 and lines[4].startswith("pairs "):
        pairs = tuple(int(v) for v in lines[4].split()[1:3])
    # The directory sits beside the metadata file, wherever the run was started from.
    directory = os.path.join(os.path.dirname(path), os.path.basename(os.path.normpath(recorded)))
    return rows0, rows1, directory, run, pairs


def part_files(directory):
    numbered = []
    for name in os.listdir(directory):
        m = re.fullmatch(r"part_(\d+)\.bin", name)
        if m:
            numbered.append((int(m.group(1)), os.path.join(directory, name)))
    return [path for _, path in sorted(numbered)]


def check_parts(output):
    """The metadata and the (first pair, count, path) of each part, after every check."""
    rows0, rows1, directory, run, (first_pair, end_pair) = read_metadata(output)
    if not os.path.isdir(directory):
        raise PartsError("the parts directory %s is missing" % directory)
    id_path = os.path.join(directory, "run.id")
    parts_run = None
    if os.path.exists(id_path):
        with open(id_path) as f:
            parts_run = f.read().strip()
    if run != parts_run:
        raise PartsError("%s belongs to another run than %s.meta (run %s, metadata run %s)" %
                         (directory, output, parts_run or "unknown", run or "unknown"))
    parts = []
    for path in part_files(directory):
        size = os.path.getsize(path)
        with open(path, "rb") as f:
            header = f.read(16)
        if len(header) < 16:
            raise PartsError("%s is cut short" % path)
        first, count = int.from_bytes(header[:8], "little"), int.from_bytes(header[8:], "little")
        if size != 16 + 2 * count:
            raise PartsError("%s holds %d bytes, not the %d of its %d pairs" % (path, size, 16 + 2 * count, count))
        parts.append((first, count, path))
    parts.sort()
    expected = first_pair
    for first, count, path in parts:
        if first != expected:
            raise PartsError("pairs %d to %d are %s (at %s)" % (
                min(first, expected), max(first, expected) - 1, "missing" if first > expected else "repeated", path))
        expected = first + count
    if expected != end_pair:
        raise PartsError("the parts hold %d pairs, not the %d of the run (%d x %d rows)" %
                         (expected - first_pair, end_pair - first_pair, rows0, rows1))
    return rows0, rows1, parts


def read_ids(output, rows0, rows1):
    """The two ID lists, or None when the run wrote none."""
    paths = (output + ".ids0", output + ".ids1")
    if not all(os.path.exists(p) for p in paths):
        return None
    lists = []
    for path, rows in zip(paths, (rows0, rows1)):
        with open(path, encoding="utf-8") as f:
            ids = f.read().splitlines()
        if len(ids) != rows:
            raise PartsError("%s holds %d IDs, not the %d of the run" % (path, len(ids), rows))
        lists.append(ids)
    return lists


def part_codes(path, count):
    """The 16-bit codes of one part file, in pair order."""
    codes = array.array("H")
    with open(path, "rb") as f:
        f.seek(16)
        codes.fromfile(f, count)
    if sys.byteorder == "big":
        codes.byteswap()
    return codes


def decode(output, minimum=None, out=sys.stdout):
    rows0, rows1, parts = check_parts(output)
    ids = read_ids(output, rows0, rows1)
    out.write("SNP0\tSNP1\tvalue" + ("\tID0\tID1" if ids else "") + "\n")
    for first, count, path in parts:
        codes = part_codes(path, count)
        lines = []
        for k, code in enumerate(codes):
            g = first + k
            if code == 65535:
                if minimum is not None:
                    continue
                value = "NA"
            elif minimum is None or code / 1000 >= minimum:
                value = "%.3f" % (code / 1000)
            else:
                continue
            i, j = g // rows1, g % rows1
            lines.append("%d\t%d\t%s\t%s\t%s\n" % (i, j, value, ids[0][i], ids[1][j]) if ids else
                         "%d\t%d\t%s\n" % (i, j, value))
        out.write("".join(lines))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("output", help="the -o path of the binary run")
    parser.add_argument("--min", type=float, default=None, help="keep values at or above this")
    args = parser.parse_args()
    try:
        decode(args.output, args.min)
    except PartsError as e:
        sys.exit("read_parts.py: %s" % e)
    except BrokenPipeError:
        sys.stderr.close()


if __name__ == "__main__":
    main()
