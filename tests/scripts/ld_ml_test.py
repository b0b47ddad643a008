"""-estimate ml against PLINK 1.9's --r2 inter-chr dprime on committed fixtures without and with
missing calls (tests/data/ld-ml/README.md): r2 and D' within 1e-5 of PLINK's for every cross pair, in
text tables and in part files, and at a cut-off a pair on one side only lies within 1e-5 of it; the
default estimate stays the 20-round EM. VARPAIR_BIN names the program."""
import gzip
import io
import os
import subprocess
import sys
import tempfile
import unittest

VARPAIR = os.environ.get("VARPAIR_BIN")
ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
FIXTURE = os.path.join(ROOT, "tests", "data", "ld-ml")
sys.path.insert(0, os.path.join(ROOT, "scripts"))
import read_parts  # noqa: E402


def plink(name):
    """(ID0, ID1) -> (r2, D') of the cross pairs (chromosome 1 against 2)."""
    with gzip.open(os.path.join(FIXTURE, "plink-%s.ld.gz" % name), "rt") as f:
        rows = [line.split() for line in list(f)[1:]]
    return {(r[2], r[5]): (float(r[6]), float(r[7])) for r in rows if r[0] == "1" and r[3] == "2"}


@unittest.skipUnless(VARPAIR, "VARPAIR_BIN not set")
class MaximumLikelihoodLd(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()

    def tearDown(self):
        self.tmp.cleanup()

    def run_ld(self, name, command, cut, *extra):
        bed = os.path.join(FIXTURE, name + ".bed")
        out = os.path.join(self.tmp.name, "%s-%s-%s" % (name, command, cut))
        r = subprocess.run([VARPAIR, command, "-file0", bed, "-chr0", "1", "-file1", bed, "-chr1", "2", "-o", out,
                            "-" + ("r2" if command == "interChromLDr2" else "dprime") + "_cut", cut] + list(extra),
                           capture_output=True, text=True)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        return out, r.stdout

    def table(self, path):
        with open(path, encoding="utf-8-sig") as f:
            return {(r[3], r[4]): float(r[2]) for r in (line.rstrip("\n").split("\t") for line in list(f)[1:])}

    def test_every_cross_pair_equals_plinks(self):
        for name in ("complete", "missing"):
            theirs = plink(name)
            self.assertEqual(len(theirs), 40 * 30)
            for column, command in ((0, "interChromLDr2"), (1, "interChromLDdprime")):
                # Every value as a text table (a cut-off below any), and decoded from part files.
                out, console = self.run_ld(name, command, "1e-30", "-estimate", "ml")
                self.assertIn("Estimate: ml (maximum likelihood", console)
                ours = self.table(out)
                for pair, values in theirs.items():
                    self.assertLess(abs(ours.get(pair, 0.0) - values[column]), 1e-5, "%s %s %s" % (name, command, pair))
                parts, _ = self.run_ld(name, command, "0", "-estimate", "ml")
                text = io.StringIO()
                read_parts.decode(parts, out=text)
                decoded = {(r[3], r[4]): float(r[2]) for r in (line.split("\t") for line in text.getvalue().split("\n")[1:] if line)}
                for pair, values in theirs.items():
                    self.assertLessEqual(abs(decoded[pair] - values[column]), 0.0005 + 1e-5, pair)
                em, _ = self.run_ld(name, command, "1e-30")
                worst = max(abs(v - theirs[p][column]) for p, v in self.table(em).items())
                if command == "interChromLDdprime":
                    self.assertGreater(worst, 0.01, "the default is the 20-round EM, not the maximum")

    def test_a_cut_off_parts_the_pairs_as_plinks_values_do(self):
        theirs = plink("missing")
        for column, command in ((0, "interChromLDr2"), (1, "interChromLDdprime")):
            cut = 0.5
            out, _ = self.run_ld("missing", command, str(cut), "-estimate", "ml")
            ours = set(self.table(out))
            expected = {p for p, v in theirs.items() if v[column] >= cut}
            self.assertGreater(len(expected), 10)
            for pair in ours ^ expected:
                self.assertLess(abs(theirs[pair][column] - cut), 1e-5, "%s %s" % (command, pair))


if __name__ == "__main__":
    unittest.main()
