"""boost_interaction against PLINK 1.9's --fast-epistasis boost on a committed fixture (missing calls,
rare and monomorphic variants, planted pairs; tests/data/boost/README.md): the same statistic and
degrees of freedom for every pair PLINK lists, the same tests per SNP, and at a cut-off exactly the
pairs of PLINK's listing whose p-value reaches it. VARPAIR_BIN names the program."""
import gzip
import os
import subprocess
import tempfile
import unittest

VARPAIR = os.environ.get("VARPAIR_BIN")
FIXTURE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data", "boost")


def plink_listing():
    """(ID0, ID1) -> (STAT, DF, P) as PLINK printed them; DF 0 for the pairs it printed as nan."""
    with gzip.open(os.path.join(FIXTURE, "plink.epi.cc.gz"), "rt") as f:
        rows = [line.split() for line in f][1:]
    return {(r[1], r[3]): ((0.0, 0, 1.0) if r[4] == "nan" else (float(r[4]), int(r[5]), float(r[6]))) for r in rows}


def table(path):
    with open(path) as f:
        return [line.rstrip("\n").split("\t") for line in f]


@unittest.skipUnless(VARPAIR, "VARPAIR_BIN not set")
class BoostAgainstPlink(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.plink = plink_listing()
        cls.all = cls.run_at("1")

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    @classmethod
    def run_at(cls, alpha):
        out = os.path.join(cls.tmp.name, "boost-%s.txt" % alpha)
        r = subprocess.run([VARPAIR, "boost_interaction", "-file0", os.path.join(FIXTURE, "fixture.bed"), "-o", out,
                            "-alpha_cut", alpha], capture_output=True, text=True)
        assert r.returncode == 0, r.stdout + r.stderr
        rows = table(out)
        assert rows[0] == ["SNP0", "SNP1", "STAT", "DF", "P", "ID0", "ID1"], rows[0]
        return {(r[5], r[6]): (float(r[2]), int(r[3]), float(r[4])) for r in rows[1:]}, out, r.stdout

    def test_every_pair_plink_lists_has_its_statistic_and_degrees_of_freedom(self):
        ours, _, _ = self.all
        zeros = compared = 0
        for pair, (stat, df, _) in self.plink.items():
            if df == 0:  # PLINK's nan: a SNP with one genotype among the samples genotyped at both
                self.assertNotIn(pair, ours)
                continue
            self.assertIn(pair, ours)
            got_stat, got_df, got_p = ours[pair]
            self.assertEqual(got_df, df, pair)
            # 0 up to PLINK's rounding (it prints some as -1e-13 with P 0) or its convergence (its fit
            # stops once a cycle moves the cells by 0.001 in all, a few 1e-8 short of 0 on the boundary).
            if abs(stat) < 1e-6 and got_stat == 0.0:
                self.assertEqual(got_p, 1.0, pair)
                zeros += 1
                continue
            self.assertLess(abs(got_stat - stat) / abs(stat), 1e-5, "%s: %g against PLINK's %g" % (pair, got_stat, stat))
            compared += 1
        self.assertGreater(compared, 9000)
        self.assertGreater(zeros, 500)
        self.assertTrue(set(ours) - set(self.plink), "PLINK drops the pairs whose screen is exactly 0")
        for pair in set(ours) - set(self.plink):
            self.assertEqual(ours[pair][0], 0.0, pair)

    def test_tests_per_snp_are_plinks(self):
        _, out, console = self.all
        summary = table(out + ".summary")
        self.assertEqual(summary[0], ["SNP", "ID", "N_TOT", "N_SIG", "BEST_SNP", "BEST_ID", "BEST_STAT", "BEST_P"])
        ours = {r[1]: int(r[2]) for r in summary[1:]}
        with gzip.open(os.path.join(FIXTURE, "plink.epi.cc.summary.gz"), "rt") as f:
            theirs = {r[1]: int(r[3]) for r in (line.split() for line in list(f)[1:])}
        self.assertEqual(len(ours), 150)
        for snp, n in ours.items():  # PLINK leaves out the SNPs with one genotype: they take part in no test
            self.assertEqual(n, theirs.get(snp, 0), snp)
        self.assertIn("Tests (pairs with DF > 0): %d\n" % (sum(ours.values()) // 2), console)

    def test_a_cut_off_reports_exactly_the_listed_pairs_that_reach_it(self):
        # PLINK prints P with 4 significant digits: pairs within that of the cut-off may go either way;
        # and its P = 0 of statistics that are 0 (printed as -1e-13) is 1.
        listed = {pair: p for pair, (stat, df, p) in self.plink.items() if df > 0 and stat > 1e-6}
        for alpha, least in ((1e-4, 2), (0.01, 100)):
            ours, _, _ = self.run_at(str(alpha))
            expected = {pair for pair, p in listed.items() if p <= alpha * (1 - 5e-4)}
            borderline = {pair for pair, p in listed.items() if abs(p - alpha) <= 5e-4 * alpha}
            self.assertGreaterEqual(len(expected), least)
            self.assertTrue(expected <= set(ours), expected - set(ours))
            self.assertTrue(set(ours) <= expected | borderline, set(ours) - expected)
            for pair, values in ours.items():  # the same numbers as at cut-off 1
                self.assertEqual(values, self.all[0][pair])
            self.assertIn(("t0_snp60", "t0_snp135"), ours, "a planted pair is found")

if __name__ == "__main__":
    unittest.main()
