#!/usr/bin/env python3
"""Plots of varpair's results, drawn with matplotlib; each reads its input as a stream, so tables of
10^8 lines plot in bounded memory. The image is PNG, or SVG when the output's name ends in .svg.

  plot.py distribution D.txt [-o D.png] [--cut 0.8]
      the LD distribution of -distribution D.txt: pairs per bin on a log axis, the cut-off marked
  plot.py ld OUT [-o OUT.png]
      the cross-table LD map of a text table (OUT) or of binary part files (OUT.meta): SNP1 across,
      SNP0 down, colour by value; large runs binned to at most 1000 x 1000 cells, each the maximum
  plot.py interaction OUT.txt [-o OUT.png] [--top 5] [--adjusted]
      the reported pairs of an interaction table: SNP0 by SNP1, colour by -log10 p, one panel per
      label (binned to at most 500 x 500 cells, each the strongest); the strongest pairs of each
      panel marked with their variant IDs when the table has them; --adjusted: the p-values of the
      covariate refit (a table of a run with -covar)
"""
import argparse
import heapq
import math
import os
import sys

try:
    import matplotlib
except ImportError:  # Debian's matplotlib belongs to the system's Python
    if os.path.exists("/usr/bin/python3") and os.path.realpath(sys.executable) != os.path.realpath("/usr/bin/python3"):
        os.execv("/usr/bin/python3", ["/usr/bin/python3"] + sys.argv)
    sys.exit("plot.py: matplotlib is missing (Debian: apt-get install python3-matplotlib)")
matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import read_parts  # noqa: E402

FIGSIZE, DPI = (10, 8), 100  # 1000 x 800 pixels


class WrongInput(Exception):
    pass


def first_line(path):
    try:
        with open(path, encoding="utf-8-sig") as f:
            return f.readline().rstrip("\n")
    except (OSError, UnicodeDecodeError) as e:
        raise WrongInput("cannot read %s: %s" % (path, e))


def save(figure, output):
    figure.savefig(output, format="svg" if output.endswith(".svg") else "png", dpi=DPI)
    plt.close(figure)
    print("wrote %s" % output)


def plot_distribution(path, output, cut):
    if first_line(path) != "Start\tEnd\tCount\tFrequency\tCumulative":
        raise WrongInput("%s is not an LD distribution file (-distribution)" % path)
    starts, counts, missing = [], [], 0
    with open(path, encoding="utf-8-sig") as f:
        next(f)
        for line in f:
            fields = line.split("\t")
            if fields[0] == "MISSING":
                missing = int(fields[2])
            else:
                starts.append(float(fields[0]))
                counts.append(int(fields[2]))
    figure, axes = plt.subplots(figsize=FIGSIZE)
    axes.bar(starts, [c if c > 0 else float("nan") for c in counts], width=0.001, align="edge", color="#33608c")
    axes.set_yscale("log")
    axes.axvline(cut, color="#c0392b", linestyle="--", label="cut-off %g" % cut)
    axes.set_xlabel("LD value (bins of 0.001)")
    axes.set_ylabel("pairs")
    axes.set_title("%s: %d pairs, %d without a value" % (os.path.basename(path), sum(counts) + missing, missing))
    axes.legend()
    save(figure, output)


def ld_cells(rows0, rows1):
    return min(rows0, 1000), min(rows1, 1000)


def table_rows(output_path):
    """The two tables' SNP counts: from the run log ("File0: R rows, ..."), else the largest SNPs of
    the table's pairs (a text table lists only the pairs at or above its cut-off)."""
    rows = {}
    try:
        with open(output_path + ".log", encoding="utf-8-sig", errors="replace") as log:
            for line in log:
                for label in ("File0: ", "File1: "):
                    if line.startswith(label) and " rows, " in line:
                        rows[label] = int(line[len(label):].split(" ")[0])
    except OSError:
        pass
    if len(rows) == 2:
        return rows["File0: "], rows["File1: "]
    rows0 = rows1 = 0
    with open(output_path, encoding="utf-8-sig") as f:
        next(f)
        for line in f:
            i, j = line.split("\t", 2)[:2]
            rows0, rows1 = max(rows0, int(i) + 1), max(rows1, int(j) + 1)
    return rows0, rows1


def plot_ld(output_path, output):
    if os.path.exists(output_path + ".meta"):
        try:
            rows0, rows1, parts = read_parts.check_parts(output_path)
        except read_parts.PartsError as e:
            raise WrongInput(str(e))
        cells0, cells1 = ld_cells(rows0, rows1)
        grid = [[float("nan")] * cells1 for _ in range(cells0)]
        for first, count, path in parts:
            for k, code in enumerate(read_parts.part_codes(path, count)):
                if code != 65535:
                    g = first + k
                    y, x = (g // rows1) * cells0 // rows0, (g % rows1) * cells1 // rows1
                    v = code / 1000
                    if not v <= grid[y][x]:
                        grid[y][x] = v
        measure = "value"
    else:
        header = first_line(output_path).split("\t")
        if header[:2] != ["SNP0", "SNP1"] or header[2] not in ("r2", "Dprime"):
            raise WrongInput("%s is not an LD text table or binary output" % output_path)
        measure = header[2]
        rows0, rows1 = table_rows(output_path)
        if rows0 == 0:
            raise WrongInput("%s holds no pairs to draw" % output_path)
        cells0, cells1 = ld_cells(rows0, rows1)
        grid = [[float("nan")] * cells1 for _ in range(cells0)]
        with open(output_path, encoding="utf-8-sig") as f:
            next(f)
            for line in f:
                fields = line.split("\t", 3)
                y, x, v = int(fields[0]) * cells0 // rows0, int(fields[1]) * cells1 // rows1, float(fields[2])
                if not v <= grid[y][x]:
                    grid[y][x] = v
    figure, axes = plt.subplots(figsize=FIGSIZE)
    image = axes.imshow(grid, aspect="auto", interpolation="nearest", cmap="viridis", vmin=0, vmax=1,
                        extent=(0, rows1, rows0, 0))
    figure.colorbar(image, ax=axes, label=measure + (" (maximum per cell)" if max(rows0, rows1) > 1000 else ""))
    axes.set_xlabel("SNP1 (-file1)")
    axes.set_ylabel("SNP0 (-file0)")
    axes.set_title("Cross-table LD: %s (%d x %d SNPs)" % (os.path.basename(output_path), rows0, rows1))
    save(figure, output)


def interaction_columns(path, adjusted):
    """Where a table's label (None: one panel, "BOOST"), SNPs and p-value are: the 2x2 models' tables
    (Genotype_Label or Model, SNP0, SNP1, ..., chi_pvalue, then adj_pvalue with -covar) or
    boost_interaction's (SNP0 SNP1 STAT DF P, then adj_P) or qt_interaction's (PHENO SNP0 SNP1 N ... P: a panel a
    trait)."""
    header = first_line(path).split("\t")
    if header[:1] in (["Genotype_Label"], ["Model"]) and header[1:3] == ["SNP0", "SNP1"]:
        at, p = (0, 1, 2), ("adj_pvalue" if adjusted else "chi_pvalue")
    elif header[:5] == ["SNP0", "SNP1", "STAT", "DF", "P"]:
        at, p = (None, 0, 1), ("adj_P" if adjusted else "P")
    elif header[:8] == ["PHENO", "SNP0", "SNP1", "N", "BETA_INT", "SE", "T_STAT", "P"]:
        if adjusted:
            raise WrongInput("%s: qt_interaction's P is adjusted for its covariates already; drop --adjusted" % path)
        at, p = (0, 1, 2), "P"
    else:
        raise WrongInput("%s is not an interaction result table" % path)
    if p not in header:
        raise WrongInput("%s has no adjusted p-values (a run without -covar)" % path)
    return at + (header.index(p), header)


def plot_interaction(path, output, top, adjusted=False):
    label_at, snp0_at, snp1_at, p_at, header = interaction_columns(path, adjusted)
    label_of = (lambda fields: "BOOST") if label_at is None else (lambda fields: fields[label_at])
    has_ids = header[-2:] == ["ID0", "ID1"]
    snps, labels = 0, []
    with open(path, encoding="utf-8-sig") as f:  # first pass: extent and labels
        next(f)
        for line in f:
            fields = line.split("\t", 3)
            snps = max(snps, int(fields[snp1_at]) + 1)
            if label_of(fields) not in labels:
                labels.append(label_of(fields))
    if not labels:
        raise WrongInput("%s holds no reported pairs to draw" % path)
    cells = min(snps, 500)
    grids = {label: {} for label in labels}
    strongest = {label: [] for label in labels}
    with open(path, encoding="utf-8-sig") as f:
        next(f)
        for line in f:
            fields = line.rstrip("\n").split("\t")
            label, i, j, p = label_of(fields), int(fields[snp0_at]), int(fields[snp1_at]), float(fields[p_at])
            score = -math.log10(p) if p > 0 else 320.0
            cell = (i * cells // snps, j * cells // snps)
            grid = grids[label]
            if score > grid.get(cell, -1):
                grid[cell] = score
            name = "%s x %s" % (fields[-2], fields[-1]) if has_ids else "%d x %d" % (i, j)
            heap = strongest[label]
            item = (score, i, j, name)
            if len(heap) < top:
                heapq.heappush(heap, item)
            elif item > heap[0]:
                heapq.heapreplace(heap, item)
    columns = min(3, len(labels))
    rows = (len(labels) + columns - 1) // columns
    figure, axes_grid = plt.subplots(rows, columns, figsize=FIGSIZE, squeeze=False)
    highest = max(max(g.values()) for g in grids.values())
    for n, label in enumerate(labels):
        axes = axes_grid[n // columns][n % columns]
        points = sorted(grids[label].items(), key=lambda kv: kv[1])
        xs = [(j + 0.5) * snps / cells for (i, j), _ in points]
        ys = [(i + 0.5) * snps / cells for (i, j), _ in points]
        dots = axes.scatter(xs, ys, c=[s for _, s in points], s=24 if len(points) < 200 else 6, cmap="plasma",
                            vmin=0, vmax=highest)
        for rank, (score, i, j, name) in enumerate(sorted(strongest[label], reverse=True)):
            right = j > snps / 2  # names of points on the right half stand to their left
            axes.annotate(name, (j, i), fontsize=6, xytext=(-4 if right else 4, 4 + 7 * (rank % 2)),
                          textcoords="offset points", ha="right" if right else "left")
        axes.set_xlim(-0.03 * snps, 1.03 * snps)
        axes.set_ylim(1.03 * snps, -0.03 * snps)
        axes.set_title(label, fontsize=9)
        axes.tick_params(labelsize=7)
    for n in range(len(labels), rows * columns):
        axes_grid[n // columns][n % columns].axis("off")
    figure.colorbar(dots, ax=axes_grid, label="-log10 p" + (" adjusted for the covariates" if adjusted else ""))
    figure.suptitle("%s: reported pairs, SNP0 down, SNP1 across" % os.path.basename(path))
    save(figure, output)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    sub = parser.add_subparsers(dest="kind", required=True)
    d = sub.add_parser("distribution", help="an LD distribution file")
    d.add_argument("input")
    d.add_argument("--cut", type=float, default=0.8, help="the cut-off to mark (0.8)")
    ld = sub.add_parser("ld", help="an LD text table or binary output (its -o)")
    ld.add_argument("input")
    i = sub.add_parser("interaction", help="an interaction result table")
    i.add_argument("input")
    i.add_argument("--top", type=int, default=5, help="strongest pairs of each panel to name (5)")
    i.add_argument("--adjusted", action="store_true", help="the covariate refit's p-values (a run with -covar)")
    for p in (d, ld, i):
        p.add_argument("-o", "--output", help="the image (default: the input's name with .png)")
    args = parser.parse_args()
    output = args.output or (args.input if args.kind != "distribution" else os.path.splitext(args.input)[0]) + ".png"
    try:
        if args.kind == "distribution":
            plot_distribution(args.input, output, args.cut)
        elif args.kind == "ld":
            plot_ld(args.input, output)
        else:
            plot_interaction(args.input, output, args.top, args.adjusted)
    except WrongInput as e:
        sys.exit("plot.py: %s" % e)


if __name__ == "__main__":
    main()
