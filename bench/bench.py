#!/usr/bin/env python3
"""The benchmark harness: generates data sets of named sizes (cached), runs every varpair command on
them with the host backend, and prints pairs per second, wall time, peak memory and the table-load
rate, with medians over repeated runs. Each size's first command also loads the same genotypes from
the PLINK fileset, and the table gives that load rate and its ratio to the text tables' (time for
time, the same genotypes). With --peer it also runs PLINK 1.9 (Debian's plink1.9,
installed on request) on the same genotypes and threads, and prints the ratio of the two rates.

Usage: bench/bench.py [--sizes ld-2k,ld-5k,cc-5k,cc-20k] [--repeats 3] [--peer] [--save] [--varpair BIN]
       bench/bench.py --sizes grid --peer --save   (every size of the grid: grid-cc and grid-ld halves)
"""
import argparse
import datetime
import os
import platform
import re
import shutil
import statistics
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
VARPAIR = os.path.join(ROOT, "build", "src", "varpair")
SIMULATE = os.path.join(ROOT, "build", "bench", "varpair-simulate")

# name: (kind, simulator arguments, varpair's pairs)
SIZES = {
    "ld-2k": ("ld", ["--rows0", "2000", "--rows1", "2000", "--samples", "5000"], 2000 * 2000),
    "ld-5k": ("ld", ["--rows0", "5000", "--rows1", "5000", "--samples", "1000"], 5000 * 5000),
    "cc-5k": ("cc", ["--snps", "5000", "--cases", "2500", "--controls", "2500"], 5000 * 4999 // 2),
    "cc-20k": ("cc", ["--snps", "20000", "--cases", "2500", "--controls", "2500"], 20000 * 19999 // 2),
    # Small sizes for a quick look and for the harness's own check.
    "ld-small": ("ld", ["--rows0", "300", "--rows1", "200", "--samples", "500"], 300 * 200),
    "cc-small": ("cc", ["--snps", "400", "--cases", "250", "--controls", "250"], 400 * 399 // 2),
}

# The grid: sizes nobody tuned for, each with no missing calls and with 2 % (m0, m2). Interaction:
# samples a side x SNPs; LD: samples x (rows0 = rows1). Each run stays under a minute here.
GRID_CC = [(1000, 3000), (1000, 20000), (1500, 8000), (2500, 3000), (2500, 8000), (5000, 3000), (5000, 8000),
           (10000, 3000), (10000, 5000)]
GRID_LD = [(1000, 2000), (1000, 5000), (2000, 2000), (2000, 5000), (5000, 2000), (5000, 5000), (10000, 2000),
           (10000, 5000)]
GRID = []
for _missing, _tag in (("0", "m0"), ("0.02", "m2")):
    for _samples, _snps in GRID_CC:
        _name = "cc-%d-%dk-%s" % (_samples, _snps // 1000, _tag)
        SIZES[_name] = ("cc", ["--snps", str(_snps), "--cases", str(_samples), "--controls", str(_samples),
                               "--missing", _missing], _snps * (_snps - 1) // 2)
        GRID.append(_name)
    for _samples, _rows in GRID_LD:
        _name = "ld-%d-%dk-%s" % (_samples, _rows // 1000, _tag)
        SIZES[_name] = ("ld", ["--rows0", str(_rows), "--rows1", str(_rows), "--samples", str(_samples),
                               "--missing", _missing], _rows * _rows)
        GRID.append(_name)
GROUPS = {"grid": GRID, "grid-cc": [n for n in GRID if n.startswith("cc-")],
          "grid-ld": [n for n in GRID if n.startswith("ld-")]}

# (command, arguments, what the table calls it, the least ratio to the peer it must reach). LD with a
# distribution or as binary parts computes every value, which text tables need not.
COMMANDS = {
    "ld": [("interChromLDr2", ["-r2_cut", "0.8"], "interChromLDr2", 3.0),
           ("interChromLDdprime", ["-dprime_cut", "0.8"], "interChromLDdprime", 3.0),
           ("interChromLDr2", ["-r2_cut", "0.8", "-distribution", "distribution.txt"], "interChromLDr2 -distribution",
            2.0),
           ("interChromLDdprime", ["-dprime_cut", "0"], "interChromLDdprime binary", 2.0),
           # The maximum-likelihood estimate, the peer's own.
           ("interChromLDr2", ["-r2_cut", "0.8", "-estimate", "ml"], "interChromLDr2 ml", 3.0),
           ("interChromLDdprime", ["-dprime_cut", "0.8", "-estimate", "ml"], "interChromLDdprime ml", 3.0),
           ("interChromLDdprime", ["-dprime_cut", "0", "-estimate", "ml"], "interChromLDdprime ml binary", 2.0)],
    "cc": [("genotype_interaction", [], "genotype_interaction", 3.0), ("mdr_interaction", [], "mdr_interaction", 3.0),
           ("domrec_interaction", [], "domrec_interaction", 3.0),
           # The same statistic as the peer's, at the peer's cut-off (PEER_EPI1).
           ("boost_interaction", ["-alpha_cut", "0.0001"], "boost_interaction", 3.0)],
}
PEER_EPI1 = "0.0001"
BACKENDS = set()  # the backend lines of varpair's runs: the vector target they ran on


def run_timed(argv, cwd):
    """Runs a command under GNU time; returns (wall seconds, peak resident MB, stdout)."""
    with tempfile.NamedTemporaryFile("r", suffix=".time") as t:
        result = subprocess.run(["/usr/bin/time", "-f", "%e %M", "-o", t.name] + argv, cwd=cwd,
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        if result.returncode != 0:
            sys.exit("failed (%d): %s\n%s" % (result.returncode, " ".join(argv), result.stdout[-2000:]))
        wall, peak_kb = t.read().split()[-2:]
    return float(wall), int(peak_kb) / 1024.0, result.stdout


def ensure_built():
    subprocess.run([os.path.join(ROOT, "scripts", "build.sh")], check=True, stdout=subprocess.DEVNULL)


def ensure_data(name, cache):
    kind, args, _ = SIZES[name]
    prefix = os.path.join(cache, name)
    first = prefix + (".file0.txt" if kind == "ld" else ".cases.txt")
    # A1 (the counted allele) in the .bim's fifth column: filesets written before that are remade.
    stale = os.path.exists(prefix + ".bim") and open(prefix + ".bim").readline().split()[4:5] != ["G"]
    if not os.path.exists(first) or not os.path.exists(prefix + ".bed") or stale:
        os.makedirs(cache, exist_ok=True)
        print("generating %s ..." % name, flush=True)
        missing = [] if "--missing" in args else ["--missing", "0.002"]
        subprocess.run([SIMULATE, kind] + args + ["--seed", "11"] + missing + ["--out", prefix, "--plink"],
                       check=True, stdout=subprocess.DEVNULL)
    return prefix


def ensure_peer():
    if shutil.which("plink1.9"):
        return "plink1.9"
    print("installing plink1.9 from Debian ...", flush=True)
    sudo = [] if os.geteuid() == 0 else ["sudo"]
    subprocess.run(sudo + ["apt-get", "install", "-y", "-qq", "plink1.9"], check=True, stdout=subprocess.DEVNULL)
    return "plink1.9"


def load_seconds(kind, output):
    """Seconds the run spent loading its tables, from its own report."""
    if kind == "ld":
        m = re.search(r"Data loaded and transferred to GPU in ([0-9.e+-]+) seconds", output)
    else:
        m = re.search(r"File reading time: ([0-9.e+-]+) seconds", output)
    return float(m.group(1)) if m else 0.0


def text_files(kind, prefix):
    return [prefix + ".file0.txt", prefix + ".file1.txt"] if kind == "ld" else [prefix + ".cases.txt",
                                                                                 prefix + ".controls.txt"]


def inputs_of(kind, prefix, fileset):
    if fileset:
        bed = prefix + ".bed"
        return ["-file0", bed, "-chr0", "1", "-file1", bed, "-chr1", "2"] if kind == "ld" else ["-file0", bed]
    files = text_files(kind, prefix)
    return ["-file0", files[0], "-file1", files[1]]


def rate(megabytes, seconds):
    return megabytes / seconds if seconds > 0 else float("inf")


def same_columns(a, b, columns):
    """Whether two tables agree in their first columns (the fileset's also name the variants)."""
    with open(a, encoding="utf-8-sig") as fa, open(b, encoding="utf-8-sig") as fb:
        for la, lb in zip(fa, fb):
            if la.rstrip("\n").split("\t")[:columns] != lb.rstrip("\n").split("\t")[:columns]:
                return False
        return fa.read(1) == fb.read(1)


def bench_varpair(name, prefix, repeats, work):
    kind, _, pairs = SIZES[name]
    rows = []
    text_mb = sum(os.path.getsize(f) for f in text_files(kind, prefix)) / 1e6
    bed_mb = sum(os.path.getsize(prefix + e) for e in (".bed", ".bim", ".fam")) / 1e6
    for index, (command, extra, label, target) in enumerate(COMMANDS[kind]):
        walls, peaks, loads = [], [], []
        out = os.path.join(work, "%s-%d.txt" % (command, index))
        for _ in range(repeats):
            wall, peak, report = run_timed([VARPAIR, command] + inputs_of(kind, prefix, False) + ["-o", out] + extra,
                                           work)
            walls.append(wall)
            peaks.append(peak)
            loads.append(load_seconds(kind, report))
            BACKENDS.update(re.findall(r"^Device backend: (.*)$", report, re.M))
        wall = statistics.median(walls)
        # GNU time counts in hundredths: a quicker run counts as 10 ms.
        row = {"size": name, "command": label, "pairs": pairs, "wall": wall, "rate": pairs / max(wall, 0.01),
               "peak": max(peaks), "load": rate(text_mb, statistics.median(loads)), "target": target}
        if index == 0:  # the same genotypes from the fileset: load time, and the same results
            bed_loads = []
            bed_out = os.path.join(work, command + ".bed.txt")
            for _ in range(repeats):
                _, _, report = run_timed([VARPAIR, command] + inputs_of(kind, prefix, True) + ["-o", bed_out] + extra,
                                         work)
                bed_loads.append(load_seconds(kind, report))
            if not same_columns(out, bed_out, 3 if kind == "ld" else 12):
                sys.exit("%s on %s: the fileset gave other results than the text tables" % (command, name))
            row["bed_load"] = rate(bed_mb, statistics.median(bed_loads))
            if statistics.median(bed_loads) > 0:  # too small to time otherwise
                row["bed_ratio"] = statistics.median(loads) / statistics.median(bed_loads)
        rows.append(row)
    return rows


def bench_peer(name, prefix, repeats, threads, work):
    kind, _, pairs = SIZES[name]
    peer = ensure_peer()
    if kind == "ld":
        what = ["--keep-allele-order", "--r2", "inter-chr", "dprime", "--ld-window-r2", "0.8"]
    else:
        what = ["--keep-allele-order", "--fast-epistasis", "boost", "--epi1", PEER_EPI1]
    walls = []
    for _ in range(repeats):
        wall, _, _ = run_timed([peer, "--bfile", prefix, "--threads", str(threads), "--allow-no-sex"] + what +
                               ["--out", os.path.join(work, "peer")], work)
        walls.append(wall)
    wall = statistics.median(walls)
    result = {"wall": wall, "rate": pairs / max(wall, 0.01)}
    if kind == "ld":
        labels = [c[2] for c in COMMANDS["ld"]]
        result["check"] = check_ld(os.path.join(work, "interChromLDr2-%d.txt" % labels.index("interChromLDr2 ml")),
                                   os.path.join(work, "interChromLDdprime-%d.txt" % labels.index("interChromLDdprime ml")),
                                   os.path.join(work, "peer.ld"))
    if kind == "cc":
        index = [c[0] for c in COMMANDS["cc"]].index("boost_interaction")
        result["check"] = check_boost(os.path.join(work, "boost_interaction-%d.txt" % index),
                                      os.path.join(work, "peer.epi.cc"))
    return result


def check_ld(r2_path, dprime_path, peer_path):
    """-estimate ml's text tables (cut-off 0.8) against the peer's cross pairs of r2 >= 0.8: every value
    within 1e-5 of the peer's, and a pair on one side only within 1e-5 of the cut-off. Returns "N equal";
    stops the harness on a difference."""
    def ours(path):
        with open(path, encoding="utf-8-sig") as f:
            return {(int(r[0]), int(r[1])): float(r[2]) for r in (line.split("\t") for line in list(f)[1:])}
    r2, dprime = ours(r2_path), ours(dprime_path)
    peer = {}
    with open(peer_path) as f:
        for r in (line.split() for line in list(f)[1:]):
            if r[0] == "1" and r[3] == "2":
                peer[(int(r[2].split("snp")[1]), int(r[5].split("snp")[1]))] = (float(r[6]), float(r[7]))
    wrong = [k for k, (v, _) in peer.items() if (k in r2 and abs(r2[k] - v) > 1e-5) or (k not in r2 and v >= 0.8 + 1e-5)]
    wrong += [k for k, v in r2.items() if k not in peer and v >= 0.8 + 1e-5]
    wrong += [k for k, (_, d) in peer.items() if (k in dprime and abs(dprime[k] - d) > 1e-5) or
              (k not in dprime and d >= 0.8 + 1e-5)]
    if wrong:
        sys.exit("-estimate ml differs from the peer at %s: %s" % (r2_path, sorted(wrong)[:10]))
    return "%d equal" % len(peer)


def check_boost(ours_path, peer_path):
    """boost_interaction's pairs at PEER_EPI1 against the peer's listing: the same pairs (those the peer
    lists with P at most the cut-off, but where its 4-digit P lies on the cut-off, or its statistic is 0
    and its P therefore 0), each with the same DF and STAT within 1e-5. Returns "N equal"; stops the
    harness on a difference."""
    alpha = float(PEER_EPI1)
    with open(peer_path) as f:
        peer = {}
        for r in (line.split() for line in list(f)[1:]):
            if r[4] != "nan" and float(r[4]) > 1e-6:
                peer[(int(r[1].split("snp")[1]), int(r[3].split("snp")[1]))] = (float(r[4]), int(r[5]), float(r[6]))
    with open(ours_path) as f:
        ours = {(int(r[0]), int(r[1])): (float(r[2]), int(r[3])) for r in (line.split("\t") for line in list(f)[1:])}
    expected = {k for k, (_, _, p) in peer.items() if p <= alpha * (1 - 5e-4)}
    borderline = {k for k, (_, _, p) in peer.items() if abs(p - alpha) <= 5e-4 * alpha}
    wrong = [k for k in ours if k not in expected | borderline] + [k for k in expected if k not in ours]
    wrong += [k for k, (stat, df) in ours.items() if k in peer and (df != peer[k][1] or
                                                                     abs(stat - peer[k][0]) > 1e-5 * peer[k][0])]
    if wrong:
        sys.exit("boost_interaction differs from the peer's listing at %s: %s" % (ours_path, sorted(wrong)[:10]))
    return "%d equal" % len(ours)


def covariate_file(prefix, columns):
    """PREFIX.covar10: `columns` standard normal covariates for every sample of the fileset (seeded)."""
    path = "%s.covar%d" % (prefix, columns)
    if not os.path.exists(path):
        import random
        rng = random.Random(columns)
        with open(prefix + ".fam") as fam, open(path, "w") as out:
            out.write("#FID IID " + " ".join("C%d" % k for k in range(columns)) + "\n")
            for line in fam:
                f = line.split()
                out.write("%s %s %s\n" % (f[0], f[1], " ".join("%.5f" % rng.gauss(0, 1) for _ in range(columns))))
    return path


def bench_refit(cache, repeats, work):
    """The covariate refit at 5000 samples and 10 covariates: records refitted per second (the time a run
    with -covar takes beyond the same run without, over its records), at a cut-off that reports tens of
    thousands of records and at the default one (a few hundred), with the share it adds to the run."""
    SIZES["refit-5k"] = ("cc", ["--snps", "2000", "--cases", "2500", "--controls", "2500"], 2000 * 1999 // 2)
    rows = []
    for name, label, cut in (("refit-5k", "-alpha_cut 0.001 -or_cut 1.2", ["-alpha_cut", "0.001", "-or_cut", "1.2"]),
                             ("cc-2500-8k-m2", "defaults", [])):
        prefix = ensure_data(name, cache)
        covar = covariate_file(prefix, 10)
        out = os.path.join(work, "refit.txt")
        base = ["genotype_interaction", "-file0", prefix + ".bed", "-o", out] + cut
        plain = statistics.median(run_timed([VARPAIR] + base, work)[0] for _ in range(repeats))
        walls, report = [], ""
        for _ in range(repeats):
            wall, _, report = run_timed([VARPAIR] + base + ["-covar", covar], work)
            walls.append(wall)
        adjusted = statistics.median(walls)
        records = int(re.search(r"Total valid results: (\d+)", report).group(1))
        rows.append("| %s | %s | %d | %.2f | %.2f | %+.0f %% | %.0f |" % (
            name, label, records, plain, adjusted, 100 * (adjusted / plain - 1),
            records / (adjusted - plain) if adjusted > plain else float("inf")))
    return ["| size | genotype_interaction | records | wall s | with -covar (10) s | longer by | records refitted/s |",
            "|" + "---|" * 7] + rows


def trait_file(prefix, traits):
    """PREFIX.qtT: `traits` standard normal traits for every sample of the fileset (seeded, none missing)."""
    path = "%s.qt%d" % (prefix, traits)
    if not os.path.exists(path):
        import random
        rng = random.Random(100 + traits)
        with open(prefix + ".fam") as fam, open(path, "w") as out:
            out.write("FID IID " + " ".join("Q%d" % k for k in range(1, traits + 1)) + "\n")
            for line in fam:
                f = line.split()
                out.write("%s %s %s\n" % (f[0], f[1], " ".join("%.5f" % rng.gauss(0, 1) for _ in range(traits))))
    return path


def check_qt(ours_path, peer_path, alpha):
    """qt_interaction's pairs of trait Q1 against the peer's QT listing: BETA_INT within 1e-5 and T_STAT^2
    within 2.5e-5 of STAT for every pair both list; a pair on one side only must lie near the cut-off
    (within a factor 1.2), where the peer's normal P and varpair's Student t P part. Returns "N equal";
    stops the harness on a difference."""
    ours = {}
    with open(ours_path) as f:
        for r in (line.split("\t") for line in list(f)[1:]):
            if r[0] == "Q1":
                ours[(int(r[1]), int(r[2]))] = (float(r[4]), float(r[6]), float(r[7]))
    peer = {}
    with open(peer_path) as f:
        for r in (line.split() for line in list(f)[1:]):
            if r[4] != "nan":
                peer[(int(r[1].split("snp")[1]), int(r[3].split("snp")[1]))] = (float(r[4]), float(r[5]), float(r[6]))
    close = lambda x, y, rel: abs(x - y) <= rel * max(abs(x), abs(y)) + 1e-9
    wrong = [k for k in ours.keys() & peer.keys()
             if not close(ours[k][0], peer[k][0], 1e-5) or not close(ours[k][1] ** 2, peer[k][1], 2.5e-5)]
    wrong += [k for k in ours.keys() ^ peer.keys() if not alpha / 1.2 <= (ours[k] if k in ours else peer[k])[2] <= alpha * 1.2]
    if wrong:
        sys.exit("qt_interaction differs from the peer's listing at %s: %s" % (ours_path, sorted(wrong)[:10]))
    return "%d equal" % len(ours.keys() & peer.keys())


def bench_qt(sizes, cache, repeats, threads, work):
    """qt_interaction on the interaction grid's filesets with one trait, with one trait and 10 covariates,
    and with 10 traits, against PLINK 1.9's QT --epistasis of the one trait (no covariates), pairs checked."""
    rows = []
    for name in sizes:
        kind, _, pairs = SIZES[name]
        if kind != "cc":
            continue
        prefix = ensure_data(name, cache)
        print("qt %s ..." % name, flush=True)
        one, ten, covar = trait_file(prefix, 1), trait_file(prefix, 10), covariate_file(prefix, 10)
        runs = {}
        for label, extra in (("1", ["-pheno", one]), ("cov", ["-pheno", one, "-covar", covar]),
                             ("10", ["-pheno", ten])):
            argv = [VARPAIR, "qt_interaction", "-file0", prefix + ".bed", "-alpha_cut", PEER_EPI1, "-o",
                    os.path.join(work, "qt-%s.txt" % label)] + extra
            runs[label] = statistics.median(run_timed(argv, work)[0] for _ in range(repeats))
        peer = statistics.median(run_timed([ensure_peer(), "--bfile", prefix, "--pheno", one, "--threads", str(threads),
                                            "--allow-no-sex", "--keep-allele-order", "--epistasis", "--epi1",
                                            PEER_EPI1, "--out", os.path.join(work, "peer")], work)[0]
                                 for _ in range(repeats))
        with open(os.path.join(work, "qt-1.log")) as log:
            BACKENDS.update(re.findall(r"^Device backend: (.*)$", log.read(), re.M))
        check = check_qt(os.path.join(work, "qt-1.txt"), os.path.join(work, "peer.epi.qt"), float(PEER_EPI1))
        rows.append("| %s | %d | %.2f | %.2f | %.2fx | %.2f | %.2fx | %.2f | %.1fx | %s |" % (
            name, pairs, peer, runs["1"], peer / runs["1"], runs["cov"], peer / runs["cov"], runs["10"],
            runs["10"] / runs["1"], check))
    return ["| size | pairs | PLINK QT s | qt_interaction s | ratio (target 5x) | 10 covariates s | ratio (target 1x) "
            "| 10 traits s | 10 traits / 1 | PLINK's pairs |", "|" + "---|" * 10] + rows


def bench_shards(name, prefix, repeats, work, counts):
    """Each shard's wall time against 1/N of the whole run's, for the size's first command."""
    kind, _, pairs = SIZES[name]
    command, extra = COMMANDS[kind][0][:2]
    inputs = inputs_of(kind, prefix, False)
    out = os.path.join(work, "shard.txt")
    whole = statistics.median(run_timed([VARPAIR, command] + inputs + ["-o", out] + extra, work)[0]
                              for _ in range(repeats))
    rows = []
    for n in counts:
        times = [statistics.median(run_timed([VARPAIR, command] + inputs + ["-o", out] + extra +
                                             ["-parallel", str(k), str(n)], work)[0] for _ in range(repeats))
                 for k in range(1, n + 1)]
        rows.append({"size": name, "command": command, "n": n, "whole": whole, "slowest": max(times),
                     "fastest": min(times)})
    return rows


def shard_table(rows):
    lines = ["| size | command | N | whole run s | 1/N s | fastest shard s | slowest shard s | slowest over 1/N |",
             "|" + "---|" * 8]
    for r in rows:
        ideal = r["whole"] / r["n"]
        lines.append("| %s | %s | %d | %.2f | %.2f | %.2f | %.2f | %+.0f %% |" % (
            r["size"], r["command"], r["n"], r["whole"], ideal, r["fastest"], r["slowest"],
            100 * (r["slowest"] / ideal - 1)))
    return "\n".join(lines)


def machine():
    model = "unknown processor"
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    memory = os.sysconf("SC_PAGE_SIZE") * os.sysconf("SC_PHYS_PAGES") / 2**30
    return "%s, %d hardware threads, %.0f GiB, %s" % (model, os.cpu_count(), memory, platform.platform())


def table(rows):
    head = ("| size | command | pairs | wall s | pairs/s | peak MB | load MB/s | .bed load MB/s | .bed vs text "
            "load | peer pairs/s | ratio | target | peer's pairs |")
    lines = [head, "|" + "---|" * 13]
    for r in rows:
        peer = r.get("peer")
        ratio = r["rate"] / peer["rate"] if peer else None
        lines.append("| %s | %s | %d | %.2f | %.3g | %.0f | %.0f | %s | %s | %s | %s | %s | %s |" % (
            r["size"], r["command"], r["pairs"], r["wall"], r["rate"], r["peak"], r["load"],
            "%.0f" % r["bed_load"] if "bed_load" in r else "-",
            "%.1fx" % r["bed_ratio"] if "bed_ratio" in r else "-",
            "%.3g" % peer["rate"] if peer else "-", "%.2f" % ratio if peer else "-",
            ("%.0fx %s" % (r["target"], "met" if ratio >= r["target"] else "MISSED")) if peer else "-",
            peer["check"] if peer and "check" in peer and r["command"] in ("boost_interaction", "interChromLDr2 ml")
            else "-"))
    return "\n".join(lines)


def summary(rows):
    """How many rows met their ratio to the peer, and the lowest ratio of each command."""
    with_peer = [r for r in rows if r.get("peer")]
    if not with_peer:
        return []
    met = sum(r["rate"] / r["peer"]["rate"] >= r["target"] for r in with_peer)
    lines = ["", "Targets met: %d of %d." % (met, len(with_peer))]
    for command in sorted({r["command"] for r in with_peer}):
        worst = min((r for r in with_peer if r["command"] == command), key=lambda r: r["rate"] / r["peer"]["rate"])
        lines.append("- %s: lowest ratio %.2f (%s, target %.0fx)" % (
            command, worst["rate"] / worst["peer"]["rate"], worst["size"], worst["target"]))
    return lines


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sizes", default="ld-2k,ld-5k,cc-5k,cc-20k")
    parser.add_argument("--repeats", type=int, default=3)
    parser.add_argument("--peer", action="store_true", help="also run PLINK 1.9 on the same data")
    parser.add_argument("--cache", default=os.path.join(ROOT, "bench", "cache"))
    parser.add_argument("--save", action="store_true", help="write the table to bench/results/")
    parser.add_argument("--shards", default="", help="also time each shard of -parallel K N, for these N (2,4)")
    parser.add_argument("--varpair", help="the varpair binary to time (default: build/src/varpair, built if "
                        "missing), e.g. a build with -DVARPAIR_DISABLED_TARGETS='HWY_AVX3|HWY_AVX3_DL'")
    parser.add_argument("--refit", action="store_true",
                        help="also time the covariate refit (5000 samples, 10 covariates)")
    parser.add_argument("--qt", action="store_true",
                        help="also time qt_interaction on the interaction sizes against PLINK 1.9's QT --epistasis")
    parser.add_argument("--qt-only", action="store_true", help="time qt_interaction only (as --qt, no other command)")
    args = parser.parse_args()
    sizes = list(dict.fromkeys(n for s in args.sizes.split(",") if s for n in GROUPS.get(s, [s])))  # once each
    for s in sizes:
        if s not in SIZES:
            sys.exit("unknown size %s (known: %s, and the groups %s)" % (s, ", ".join(SIZES), ", ".join(GROUPS)))
    if args.varpair:
        global VARPAIR
        VARPAIR = os.path.abspath(args.varpair)
    ensure_built()
    threads = os.cpu_count()
    rows, shard_rows = [], []
    shard_counts = [int(n) for n in args.shards.split(",") if n]
    with tempfile.TemporaryDirectory() as work:
        for name in ([] if args.qt_only else sizes):
            prefix = ensure_data(name, args.cache)
            print("running %s ..." % name, flush=True)
            size_rows = bench_varpair(name, prefix, args.repeats, work)
            if args.peer:
                peer = bench_peer(name, prefix, args.repeats, threads, work)
                for r in size_rows:
                    r["peer"] = peer
            rows += size_rows
            if shard_counts:
                print("sharding %s ..." % name, flush=True)
                shard_rows += bench_shards(name, prefix, args.repeats, work, shard_counts)
        qt_rows = bench_qt(sizes, args.cache, args.repeats, threads, work) if args.qt or args.qt_only else []
        refit_rows = []
        if args.refit:
            print("refitting ...", flush=True)
            refit_rows = bench_refit(args.cache, args.repeats, work)
    report = "\n".join([
        "varpair host backend, %d threads; medians of %d runs; pairs/s counts varpair's pairs "
        "(rows0 x rows1 for LD, m(m-1)/2 for interaction) over the whole run's wall time. Load MB/s: input "
        "bytes over the run's own load time; .bed vs text: text load time over fileset load time for the same "
        "genotypes (fileset results checked equal)." % (threads, args.repeats),
        "Peer: PLINK 1.9 --r2 inter-chr dprime --ld-window-r2 0.8 (LD) and --fast-epistasis boost --epi1 %s "
        "(interaction), same data and threads; LD with -distribution or as binary parts (every value computed) is "
        "set against the same PLINK run, with the lower target; boost_interaction (-alpha_cut %s) is the same "
        "statistic, its pairs checked against the peer's (last column), and so are -estimate ml's r2 and D' "
        "(the r2 ml row's last column)." % (PEER_EPI1, PEER_EPI1)
        if args.peer else "No peer run.",
        "Machine: " + machine(), "Backend: " + (", ".join(sorted(BACKENDS)) or "-")] +
        (["", table(rows)] if rows else []) + summary(rows) +
        (["", "Shards (-parallel K N, wall time of each shard; the first command of each size):", "",
          shard_table(shard_rows)] if shard_rows else []) +
        (["", "Quantitative traits (qt_interaction -alpha_cut %s on the fileset with a -pheno of standard normal "
              "traits; PLINK 1.9 --epistasis --epi1 %s on the same trait, no covariates, same threads):" %
          (PEER_EPI1, PEER_EPI1), ""] + qt_rows if qt_rows else []) +
        (["", "Covariate refit (-covar with 10 covariates, 2500 + 2500 samples; target: 1,000 records a second, "
              "and at most 10 % longer with a few hundred records):", ""] + refit_rows if refit_rows else []))
    print()
    print(report)
    if args.save:
        os.makedirs(os.path.join(ROOT, "bench", "results"), exist_ok=True)
        path = os.path.join(ROOT, "bench", "results", datetime.datetime.now().strftime("%Y-%m-%d-%H%M") + ".md")
        with open(path, "w") as f:
            f.write("# Benchmark %s\n\n%s\n" % (datetime.datetime.now().isoformat(timespec="minutes"), report))
        print("\nsaved to %s" % os.path.relpath(path, ROOT))


if __name__ == "__main__":
    main()
