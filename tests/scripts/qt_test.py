"""qt_interaction as a user runs it: PLINK 1.9's QT --epistasis numbers and pair set on a committed
fixture (tests/data/qt/README.md), the covariate-adjusted fit against a statsmodels reference, shards
merged to one run's bytes, and bad inputs refused with an earlier output kept. VARPAIR_BIN names
the program."""
import gzip
import math
import glob
import os
import shutil
import subprocess
import tempfile
import unittest

VARPAIR = os.environ.get("VARPAIR_BIN")
DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data", "qt")
FIXTURE = os.path.join(DATA, "fixture")


def varpair(*args):
    return subprocess.run([VARPAIR] + list(args), capture_output=True, text=True)


def table(path):
    """(ID0, ID1) or (PHENO, SNP0, SNP1) -> the line's fields, by column name."""
    with open(path) as f:
        header = f.readline().rstrip("\n").split("\t")
        rows = [dict(zip(header, line.rstrip("\n").split("\t"))) for line in f]
    return rows


def close(x, y, relative=1e-5):
    return abs(x - y) <= relative * max(abs(x), abs(y)) + 1e-9


@unittest.skipUnless(VARPAIR, "VARPAIR_BIN not set")
class QtInteraction(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.d = self.dir.name

    def tearDown(self):
        self.dir.cleanup()

    def run_ok(self, *args):
        r = varpair("qt_interaction", *args)
        self.assertEqual(r.returncode, 0, r.stdout[-2000:] + r.stderr)
        return r

    def test_plink_numbers_and_pair_set_without_covariates(self):
        out = os.path.join(self.d, "out.txt")
        self.run_ok("-file0", FIXTURE + ".bed", "-alpha_cut", "1", "-o", out)
        ours = {(r["ID0"], r["ID1"]): r for r in table(out)}
        self.assertTrue(all(r["PHENO"] == "PHENO" for r in ours.values()))
        plink, untested = {}, set()
        with gzip.open(os.path.join(DATA, "plink.epi.qt.gz"), "rt") as f:
            f.readline()
            for line in f:
                _, snp1, _, snp2, beta, stat, _ = line.split()
                if beta == "nan":
                    untested.add((snp1, snp2))
                else:
                    plink[(snp1, snp2)] = (float(beta), float(stat))
        self.assertEqual(len(plink), 591)
        # PLINK lists every test; its untested pairs, and those of the SNP it drops as monomorphic, are no test here.
        self.assertEqual(set(ours), set(plink))
        for key, (beta, stat) in plink.items():
            mine = ours[key]
            self.assertTrue(close(float(mine["BETA_INT"]), beta), (key, mine["BETA_INT"], beta))
            # STAT = T_STAT^2; T_STAT's six digits leave its square twice their relative error.
            self.assertTrue(close(float(mine["T_STAT"]) ** 2, stat, 2.5e-5), (key, mine["T_STAT"], stat))
        self.assertLess(float(ours[("t0_snp4", "t0_snp24")]["P"]), 1e-6)  # the planted pair

    def test_covariates_against_an_independent_fit(self):
        out = os.path.join(self.d, "out.txt")
        self.run_ok("-file0", FIXTURE + ".bed", "-pheno", FIXTURE + ".pheno", "-pheno_name", "Q1", "-covar",
                    FIXTURE + ".covar", "-alpha_cut", "1", "-o", out)
        ours = {(int(r["SNP0"]), int(r["SNP1"])): r for r in table(out)}
        expected = 0
        with open(os.path.join(DATA, "covar_reference.tsv")) as f:
            f.readline()
            for line in f:
                snp0, snp1, n, beta, se, t, p, _, vif = line.split()
                key = (int(snp0), int(snp1))
                if beta == "NA" or float(vif) > 50:
                    self.assertNotIn(key, ours)
                    continue
                expected += 1
                mine = ours[key]
                self.assertEqual(int(mine["N"]), int(n))
                for column, value in (("BETA_INT", beta), ("SE", se), ("T_STAT", t), ("P", p)):
                    self.assertTrue(close(float(mine[column]), float(value)), (key, column, mine[column], value))
        self.assertEqual(len(ours), expected)

    def test_a_text_table_with_one_value_a_line_gives_the_filesets_numbers(self):
        with open(FIXTURE + ".fam") as f:
            fam = [line.split() for line in f]
        with open(FIXTURE + ".bed", "rb") as f:
            bed = f.read()[3:]
        stride = (len(fam) + 3) // 4
        table, pheno = os.path.join(self.d, "g.txt"), os.path.join(self.d, "g.pheno")
        with open(table, "w") as f:
            for v in range(len(bed) // stride):
                codes = ((bed[v * stride + s // 4] >> (2 * (s % 4))) & 3 for s in range(len(fam)))
                f.write(" ".join({0: "2", 2: "1", 3: "0", 1: "NA"}[c] for c in codes) + "\n")
        with open(pheno, "w") as f:
            f.write("".join(("NA" if s[5] == "-9" else s[5]) + "\n" for s in fam))
        text, fileset = os.path.join(self.d, "text.txt"), os.path.join(self.d, "fileset.txt")
        self.run_ok("-file0", table, "-pheno", pheno, "-alpha_cut", "1", "-o", text)
        self.run_ok("-file0", FIXTURE + ".bed", "-alpha_cut", "1", "-o", fileset)
        with open(text) as f, open(fileset) as g:
            self.assertEqual([line.rstrip("\n").split("\t")[:8] for line in f],
                             [line.rstrip("\n").split("\t")[:8] for line in g])

    def test_shards_merge_to_one_run(self):
        options = ["-file0", FIXTURE + ".bed", "-pheno", FIXTURE + ".pheno", "-covar", FIXTURE + ".covar",
                   "-alpha_cut", "0.5"]
        one = os.path.join(self.d, "one.txt")
        self.run_ok(*options, "-o", one)
        with open(one) as f:
            whole = f.read()
        with open(one + ".summary") as f:
            summary = f.read()
        self.assertGreater(whole.count("\n"), 200)
        # The summary's tests per trait count each test at both its SNPs, as the log counts them once.
        with open(os.path.join(self.d, "one.log"), encoding="utf-8-sig") as f:
            log = f.read()
        for trait in ("Q1", "Q2"):
            tests = int(log.split("Tests of %s: " % trait)[1].split()[0])
            rows = [line.split("\t") for line in summary.splitlines()[1:] if line.startswith(trait + "\t")]
            self.assertEqual(sum(int(r[3]) for r in rows), 2 * tests, trait)
            self.assertEqual(sum(int(r[4]) for r in rows), 2 * whole.count("\n" + trait + "\t"), trait)
        for n in (1, 2, 3):
            out = os.path.join(self.d, "s%d" % n, "out.txt")
            os.makedirs(os.path.dirname(out))
            for k in range(1, n + 1):
                self.run_ok(*options, "-o", out, "-parallel", str(k), str(n))
            r = varpair("merge", "-o", out, "-parallel", str(n))
            self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
            for trait in ("Q1", "Q2"):  # the merged log counts the tests as one run's does
                line = "Tests of %s: " % trait
                self.assertIn(line + log.split(line)[1].split("\n")[0], r.stdout)
            with open(out) as f:
                self.assertEqual(f.read(), whole, n)
            with open(out + ".summary") as f:
                self.assertEqual(f.read(), summary, n)
        # A shard whose summary is not a qt_interaction summary stops the merge, the merged files kept.
        out = os.path.join(self.d, "s2", "out.txt")
        shard_summaries = sorted(glob.glob(os.path.join(self.d, "s2", "*.summary")))
        shard_summaries.remove(out + ".summary")
        with open(shard_summaries[0], "w") as f:
            f.write("SNP\tID\tN_TOT\n")
        r = varpair("merge", "-o", out, "-parallel", "2")
        self.assertEqual(r.returncode, 1, r.stdout + r.stderr)
        self.assertIn(shard_summaries[0] + " is missing or not a qt_interaction summary", r.stderr)
        with open(out) as f:
            self.assertEqual(f.read(), whole)

    def test_bad_inputs_are_refused_and_an_earlier_output_kept(self):
        with open(FIXTURE + ".fam") as f:
            fam = [line.split() for line in f]

        def pheno(name, values):
            path = os.path.join(self.d, name)
            with open(path, "w") as f:
                f.write("FID IID Q1\n" + "".join("%s %s %s\n" % (s[0], s[1], v) for s, v in zip(fam, values)))
            return path

        binary = os.path.join(self.d, "binary")
        for ext in (".bed", ".bim"):
            shutil.copy(FIXTURE + ext, binary + ext)
        with open(binary + ".fam", "w") as f:
            f.write("".join(" ".join(s[:5] + [str(1 + i % 2)]) + "\n" for i, s in enumerate(fam)))
        numbers = ["%d" % (i % 7) for i in range(len(fam))]
        word = pheno("word.pheno", numbers[:4] + ["abc"] + numbers[5:])
        cases = [
            (["-pheno", word], "%s: line 6, column 3 (Q1): 'abc' is not a number" % word),
            (["-pheno", pheno("constant.pheno", ["3"] * len(fam))], "the trait Q1 is the same for every sample used"),
            (["-pheno", pheno("none.pheno", ["NA"] * len(fam))], "the trait Q1 has 0 samples with a value"),
            (["-pheno", pheno("few.pheno", numbers[:4] + ["NA"] * (len(fam) - 4))], "too few for a fit of 4 parameters"),
            (["-pheno", word, "-pheno_name", "Z"], "there is no phenotype column Z"),
        ]
        out = os.path.join(self.d, "out.txt")
        with open(out, "w") as f:
            f.write("an earlier table\n")
        for args, message in [(["-file0", FIXTURE + ".bed"] + a, m) for a, m in cases] + [
                (["-file0", binary + ".bed"], "the phenotype looks binary (every value is 1 or 2: controls and cases)")]:
            r = varpair("qt_interaction", *args, "-o", out)
            self.assertEqual(r.returncode, 1, args)
            self.assertIn(message, r.stderr, args)
            with open(out) as f:
                self.assertEqual(f.read(), "an earlier table\n", args)


if __name__ == "__main__":
    unittest.main()
