"""Inputs recognised by their content as well as their names, on real processes: upper-case and .vcf.bgz
names read as what they are; a VCF, a compressed file, a .bed, .bim or .fam given where a text table
would be read is refused with what it looks like; failures shown on standard error; VCF header
problems with htslib's reason; inputs without any genotype refused and mostly missing ones warned
about; nothing read as something else: calls naming an allele the site lacks are missing, repeated
variant IDs warned about, directories and FIFOs and -pheno files with a sample twice or coded 0/1
refused, an earlier output kept. VARPAIR_BIN and SIMULATE_BIN name the programs."""
import filecmp
import gzip
import os
import shutil
import subprocess
import tempfile
import unittest

VARPAIR = os.environ.get("VARPAIR_BIN")
SIMULATE = os.environ.get("SIMULATE_BIN")
ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
EXAMPLES = os.path.join(ROOT, "examples")


def varpair(*args):
    # A bounded wait: an input that hangs the run (a FIFO opened for reading) fails the test.
    return subprocess.run([VARPAIR] + list(args), capture_output=True, text=True, timeout=120)


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


@unittest.skipUnless(VARPAIR and SIMULATE, "VARPAIR_BIN and SIMULATE_BIN not set")
class InputKinds(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.d = cls.tmp.name
        cls.vcf = subprocess.run([SIMULATE, "cc", "--snps", "30", "--cases", "40", "--controls", "50", "--seed", "2",
                                  "--missing", "0.02", "--vcf", "vcf.gz", "--plink", "--out", cls.path("cc")],
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0
        if cls.vcf:
            with gzip.open(cls.path("cc.vcf.gz"), "rt") as f, open(cls.path("cc.vcf"), "w") as out:
                out.write(f.read())

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    @classmethod
    def path(cls, name):
        return os.path.join(cls.d, name)

    def refused(self, args, message):
        out = self.path("refused.txt")
        r = varpair(*args, "-o", out)
        self.assertEqual(r.returncode, 1, args)
        self.assertIn(message, r.stdout, args)
        self.assertIn(message, r.stderr, "the failure shows on standard error too")
        self.assertFalse(os.path.exists(out))
        return r

    def refused_keeping(self, args, message):
        """Refused with `message` on standard error; an earlier output under -o stays as it was."""
        out = self.path("earlier.txt")
        with open(out, "w") as f:
            f.write("an earlier table\n")
        r = varpair(*args, "-o", out)
        self.assertEqual(r.returncode, 1, args)
        self.assertIn(message, r.stderr, args)
        self.assertEqual(read_bytes(out), b"an earlier table\n", args)
        return r

    def test_names_match_without_regard_to_case_and_bgz_is_a_compressed_vcf(self):
        if not self.vcf:
            self.skipTest("built without htslib")
        shutil.copy(self.path("cc.vcf"), self.path("GATK.VCF"))
        shutil.copy(self.path("cc.vcf.gz"), self.path("study.vcf.bgz"))
        outputs = {}
        for name in ("cc.vcf", "GATK.VCF", "study.vcf.bgz"):
            out = self.path(name + ".txt")
            r = varpair("genotype_interaction", "-file0", self.path(name), "-pheno", self.path("cc.pheno"), "-o", out,
                        "-alpha_cut", "0.5", "-or_cut", "1.1")
            self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
            outputs[name] = out
        self.assertTrue(filecmp.cmp(outputs["GATK.VCF"], outputs["cc.vcf"], shallow=False))
        self.assertTrue(filecmp.cmp(outputs["study.vcf.bgz"], outputs["cc.vcf"], shallow=False))
        for part in ("bed", "bim", "fam"):  # an upper-case fileset
            shutil.copy(self.path("cc." + part), self.path("CC." + part.upper()))
        os.makedirs(self.path("mixed"), exist_ok=True)  # a .Bed beside lower-case parts
        for part, name in (("bed", "cc.Bed"), ("bim", "cc.bim"), ("fam", "cc.fam")):
            shutil.copy(self.path("cc." + part), os.path.join(self.path("mixed"), name))
        tables = {}
        for given in (self.path("CC.BED"), self.path("CC"), os.path.join(self.path("mixed"), "cc.Bed"),
                      self.path("cc")):
            out = given + ".boost.txt"
            r = varpair("boost_interaction", "-file0", given, "-o", out)
            self.assertEqual(r.returncode, 0, given + ": " + r.stdout + r.stderr)
            tables[given] = out
        for given, out in tables.items():
            self.assertTrue(filecmp.cmp(out, tables[self.path("cc")], shallow=False), given)

    def test_files_that_are_not_text_tables_are_refused_with_what_they_look_like(self):
        controls = os.path.join(EXAMPLES, "cc.controls.txt")
        shutil.copy(os.path.join(EXAMPLES, "cc.bed"), self.path("cc_bed_copy.txt"))
        with open(os.path.join(EXAMPLES, "cc.cases.txt"), "rb") as f, gzip.open(self.path("cases.gz"), "wb") as g:
            g.write(f.read())
        cases = [
            (os.path.join(EXAMPLES, "cc.bim"), "is the .bim of a PLINK fileset: give the .bed or the prefix"),
            (os.path.join(EXAMPLES, "cc.fam"), "is the .fam of a PLINK fileset: give the .bed or the prefix"),
            (self.path("cc_bed_copy.txt"), "is the .bed of a PLINK fileset"),
            (self.path("cases.gz"), "is compressed (gzip or BGZF)"),
        ]
        if self.vcf:
            shutil.copy(self.path("cc.vcf"), self.path("calls.txt"))
            cases.append((self.path("calls.txt"), "looks like a VCF: name it .vcf"))
        for path, message in cases:
            self.refused(["genotype_interaction", "-file0", path, "-file1", controls], message)
            self.refused(["interChromLDr2", "-file0", path, "-file1", os.path.join(EXAMPLES, "ld.file1.txt")], message)

    def test_six_sample_tables_with_missing_values_are_still_tables(self):
        # Six columns whose second holds missing values or numbers a .bim or .fam also has.
        # One file per token, in the second column of every line.
        rows = {}
        for k, token in enumerate(("N", "-", "9", ".", "NA", "-9", "1.0", "2.00", "N/A", "NC", "99")):
            rows["t%d.txt" % k] = ["0 %s 1 2 0 2" % token, "1 %s 0 1 A G" % token, "2 %s 1 0 0 1" % token]
        for name, lines in rows.items():
            with open(self.path(name), "w") as f:
                f.write("\n".join(lines * 3) + "\n")
            r = varpair("interChromLDr2", "-file0", self.path(name), "-file1", self.path(name), "-o",
                        self.path(name + ".r2"))
            self.assertEqual(r.returncode, 0, name + ": " + r.stdout)
            self.assertIn("File0: 9 rows, 6 cols", r.stdout, name)
        # The real thing with numeric sample IDs and unnamed variants is still refused.
        with open(self.path("numeric.fam"), "w") as f:
            f.write("".join("%d %d 0 0 1 2\n" % (1000 + k, 1000 + k) for k in range(5)))
        with open(self.path("unnamed.bim"), "w") as f:
            f.write("".join("1 . 0 %d A G\n" % (10000 + k) for k in range(5)))
        controls = os.path.join(EXAMPLES, "cc.controls.txt")
        self.refused(["genotype_interaction", "-file0", self.path("numeric.fam"), "-file1", controls],
                     "is the .fam of a PLINK fileset")
        self.refused(["genotype_interaction", "-file0", self.path("unnamed.bim"), "-file1", controls],
                     "is the .bim of a PLINK fileset")

    def test_a_failure_shows_on_standard_error_once(self):
        r = varpair("interChromLDr2", "-file0", self.path("missing.bed"), "-file1", self.path("missing.bed"), "-o",
                    self.path("x.txt"))
        self.assertEqual(r.returncode, 1)
        errors = [line for line in r.stdout.splitlines() if line.startswith("Error")]
        self.assertTrue(errors, r.stdout)
        self.assertEqual(r.stderr.splitlines(), errors, "each error line once on standard error, nothing else")

    def test_vcf_problems_are_told_apart(self):
        if not self.vcf:
            self.skipTest("built without htslib")
        with open(self.path("cc.vcf")) as f:
            lines = f.read().split("\n")
        chrom = next(k for k, line in enumerate(lines) if line.startswith("#CHROM"))
        spaces = lines[:chrom] + [lines[chrom].replace("\t", " ")] + lines[chrom + 1:]
        with open(self.path("spaces.vcf"), "w") as f:
            f.write("\n".join(spaces))
        open(self.path("empty.vcf"), "w").close()
        with open(self.path("plain.vcf"), "w") as f:
            f.write("1\t100\trs1\tA\tG\t.\t.\t.\tGT\t0/1\n")
        # Every call haploid: no genotype at all.
        haploid = [line if line.startswith("#") or not line else
                   "\t".join(line.split("\t")[:9] + [c.split("/")[0] for c in line.split("\t")[9:]])
                   for line in lines]
        with open(self.path("haploid.vcf"), "w") as f:
            f.write("\n".join(haploid))
        # A header htslib only warns about runs, and its warning still reaches the console.
        with open(self.path("untyped.vcf"), "w") as f:
            f.write("\n".join(lines[:1] + ['##INFO=<ID=XX,Number=1,Description="no type">'] + lines[1:]))
        r = varpair("genotype_interaction", "-file0", self.path("untyped.vcf"), "-pheno", self.path("cc.pheno"), "-o",
                    self.path("untyped.txt"))
        self.assertEqual(r.returncode, 0, r.stdout)
        self.assertEqual(r.stderr.count("An INFO field has no Type defined"), 1, r.stderr)
        for name, message in (("spaces.vcf", "could not parse the VCF header: "),
                              ("empty.vcf", "the file is empty"),
                              ("plain.vcf", "no VCF header (a VCF starts with ##fileformat=VCF)"),
                              ("haploid.vcf", "has no genotypes: all its 2700 calls (30 variants, 90 samples) are")):
            self.refused(["genotype_interaction", "-file0", self.path(name), "-pheno", self.path("cc.pheno")],
                         message if name != "haploid.vcf" else "has no genotypes")
            r = varpair("interChromLDr2", "-file0", self.path(name), "-file1", self.path("cc.vcf"), "-o",
                        self.path("ld.txt"))
            self.assertEqual(r.returncode, 1)
            self.assertIn(message, r.stdout, name)

    def test_mostly_missing_calls_are_warned_about(self):
        with open(os.path.join(EXAMPLES, "ld.file0.txt")) as f:
            rows = [line.split() for line in f]
        with open(self.path("sparse.txt"), "w") as f:
            for row in rows:
                f.write(" ".join(g if k % 3 == 0 else "NA" for k, g in enumerate(row)) + "\n")
        r = varpair("interChromLDr2", "-file0", self.path("sparse.txt"), "-file1",
                    os.path.join(EXAMPLES, "ld.file1.txt"), "-o", self.path("sparse-r2.txt"))
        self.assertEqual(r.returncode, 0, r.stdout)
        self.assertIn("Warning: %s: 66." % self.path("sparse.txt"), r.stdout)
        self.assertIn("% of its 48000 calls are missing", r.stdout)

    def test_calls_naming_an_allele_the_site_lacks_are_missing_and_counted(self):
        if not self.vcf:
            self.skipTest("built without htslib")
        odd, missing, k = [], [], 0
        for line in read_bytes(self.path("cc.vcf")).decode().split("\n"):
            if line.startswith("#") or not line:
                odd.append(line)
                missing.append(line)
                continue
            f = line.split("\t")
            g, m = list(f), list(f)
            for s in range(9, len(f), 7):  # every seventh sample, every site (ALT has one allele)
                g[s], m[s] = ("0/2", "2/2", "2|1")[k % 3], "./."
                k += 1
            odd.append("\t".join(g))
            missing.append("\t".join(m))
        tables = {}
        for name, lines in (("odd.vcf", odd), ("missing.vcf", missing)):
            with open(self.path(name), "w") as f:
                f.write("\n".join(lines))
            out = self.path(name + ".txt")
            r = varpair("boost_interaction", "-file0", self.path(name), "-pheno", self.path("cc.pheno"), "-o", out,
                        "-alpha_cut", "1")
            self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
            tables[name] = (out, r.stdout)
        self.assertEqual(read_bytes(tables["odd.vcf"][0]), read_bytes(tables["missing.vcf"][0]),
                         "0/2, 2/2 and 2|1 read as ./.")
        note = "%d calls naming an allele their site does not have (such as 0/2 where ALT has one) set missing" % k
        self.assertIn(self.path("odd.vcf") + ": " + note, tables["odd.vcf"][1])
        with open(self.path("odd.vcf.log"), encoding="utf-8-sig") as log:
            self.assertIn(note, log.read())
        self.assertNotIn("naming an allele", tables["missing.vcf"][1])

    def test_repeated_variant_ids_are_warned_about(self):
        for part in ("bed", "fam"):
            shutil.copy(os.path.join(EXAMPLES, "cc." + part), self.path("dup." + part))
        with open(os.path.join(EXAMPLES, "cc.bim")) as f:
            bim = [line.split("\t") for line in f]
        first = bim[2][1]
        for k in (5, 9):
            bim[k][1] = first
        with open(self.path("dup.bim"), "w") as f:
            f.write("".join("\t".join(line) for line in bim))
        warning = ("Warning: %s: 2 variants repeat the ID of an earlier one (%s is variant 2 and 5); ID0 and ID1 do "
                   "not tell them apart, SNP0 and SNP1 do" % (self.path("dup.bed"), first))
        for args, log in ((["genotype_interaction", "-file0", self.path("dup.bed"), "-o", self.path("dup.txt")],
                           self.path("dup.log")),
                          (["interChromLDr2", "-file0", self.path("dup.bed"), "-file1",
                            os.path.join(EXAMPLES, "cc.bed"), "-o", self.path("dup-ld.txt")],
                           self.path("dup-ld.txt.log"))):
            r = varpair(*args)
            self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
            self.assertEqual(r.stdout.count(warning), 1, r.stdout)
            with open(log, encoding="utf-8-sig") as f:
                self.assertIn(warning, f.read())
        r = varpair("genotype_interaction", "-file0", os.path.join(EXAMPLES, "cc.bed"), "-o", self.path("clean.txt"))
        self.assertNotIn("repeat the ID", r.stdout)

    def test_directories_and_fifos_are_refused_by_what_they_are(self):
        a_dir, dir_vcf, dir_bed = self.path("a_dir"), self.path("dir.vcf"), self.path("dir.bed")
        a_fifo, fifo_vcf = self.path("a_fifo"), self.path("fifo.vcf")
        for d in (a_dir, dir_vcf, dir_bed):
            os.makedirs(d, exist_ok=True)
        for f in (a_fifo, fifo_vcf):
            if not os.path.exists(f):
                os.mkfifo(f)
        cc, controls = os.path.join(EXAMPLES, "cc.bed"), os.path.join(EXAMPLES, "cc.controls.txt")
        ld0 = os.path.join(EXAMPLES, "ld.file0.txt")
        for args, message in (
                (["genotype_interaction", "-file0", a_dir, "-file1", controls],
                 "Error: -file0 is a directory: " + a_dir),
                (["interChromLDr2", "-file0", ld0, "-file1", a_fifo],
                 "Error: -file1 is not a regular file (a FIFO): " + a_fifo),
                (["boost_interaction", "-file0", dir_vcf, "-pheno", controls],
                 "Error: -file0 is a directory: " + dir_vcf),
                (["boost_interaction", "-file0", fifo_vcf, "-pheno", controls],
                 "Error: -file0 is not a regular file (a FIFO): " + fifo_vcf),
                (["mdr_interaction", "-file0", dir_bed], "Error: -file0 is a directory: " + dir_bed),
                (["genotype_interaction", "-file0", cc, "-pheno", a_fifo],
                 "Error: -pheno is not a regular file (a FIFO): " + a_fifo),
                (["domrec_interaction", "-file0", cc, "-covar", a_dir], "Error: -covar is a directory: " + a_dir)):
            self.refused_keeping(args, message)

    def test_phenotype_files_that_would_be_misread_are_refused(self):
        with open(os.path.join(EXAMPLES, "cc.fam")) as f:
            fam = [line.split() for line in f]
        lines = ["%s %s %s" % (f[0], f[1], f[5]) for f in fam]
        cases = [
            # The third sample again, as a control: it would take its last line.
            (lines + ["%s %s 1" % tuple(fam[2][:2])],
             ": line %d: sample %s %s appears twice (also line 3)" % (len(lines) + 1, fam[2][0], fam[2][1])),
            (lines + ["%s 1" % fam[2][1]], ": line %d: sample %s appears twice (also line 3)" %
             (len(lines) + 1, fam[2][1])),  # the same sample by its IID alone
            (["%s %s %d" % (f[0], f[1], int(f[5]) - 1) for f in fam],
             ": 0 cases and 300 controls by phenotype (2 case, 1 control); both are needed (phenotypes coded 0/1 "
             "read as missing and control: code cases 2 and controls 1)"),
        ]
        for k, (text, message) in enumerate(cases):
            pheno = self.path("p%d.pheno" % k)
            with open(pheno, "w") as f:
                f.write("\n".join(text) + "\n")
            self.refused_keeping(
                ["genotype_interaction", "-file0", os.path.join(EXAMPLES, "cc.bed"), "-pheno", pheno],
                "Error reading case file: " + pheno + message)


if __name__ == "__main__":
    unittest.main()
