"""The covariate reference: for every pair of the fileset's SNPs (SNP0 < SNP1, .bim order from 0),
the ordinary least-squares fit of a phenotype on an intercept, the covariates, the allele counts A and
B and their product A*B, over the samples with both genotypes, the phenotype and every covariate
present. Written independently of varpair, in double precision, with statsmodels (or numpy's least
squares where statsmodels is missing, or with --numpy).

Genotypes are copies of the .bim's fifth-column allele (A1): .bed codes 00 -> 2, 10 -> 1, 11 -> 0,
01 missing. Columns: SNP0 SNP1 N BETA_INT SE T_STAT P VIF_INT VIF_MAX, P two-sided from
Student's t with N - 4 - k degrees of freedom (k covariates). VIF_INT is the product term's variance
inflation factor and VIF_MAX the largest of all non-intercept columns (PLINK 1.9's --vif check), both
from the correlation matrix of those columns. A pair whose design is singular (a SNP with one
genotype among the samples used, or a product column that the other columns span) has NA in every
column after N.

usage: make_reference.py [--numpy] [PREFIX [OUT]]   (default: fixture and covar_reference.tsv beside
this script; PREFIX.bed/.bim/.fam, PREFIX.pheno, PREFIX.covar; phenotype Q1, covariates PC1 and AGE)
"""
import math
import os
import sys

import numpy as np

PHENOTYPE = "Q1"
COVARIATES = ["PC1", "AGE"]


def read_fileset(prefix):
    with open(prefix + ".fam") as f:
        samples = [tuple(line.split()[:2]) for line in f]
    with open(prefix + ".bim") as f:
        ids = [line.split()[1] for line in f]
    with open(prefix + ".bed", "rb") as f:
        bed = f.read()
    assert bed[:3] == b"\x6c\x1b\x01", "not a variant-major .bed"
    stride = (len(samples) + 3) // 4
    assert len(bed) == 3 + stride * len(ids)
    codes = np.frombuffer(bed[3:], dtype=np.uint8).reshape(len(ids), stride)
    codes = (codes[:, :, None] >> np.array([0, 2, 4, 6], dtype=np.uint8)) & 3
    codes = codes.reshape(len(ids), 4 * stride)[:, :len(samples)]
    genotypes = np.array([2.0, np.nan, 1.0, 0.0])[codes]  # copies of A1
    return samples, ids, genotypes


def read_columns(path, names, samples):
    """The named columns of a "FID IID ..." file, in the order of samples; NA, . and -9 missing."""
    with open(path) as f:
        header = f.readline().split()
        rows = {tuple(r[:2]): r for r in (line.split() for line in f)}
    out = np.full((len(samples), len(names)), np.nan)
    for s, key in enumerate(samples):
        row = rows.get(key)
        if row is None:
            continue
        for c, name in enumerate(names):
            text = row[header.index(name)]
            if text not in ("NA", ".", "-9"):
                out[s, c] = float(text)
    return out


def full_rank(x):
    # Rank of the design with every column scaled to unit length, so that a column's units (AGE in
    # years) do not decide what counts as collinear; a column of zeros (a SNP with no copies among
    # the samples, or their product) is singular as it stands.
    norms = np.linalg.norm(x, axis=0)
    if (norms == 0).any():
        return False
    scaled = x / norms
    return np.linalg.matrix_rank(scaled) == x.shape[1]


def vifs(x):
    """Variance inflation of each non-intercept column: the diagonal of the inverse correlation matrix."""
    return np.diag(np.linalg.inv(np.corrcoef(x[:, 1:].T)))


def fit_statsmodels(y, x):
    import statsmodels.api as sm
    r = sm.OLS(y, x).fit()
    return r.params[-1], r.bse[-1], r.tvalues[-1], r.pvalues[-1]


def fit_numpy(y, x):
    from scipy import stats
    n, p = x.shape
    beta, _, _, _ = np.linalg.lstsq(x, y, rcond=None)
    resid = y - x @ beta
    sigma2 = resid @ resid / (n - p)
    r = np.linalg.qr(x, mode="r")
    r_inv = np.linalg.solve(r, np.eye(p))
    se = math.sqrt(sigma2 * (r_inv[-1] @ r_inv[-1]))  # (X'X)^-1 = R^-1 R^-T
    t = beta[-1] / se
    return beta[-1], se, t, 2.0 * stats.t.sf(abs(t), n - p)


def main(argv):
    use_numpy = "--numpy" in argv
    argv = [a for a in argv if a != "--numpy"]
    here = os.path.dirname(os.path.abspath(__file__))
    prefix = argv[0] if len(argv) > 0 else os.path.join(here, "fixture")
    out_path = argv[1] if len(argv) > 1 else os.path.join(here, "covar_reference.tsv")
    fit = fit_numpy if use_numpy else fit_statsmodels
    if not use_numpy:
        try:
            import statsmodels.api  # noqa: F401
        except ImportError:
            fit = fit_numpy

    samples, ids, genotypes = read_fileset(prefix)
    y = read_columns(prefix + ".pheno", [PHENOTYPE], samples)[:, 0]
    covariates = read_columns(prefix + ".covar", COVARIATES, samples)
    present = ~np.isnan(y) & ~np.isnan(covariates).any(axis=1)

    lines = ["\t".join(["SNP0", "SNP1", "N", "BETA_INT", "SE", "T_STAT", "P", "VIF_INT", "VIF_MAX"])]
    for i in range(len(ids)):
        for j in range(i + 1, len(ids)):
            a, b = genotypes[i], genotypes[j]
            used = present & ~np.isnan(a) & ~np.isnan(b)
            n = int(used.sum())
            x = np.column_stack([np.ones(n), covariates[used], a[used], b[used], a[used] * b[used]])
            fields = [str(i), str(j), str(n)]
            if n <= x.shape[1] or not full_rank(x):
                fields += ["NA"] * 6
            else:
                v = vifs(x)
                fields += ["%.10g" % value for value in fit(y[used], x) + (v[-1], v.max())]
            lines.append("\t".join(fields))
    with open(out_path, "w") as f:
        f.write("\n".join(lines) + "\n")
    print("%d pairs, %d samples with %s and %s present, written to %s (%s)" %
          (len(lines) - 1, int(present.sum()), PHENOTYPE, " and ".join(COVARIATES), out_path,
           "numpy least squares" if fit is fit_numpy else "statsmodels OLS"))


if __name__ == "__main__":
    main(sys.argv[1:])
