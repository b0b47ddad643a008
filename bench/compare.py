#!/usr/bin/env python3
"""Times two or more varpair builds side by side on the harness's data sets: each command of each size,
the builds one after another within each repeat, so that the machine's drift hits them alike. Prints a
table of medians and each build's time over the first one's.

Usage: bench/compare.py --sizes cc-2500-3k-m0,ld-1000-2k-m0 NAME=BINARY NAME=BINARY [...] [--repeats 3]
       [--commands "interChromLDr2,genotype_interaction"] [--save NAME]   (NAME: bench/results/DATE-NAME.md)
"""
import argparse
import datetime
import os
import re
import statistics
import sys
import tempfile

import bench


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("builds", nargs="+", help="NAME=BINARY, the first one the reference")
    parser.add_argument("--sizes", required=True)
    parser.add_argument("--repeats", type=int, default=3)
    parser.add_argument("--commands", default="", help="only these commands (the table's names)")
    parser.add_argument("--cache", default=os.path.join(bench.ROOT, "bench", "cache"))
    parser.add_argument("--save", help="also write the table to bench/results/DATE-SAVE.md")
    args = parser.parse_args()
    builds = []
    for b in args.builds:
        name, _, path = b.partition("=")
        if not path or not os.access(path, os.X_OK):
            sys.exit("not a NAME=BINARY of an executable: %s" % b)
        builds.append((name, os.path.abspath(path)))
    only = [c for c in args.commands.split(",") if c]
    sizes = [n for s in args.sizes.split(",") if s for n in bench.GROUPS.get(s, [s])]
    for s in sizes:
        if s not in bench.SIZES:
            sys.exit("unknown size %s" % s)
    names = [n for n, _ in builds]
    lines = ["| size | command | " + " | ".join("%s s" % n for n in names) + " | " +
             " | ".join("%s / %s" % (n, names[0]) for n in names[1:]) + " |",
             "|" + "---|" * (2 + 2 * len(names) - 1)]
    with tempfile.TemporaryDirectory() as work:
        for size in sizes:
            prefix = bench.ensure_data(size, args.cache)
            kind = bench.SIZES[size][0]
            for command, extra, label, _ in bench.COMMANDS[kind]:
                if only and label not in only:
                    continue
                walls = {n: [] for n in names}
                for _ in range(args.repeats):
                    for name, path in builds:
                        out = os.path.join(work, name + ".out")
                        wall, _, report = bench.run_timed(
                            [path, command] + bench.inputs_of(kind, prefix, False) + ["-o", out] + extra, work)
                        walls[name].append(wall)
                        bench.BACKENDS.update("%s: %s" % (name, line) for line in
                                              re.findall(r"^Device backend: (.*)$", report, re.M))
                median = {n: statistics.median(w) for n, w in walls.items()}
                lines.append("| %s | %s | %s | %s |" % (
                    size, label, " | ".join("%.2f" % median[n] for n in names),
                    " | ".join("%.2f" % (median[n] / max(median[names[0]], 0.01)) for n in names[1:])))
                print(lines[-1], flush=True)
    report = "\n".join([
        "Builds timed side by side, medians of %d runs (wall seconds of the whole run)." % args.repeats,
        "Machine: " + bench.machine(), "Backends: " + "; ".join(sorted(bench.BACKENDS)), ""] + lines)
    print()
    print(report)
    if args.save:
        path = os.path.join(bench.ROOT, "bench", "results",
                            datetime.datetime.now().strftime("%Y-%m-%d-%H%M") + "-" + args.save + ".md")
        with open(path, "w") as f:
            f.write("# Side by side: %s\n\n%s\n" % (", ".join(names), report))
        print("\nsaved to %s" % os.path.relpath(path, bench.ROOT))


if __name__ == "__main__":
    main()
