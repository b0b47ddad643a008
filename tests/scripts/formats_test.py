"""Every command gives the same numbers from a PLINK fileset, a VCF, a BCF, a bgzipped VCF and the
equivalent text tables of the same genotypes (missing calls included, samples shuffled), with the
variant IDs in their own columns. VARPAIR_BIN and SIMULATE_BIN name the programs."""
import os
import subprocess
import sys
import tempfile
import unittest

VARPAIR = os.environ.get("VARPAIR_BIN")
SIMULATE = os.environ.get("SIMULATE_BIN")
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
import read_parts  # noqa: E402


def run(*args):
    result = subprocess.run([VARPAIR] + list(args), capture_output=True, text=True)
    if result.returncode != 0:
        raise AssertionError("varpair %s failed (%d):\n%s%s" % (" ".join(args), result.returncode, result.stdout,
                                                               result.stderr))
    return result.stdout


def table(path, columns=None):
    with open(path, encoding="utf-8-sig") as f:
        return [line.rstrip("\n").split("\t")[:columns] for line in f]


@unittest.skipUnless(VARPAIR and SIMULATE, "VARPAIR_BIN and SIMULATE_BIN not set")
class Formats(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        d = cls.tmp.name
        ld = ["ld", "--rows0", "70", "--rows1", "50", "--samples", "301", "--seed", "5", "--missing", "0.03"]
        cc = ["cc", "--snps", "60", "--cases", "150", "--controls", "173", "--seed", "5", "--missing", "0.03"]
        # A build without htslib (a GPU machine may lack it) reads and writes no VCF: those cases wait.
        cls.vcf = subprocess.run([SIMULATE] + cc + ["--vcf", "vcf", "--out", os.path.join(d, "probe")],
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0
        vcf = lambda *args: list(args) if cls.vcf else []  # noqa: E731
        for name, args in (("ld", ld + ["--plink"] + vcf("--vcf", "vcf")),
                           ("lds", ld + ["--plink", "--shuffle-samples"] + vcf("--vcf", "bcf")),
                           ("ldz", ld + ["--shuffle-samples"] + vcf("--vcf", "vcf.gz")),
                           ("cc", cc + ["--plink"] + vcf("--vcf", "vcf")),
                           ("ccs", cc + ["--plink", "--shuffle-samples"] + vcf("--vcf", "bcf")),
                           ("ccz", cc + ["--shuffle-samples"] + vcf("--vcf", "vcf.gz"))):
            subprocess.run([SIMULATE] + args + ["--out", os.path.join(d, name)], check=True,
                           stdout=subprocess.DEVNULL)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def path(self, name):
        return os.path.join(self.tmp.name, name)

    def ld_inputs(self):
        """The same two tables as text, and as filesets and VCFs in other sample orders."""
        inputs = {
            "text": ["-file0", self.path("ld.file0.txt"), "-file1", self.path("ld.file1.txt")],
            "bed": ["-file0", self.path("ld.bed"), "-chr0", "1", "-file1", self.path("ld.bed"), "-chr1", "2"],
            "shuffled bed": ["-file0", self.path("lds"), "-chr0", "chr1", "-file1", self.path("ld.bed"), "-chr1", "2"],
        }
        if self.vcf:
            inputs["bcf+vcf"] = ["-file0", self.path("lds.bcf"), "-chr0", "1", "-file1", self.path("ld.vcf"), "-chr1",
                                 "2"]
            inputs["vcf.gz+prefix"] = ["-file0", self.path("ldz.vcf.gz"), "-chr0", "chr1", "-file1", self.path("lds"),
                                       "-chr1", "2"]
        return inputs

    def test_ld_text_tables_and_distributions(self):
        for command, cut in (("interChromLDr2", "-r2_cut"), ("interChromLDdprime", "-dprime_cut")):
            results = {}
            for name, inputs in self.ld_inputs().items():
                out = self.path("%s-%s.txt" % (command, name))
                console = run(command, *inputs, "-o", out, cut, "0.3", "-distribution", out + ".dist")
                with open(out + ".dist", "rb") as f:
                    results[name] = (table(out), f.read())
                if name != "text":
                    self.assertIn("Samples matched by ID: 301 in both tables; 0 of file0 and 0 of file1 left out",
                                  console)
            text, dist = results.pop("text")
            self.assertGreater(len(text), 20)
            for name, (rows, other_dist) in results.items():
                self.assertEqual([r[:3] for r in rows], text, name)
                self.assertEqual(rows[0][3:], ["ID0", "ID1"])
                self.assertTrue(all(r[3] == "t0_snp" + r[0] and r[4] == "t1_snp" + r[1] for r in rows[1:]), name)
                self.assertEqual(other_dist, dist, name)

    def test_ld_part_files(self):
        decoded = {}
        for name, inputs in self.ld_inputs().items():
            out = self.path("parts-" + name)
            run("interChromLDdprime", *inputs, "-o", out, "-dprime_cut", "0")
            text = tempfile.SpooledTemporaryFile(mode="w+")
            read_parts.decode(out, out=text)
            text.seek(0)
            decoded[name] = [line.split("\t") for line in text.read().splitlines()]
        text = decoded.pop("text")
        self.assertEqual(len(text), 70 * 50 + 1)
        for name, rows in decoded.items():
            self.assertEqual([r[:3] for r in rows[1:]], text[1:], name)
            self.assertEqual(rows[0], ["SNP0", "SNP1", "value", "ID0", "ID1"])
            self.assertEqual(rows[-1][3:], ["t0_snp69", "t1_snp49"])

    def test_interaction_tables(self):
        inputs = {
            "text": ["-file0", self.path("cc.cases.txt"), "-file1", self.path("cc.controls.txt")],
            "bed by .fam": ["-file0", self.path("cc.bed")],
            "shuffled bed by .fam": ["-file0", self.path("ccs")],
        }
        if self.vcf:
            inputs["bcf by -pheno"] = ["-file0", self.path("ccs.bcf"), "-pheno", self.path("ccs.pheno")]
            inputs["vcf.gz by -pheno"] = ["-file0", self.path("ccz.vcf.gz"), "-pheno", self.path("ccz.pheno")]
            inputs["vcf by -pheno"] = ["-file0", self.path("cc.vcf"), "-pheno", self.path("cc.pheno")]
        for command in ("genotype_interaction", "mdr_interaction", "domrec_interaction", "boost_interaction"):
            # (options, numeric columns, where SNP0 and SNP1 are)
            options, columns, snps = (["-alpha_cut", "0.5"], 5, 0) if command == "boost_interaction" else \
                (["-alpha_cut", "0.05", "-or_cut", "1.2"], 12, 1)
            results, summaries = {}, {}
            for name, args in inputs.items():
                out = self.path("%s-%s.txt" % (command, name.replace(" ", "_")))
                console = run(command, *args, "-o", out, *options)
                results[name] = table(out)
                if os.path.exists(out + ".summary"):
                    summaries[name] = [r[:1] + r[2:5] + r[6:] for r in table(out + ".summary")]
                if name != "text":
                    self.assertIn("150 cases, 173 controls", console)
            text = results.pop("text")
            self.assertGreater(len(text), 10, command)
            for name, rows in results.items():
                self.assertEqual([r[:columns] for r in rows], text, "%s from %s" % (command, name))
                self.assertTrue(all(r[columns] == "t0_snp" + r[snps] and r[columns + 1] == "t0_snp" + r[snps + 1]
                                    for r in rows[1:]))
                if summaries:  # the same summary, but for the IDs
                    self.assertEqual(summaries[name], summaries["text"], "%s summary from %s" % (command, name))


if __name__ == "__main__":
    unittest.main()
