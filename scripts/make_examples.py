#!/usr/bin/env python3
"""Writes the small example tables in examples/ (deterministic; run from the repository root).

LD: two tables over the same 400 samples; some SNPs of the second table copy or echo SNPs of the
first, so that strong cross-table LD exists. Case/control: 200 SNPs, 300 cases, 300 controls; among
the cases, SNPs 12 and 57 are homozygous for the second allele together far more often than chance.
"""
import random

rng = random.Random(20261206)


def genotype(p):
    return sum(rng.random() < p for _ in range(2))


def write(path, rows):
    with open(path, "w", newline="\n") as f:
        for row in rows:
            f.write(" ".join(str(g) for g in row) + "\n")


samples = 400
ld0 = []
for _ in range(120):
    p = rng.uniform(0.1, 0.5)
    ld0.append([genotype(p) for _ in range(samples)])
ld1 = []
for i in range(90):
    if i % 10 == 0:  # a copy of a first-table SNP with a few changes
        src = ld0[(i * 7) % len(ld0)]
        ld1.append([g if rng.random() > 0.03 else genotype(0.3) for g in src])
    else:
        p = rng.uniform(0.1, 0.5)
        ld1.append([genotype(p) for _ in range(samples)])
# A few missing genotypes, written as NA.
for table in (ld0, ld1):
    for row in table[::17]:
        row[rng.randrange(samples)] = "NA"
write("examples/ld_file0.txt", ld0)
write("examples/ld_file1.txt", ld1)

snps, cases, controls = 200, 300, 300
freqs = [rng.uniform(0.15, 0.5) for _ in range(snps)]
control_rows = [[genotype(freqs[s]) for _ in range(controls)] for s in range(snps)]
case_rows = [[genotype(freqs[s]) for _ in range(cases)] for s in range(snps)]
for c in range(cases // 5):  # planted: a fifth of the cases are 2 at both SNP 12 and SNP 57
    case_rows[12][c] = 2
    case_rows[57][c] = 2
write("examples/cases.txt", case_rows)
write("examples/controls.txt", control_rows)
