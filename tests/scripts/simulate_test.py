"""Tests of varpair-simulate (SIMULATE_BIN) with varpair (VARPAIR_BIN): the tables' shapes, the
PLINK fileset's layout, determinism, and that the planted signals are there to be found."""
import os
import subprocess
import tempfile
import unittest

SIMULATE = os.environ.get("SIMULATE_BIN")
VARPAIR = os.environ.get("VARPAIR_BIN")


def simulate(*args):
    return subprocess.run([SIMULATE] + list(args), check=True, capture_output=True, text=True).stdout


def rows(path):
    with open(path) as f:
        return [line.split() for line in f]


@unittest.skipUnless(SIMULATE and VARPAIR, "SIMULATE_BIN and VARPAIR_BIN not set")
class Simulate(unittest.TestCase):
    def test_case_control_tables_and_their_plink_fileset(self):
        with tempfile.TemporaryDirectory() as d:
            out = os.path.join(d, "cc")
            printed = simulate("cc", "--snps", "50", "--cases", "30", "--controls", "41", "--missing", "0.05",
                               "--plink", "--out", out)
            self.assertIn("planted: SNPs 5 and 30, homozygote x homozygote", printed)
            cases, controls = rows(out + ".cases.txt"), rows(out + ".controls.txt")
            self.assertEqual((len(cases), len(cases[0])), (50, 30))
            self.assertEqual((len(controls), len(controls[0])), (50, 41))
            tokens = [t for r in cases + controls for t in r]
            self.assertTrue(set(tokens) <= {"0", "1", "2", "NA"})
            self.assertGreater(tokens.count("NA"), 0)
            with open(out + ".bed", "rb") as f:
                bed = f.read()
            self.assertEqual(bed[:3], b"\x6c\x1b\x01")
            self.assertEqual(len(bed), 3 + 50 * ((71 + 3) // 4))
            # The first SNP's codes (copies of A1) decode back to the tables' genotypes, cases first.
            decode = {0b00: "2", 0b10: "1", 0b11: "0", 0b01: "NA"}
            first = [decode[(bed[3 + s // 4] >> (2 * (s % 4))) & 3] for s in range(71)]
            self.assertEqual(first, cases[0] + controls[0])
            with open(out + ".fam") as f:
                phenotypes = [line.split()[5] for line in f]
            self.assertEqual(phenotypes, ["2"] * 30 + ["1"] * 41)
            with open(out + ".bim") as f:
                self.assertEqual(f.readline().split(), ["1", "t0_snp0", "0", "1000", "G", "A"])

    def test_the_same_seed_gives_the_same_tables(self):
        with tempfile.TemporaryDirectory() as d:
            for name in ("a", "b"):
                simulate("ld", "--rows0", "40", "--rows1", "30", "--samples", "25", "--seed", "3", "--out",
                         os.path.join(d, name))
            for suffix in (".file0.txt", ".file1.txt"):
                with open(os.path.join(d, "a" + suffix)) as a, open(os.path.join(d, "b" + suffix)) as b:
                    self.assertEqual(a.read(), b.read())

    def test_planted_signals_are_found(self):
        with tempfile.TemporaryDirectory() as d:
            ld = os.path.join(d, "ld")
            printed = simulate("ld", "--rows0", "60", "--rows1", "40", "--samples", "300", "--out", ld)
            self.assertIn("planted: file1 SNPs 20-39 copy file0 SNPs", printed)
            subprocess.run([VARPAIR, "interChromLDr2", "-file0", ld + ".file0.txt", "-file1", ld + ".file1.txt",
                            "-o", ld + ".r2", "-r2_cut", "0.5"], check=True, capture_output=True)
            strong = [r for r in rows(ld + ".r2")[1:]]
            self.assertTrue(strong and all(20 <= int(r[1]) <= 39 for r in strong), strong[:5])

            cc = os.path.join(d, "cc")
            simulate("cc", "--snps", "100", "--cases", "400", "--controls", "400", "--out", cc)
            subprocess.run([VARPAIR, "genotype_interaction", "-file0", cc + ".cases.txt", "-file1",
                            cc + ".controls.txt", "-o", cc + ".gi.txt"], check=True, capture_output=True)
            found = {(r[1], r[2]) for r in rows(cc + ".gi.txt")[1:]}
            self.assertIn(("10", "60"), found)
            self.assertIn(("40", "90"), found)


if __name__ == "__main__":
    unittest.main()
