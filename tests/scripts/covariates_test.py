"""-covar on real runs: the adjusted columns after the existing ones (which keep their bytes), the
samples without a complete covariate row left out, a noise covariate that leaves the odds ratios be,
confounding by ancestry removed while planted interactions stay, shards that merge to one run's
bytes, covariates of any magnitude scaled rather than called collinear, and bad covariate files
refused with a clear error and an earlier output kept. VARPAIR_BIN and SIMULATE_BIN name the
programs."""
import filecmp
import os
import random
import subprocess
import sys
import tempfile
import unittest

VARPAIR = os.environ.get("VARPAIR_BIN")
SIMULATE = os.environ.get("SIMULATE_BIN")
ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
EXAMPLE = os.path.join(ROOT, "examples", "cc.bed")


def varpair(*args):
    return subprocess.run([VARPAIR] + list(args), capture_output=True, text=True)


def ok(*args):
    r = varpair(*args)
    if r.returncode != 0:
        raise AssertionError("varpair %s: exit %d\n%s%s" % (" ".join(args), r.returncode, r.stdout[-3000:], r.stderr))
    return r


def table(path):
    with open(path) as f:
        return [line.rstrip("\n").split("\t") for line in f]


@unittest.skipUnless(VARPAIR and SIMULATE, "VARPAIR_BIN and SIMULATE_BIN not set")
class Covariates(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.d = cls.tmp.name
        cls.strat = os.path.join(cls.d, "strat")
        subprocess.run([SIMULATE, "cc", "--snps", "60", "--cases", "500", "--controls", "500", "--seed", "9",
                        "--missing", "0.02", "--populations", "--plink", "--out", cls.strat], check=True,
                       stdout=subprocess.DEVNULL)
        # Every sample of the examples with a complete row: a noise column and a constant one.
        rng = random.Random(4)
        cls.noise = os.path.join(cls.d, "noise.covar")
        with open(os.path.join(ROOT, "examples", "cc.fam")) as fam, open(cls.noise, "w") as out:
            out.write("FID IID NOISE BATCH\n")
            for line in fam:
                f = line.split()
                out.write("%s %s %.5f 1\n" % (f[0], f[1], rng.gauss(0, 1)))

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def path(self, name):
        return os.path.join(self.d, name)

    def test_adjusted_columns_follow_the_existing_ones_unchanged(self):
        plain, adjusted = self.path("plain.txt"), self.path("adjusted.txt")
        ok("genotype_interaction", "-file0", EXAMPLE, "-o", plain, "-alpha_cut", "0.01", "-or_cut", "1.5")
        r = ok("genotype_interaction", "-file0", EXAMPLE, "-o", adjusted, "-alpha_cut", "0.01", "-or_cut", "1.5",
               "-covar", self.noise)
        self.assertIn("Covariate BATCH is constant over the samples used: left out of the refit", r.stdout)
        a, p = table(adjusted), table(plain)
        self.assertEqual(a[0][12:], ["adj_OR", "adj_OR_lower", "adj_OR_upper", "adj_pvalue", "fit", "ID0", "ID1"])
        self.assertEqual([row[:12] + row[17:] for row in a], p, "the same records and bytes, the new columns apart")
        self.assertGreater(len(a), 20)
        fits = {row[16] for row in a[1:]}
        self.assertTrue(fits <= {"ml", "firth"}, fits)
        # A covariate of pure noise leaves the odds ratios within a few per cent.
        close = [abs(float(row[12]) / float(row[9]) - 1) < 0.05 for row in a[1:] if row[16] == "ml"]
        self.assertGreater(sum(close), 0.9 * len(close))
        # plot.py draws the adjusted p-values of such a table, and only of such a table.
        plot = [sys.executable, os.path.join(ROOT, "scripts", "plot.py"), "interaction", "--adjusted"]
        self.assertEqual(subprocess.run(plot + [adjusted, "-o", self.path("a.png")], capture_output=True).returncode, 0)
        r = subprocess.run(plot + [plain, "-o", self.path("p.png")], capture_output=True, text=True)
        self.assertEqual(r.returncode, 1)
        self.assertIn("has no adjusted p-values", r.stderr)

    def test_confounding_by_ancestry_is_adjusted_away(self):
        plain, adjusted = self.path("strat-plain.txt"), self.path("strat-adjusted.txt")
        ok("genotype_interaction", "-file0", self.strat + ".bed", "-o", plain, "-alpha_cut", "1e-4")
        r = ok("genotype_interaction", "-file0", self.strat + ".bed", "-o", adjusted, "-alpha_cut", "1e-4",
               "-covar", self.strat + ".covar")
        informative = {"7", "27", "47"}  # every twentieth SNP from 7 differs between the subpopulations
        rows = table(adjusted)[1:]
        confounded = [row for row in rows if row[1] in informative and row[2] in informative]
        self.assertTrue(confounded, "without adjustment the ancestry-informative pairs look like interactions")
        self.assertTrue(all(float(row[15]) > 1e-3 for row in confounded), confounded)
        planted = [row for row in rows if (row[1], row[2]) in {("6", "36"), ("24", "54")}]
        self.assertTrue(planted and min(float(row[15]) for row in planted) < 1e-6, planted)
        with open(self.strat + ".covar") as f:
            missing_ages = sum(1 for line in f if " NA " in line)
        counts = r.stdout.split("Samples without a complete covariate row, left out: ")[1].split("\n")[0]
        self.assertEqual(sum(int(w) for w in counts.replace(",", " ").split() if w.isdigit()), missing_ages)

    def test_boost_and_shards(self):
        for command, cut in (("boost_interaction", ["-alpha_cut", "0.05"]),
                             ("mdr_interaction", ["-alpha_cut", "0.01", "-or_cut", "1.2"])):
            options = ["-file0", self.strat + ".bed", "-covar", self.strat + ".covar", "-covar_name", "PC1,AGE"] + cut
            one = self.path("%s-one.txt" % command)
            ok(command, *options, "-o", one)
            header = table(one)[0]
            if command == "boost_interaction":
                self.assertEqual(header[5:], ["adj_STAT", "adj_DF", "adj_P", "fit", "ID0", "ID1"])
            for n in (1, 2, 3):
                out = self.path("%s-%d" % (command, n), ) + "/out.txt"
                os.makedirs(os.path.dirname(out), exist_ok=True)
                for k in range(1, n + 1):
                    ok(command, *options, "-o", out, "-parallel", str(k), str(n))
                ok("merge", "-o", out, "-parallel", str(n))
                self.assertTrue(filecmp.cmp(out, one, shallow=False), "%s N=%d" % (command, n))
                if command == "boost_interaction":
                    self.assertTrue(filecmp.cmp(out + ".summary", one + ".summary", shallow=False))

    def test_covariates_of_any_magnitude_are_scaled_not_called_collinear(self):
        strat = os.path.join(ROOT, "examples", "strat")
        with open(strat + ".covar") as f:
            rows = [line.split() for line in f]

        def scaled(name, scale, rows=rows):  # AGE times a power of two: exactly the same covariate
            path = self.path(name)
            with open(path, "w") as f:
                for k, row in enumerate(rows):
                    age = row[3] if k == 0 or row[3] == "NA" else repr(float(row[3]) * scale)
                    f.write(" ".join(row[:3] + [age] + row[4:]) + "\n")
            return path

        def run(covar, *extra):
            out = self.path(os.path.basename(covar) + "".join(extra).replace(" ", "_") + ".txt")
            ok("genotype_interaction", "-file0", strat + ".bed", "-o", out, "-alpha_cut", "1e-3", "-covar", covar,
               *extra)
            with open(out, "rb") as f:
                return f.read()

        plain = run(strat + ".covar")
        self.assertEqual(run(scaled("up.covar", 2.0 ** 500)), plain, "AGE near 1e152")
        self.assertEqual(run(scaled("down.covar", 2.0 ** -1000)), plain, "AGE near 1e-299")
        self.assertEqual(run(strat + ".covar", "-covar_name", "PC1, AGE"),
                         run(strat + ".covar", "-covar_name", "PC1,AGE"), "names are trimmed")
        # One value of 1e308 among ages: a covariate that sets one sample apart, not a constant.
        rows_308 = [row[:] for row in rows]
        rows_308[5][3] = "1e308"
        self.assertEqual(len(run(scaled("huge.covar", 1.0, rows_308)).splitlines()), len(plain.splitlines()))

    def test_bad_covariate_files_are_refused_before_anything_is_written(self):
        def write(name, text):
            with open(self.path(name), "w") as f:
                f.write(text)
            return self.path(name)

        with open(os.path.join(ROOT, "examples", "cc.fam")) as f:
            fam = [line.split()[:2] for line in f]
        good = "".join("%s %s %d %d\n" % (f, i, k % 7, k % 5) for k, (f, i) in enumerate(fam))
        cases = [
            (write("word.covar", "FID IID A\n%s %s abc\n" % tuple(fam[0])),
             [], "word.covar: line 2, column 3 (A): 'abc' is not a number"),
            (write("hex.covar", "FID IID A\n%s %s 0x10\n" % tuple(fam[0])),
             [], "hex.covar: line 2, column 3 (A): '0x10' is not a number"),
            (write("huge.covar", "FID IID A\n%s %s 1e400\n" % tuple(fam[0])),
             [], "huge.covar: line 2, column 3 (A): '1e400' lies beyond double precision"),
            (write("short.covar", "FID IID A B\n%s %s 1\n" % tuple(fam[0])), [], "line 2 has 3 fields, the header 4"),
            (write("twice.covar", "IID A\n%s 1\n%s 2\n" % (fam[0][1], fam[0][1])), [], "appears twice"),
            (write("none.covar", "FID IID A\nx y 1\n"), [], "has a complete row in"),
            (write("named.covar", "FID IID A\n" + "".join("%s %s 1\n" % tuple(f) for f in fam)), ["-covar_name", "Z"],
             "there is no covariate column Z"),
            (write("same.covar", "FID IID A B A\n" + "".join("%s %s 1 2 3\n" % tuple(f) for f in fam)), [],
             "same.covar: line 1: columns 3 and 5 have the same name, 'A'; each column needs its own"),
            (write("good.covar", "FID IID A B\n" + good), ["-covar_name", "B, A,B"],
             "Error: -covar_name names 'B' twice: 'B, A,B'"),
            (write("collinear.covar", "FID IID A B C\n" + "".join(
                "%s %s %d %d %d\n" % (f, i, k % 7, k % 5, 2 * (k % 7) - 3 * (k % 5)) for k, (f, i) in enumerate(fam))),
             [], "the covariates are collinear: C is a linear combination of the intercept, A, B"),
            (write("good.covar", "FID IID A B\n" + good), ["-file0", os.path.join(ROOT, "examples", "cc.cases.txt"),
                                                          "-file1", os.path.join(ROOT, "examples", "cc.controls.txt")],
             "text tables carry none"),
        ]
        out = self.path("refused.txt")
        with open(out, "w") as f:
            f.write("an earlier table\n")
        for path, extra, message in cases:
            inputs = extra if "-file0" in extra else ["-file0", EXAMPLE] + extra
            r = varpair("genotype_interaction", *inputs, "-o", out, "-covar", path)
            self.assertEqual(r.returncode, 1, path)
            self.assertIn(message, r.stderr, path)
            with open(out) as f:
                self.assertEqual(f.read(), "an earlier table\n", path)

if __name__ == "__main__":
    unittest.main()
