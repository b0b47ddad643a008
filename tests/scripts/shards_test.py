"""-parallel K N and `varpair merge`: for every command and N in 1, 2, 3 and 7, the merged shards
equal one run byte for byte (text tables, distributions, decoded part files with their IDs,
interaction tables and the BOOST summary), including shard counts that do not divide the rows and shards that hold no
complete group; and a merge refuses missing, unfinished or damaged shards without writing anything,
saying why on standard error. VARPAIR_BIN names the program."""
import filecmp
import io
import os
import subprocess
import sys
import tempfile
import unittest

VARPAIR = os.environ.get("VARPAIR_BIN")
ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
EXAMPLES = os.path.join(ROOT, "examples")
sys.path.insert(0, os.path.join(ROOT, "scripts"))
import read_parts  # noqa: E402

LD = ["-file0", os.path.join(EXAMPLES, "ld.file0.txt"), "-file1", os.path.join(EXAMPLES, "ld.file1.txt")]
LD_FILESET = ["-file0", os.path.join(EXAMPLES, "ld.bed"), "-chr0", "1", "-file1", os.path.join(EXAMPLES, "ld.bed"),
              "-chr1", "2"]
CC = ["-file0", os.path.join(EXAMPLES, "cc.cases.txt"), "-file1", os.path.join(EXAMPLES, "cc.controls.txt")]
CC_FILESET = ["-file0", os.path.join(EXAMPLES, "cc.bed")]


def varpair(*args):
    return subprocess.run([VARPAIR] + list(args), capture_output=True, text=True)


def ok(*args):
    r = varpair(*args)
    if r.returncode != 0:
        raise AssertionError("varpair %s: exit %d\n%s%s" % (" ".join(args), r.returncode, r.stdout[-3000:], r.stderr))
    return r


def decoded(output):
    text = io.StringIO()
    read_parts.decode(output, out=text)
    return text.getvalue()


@unittest.skipUnless(VARPAIR, "VARPAIR_BIN not set")
class Shards(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.d = self.dir.name

    def tearDown(self):
        self.dir.cleanup()

    def sharded(self, name, command, n, options):
        """Runs the N shards of `command` and merges them; returns the merged -o."""
        out = os.path.join(self.d, name, "out.txt")
        os.makedirs(os.path.dirname(out), exist_ok=True)
        dist = ["-distribution", os.path.join(self.d, name, "dist.txt")] if "-distribution" in options else []
        options = [o for o in options if o != "-distribution"]
        for k in range(1, n + 1):
            ok(command, *options, "-o", out, *dist, "-parallel", str(k), str(n))
        ok("merge", "-o", out, "-parallel", str(n), *dist)
        return out

    def single(self, name, command, options):
        out = os.path.join(self.d, name, "out.txt")
        os.makedirs(os.path.dirname(out), exist_ok=True)
        dist = ["-distribution", os.path.join(self.d, name, "dist.txt")] if "-distribution" in options else []
        ok(command, *[o for o in options if o != "-distribution"], "-o", out, *dist)
        return out

    def test_ld_text_tables_and_distributions(self):
        for command, cut in (("interChromLDr2", ["-r2_cut", "0.3"]), ("interChromLDdprime", ["-dprime_cut", "0.5"])):
            for inputs, label in ((LD, "text"), (LD_FILESET, "fileset")):
                options = inputs + cut + ["-distribution"]
                one = self.single("one-%s-%s" % (command, label), command, options)
                for n in (1, 2, 3, 7):
                    merged = self.sharded("%s-%s-%d" % (command, label, n), command, n, options)
                    self.assertTrue(filecmp.cmp(merged, one, shallow=False), "%s %s N=%d" % (command, label, n))
                    self.assertTrue(filecmp.cmp(os.path.join(os.path.dirname(merged), "dist.txt"),
                                                os.path.join(os.path.dirname(one), "dist.txt"), shallow=False))

    def test_ld_part_files(self):
        for inputs, label in ((LD, "text"), (LD_FILESET, "fileset")):
            one = decoded(self.single("one-" + label, "interChromLDdprime", inputs + ["-dprime_cut", "0"]))
            for n in (1, 3, 7):
                merged = self.sharded("parts-%s-%d" % (label, n), "interChromLDdprime", n, inputs + ["-dprime_cut", "0"])
                self.assertEqual(decoded(merged), one, "%s N=%d" % (label, n))
                # A shard alone reads as the pairs it holds: rows 120 // N to 2 * 120 // N - 1 of -file0.
                k = min(2, n)
                _, rows1, parts = read_parts.check_parts(os.path.join(os.path.dirname(merged), "out.%d.txt" % k))
                self.assertEqual(parts[0][0], (k - 1) * 120 // n * rows1)
                self.assertEqual(sum(count for _, count, _ in parts), (k * 120 // n - (k - 1) * 120 // n) * rows1)

    def test_interaction_tables(self):
        for command in ("genotype_interaction", "mdr_interaction", "domrec_interaction", "boost_interaction"):
            for inputs, label in ((CC, "text"), (CC_FILESET, "fileset")):
                cut = ["-alpha_cut", "0.01"] if command == "boost_interaction" else ["-alpha_cut", "0.01", "-or_cut", "1.5"]
                one = self.single("one-%s-%s" % (command, label), command, inputs + cut)
                for n in (1, 2, 3, 7):
                    merged = self.sharded("%s-%s-%d" % (command, label, n), command, n, inputs + cut)
                    self.assertTrue(filecmp.cmp(merged, one, shallow=False), "%s %s N=%d" % (command, label, n))
                    if command == "boost_interaction":  # and its per-SNP summary
                        self.assertTrue(filecmp.cmp(merged + ".summary", one + ".summary", shallow=False), n)

    def test_shards_name_their_files_apart_and_bad_counts_are_refused(self):
        out = os.path.join(self.d, "o.txt")
        ok("interChromLDr2", *LD, "-o", out, "-parallel", "2", "3", "-distribution", os.path.join(self.d, "d.txt"))
        self.assertEqual(sorted(os.listdir(self.d)), ["d.2.txt", "o.2.txt", "o.2.txt.log", "o.2.txt.shard"])
        for value in (["4", "3"], ["0", "3"], ["1", "x"]):
            r = varpair("genotype_interaction", *CC, "-o", out, "-parallel", *value)
            self.assertEqual(r.returncode, 1, value)
            self.assertIn("Invalid value for -parallel", r.stderr)
        for tail in (["2"], ["2", "-alpha_cut", "0.1"]):  # one value, last or before another option
            r = varpair("genotype_interaction", *CC, "-o", out, "-parallel", *tail)
            self.assertEqual(r.returncode, 1, tail)
            self.assertEqual(r.stderr, "Error: -parallel takes two values: -parallel K N runs shard K of N "
                                       "(got only '2')\n")
        r = varpair("interChromLDr2", *LD, "-o", os.path.join(self.d, "many.txt"), "-parallel", "1", "121")
        self.assertEqual(r.returncode, 1)
        self.assertIn("file0 has 120 rows, fewer than the 121 shards", r.stdout)

    def test_outputs_without_an_extension_get_a_log_each(self):
        out = os.path.join(self.d, "gi")
        for k in (1, 2):
            ok("genotype_interaction", *CC, "-o", out, "-parallel", str(k), "2")
        self.assertTrue(os.path.exists(os.path.join(self.d, "gi.1.log")))
        self.assertTrue(os.path.exists(os.path.join(self.d, "gi.2.log")))
        ok("merge", "-o", out, "-parallel", "2")
        one = self.single("one-gi", "genotype_interaction", CC)
        self.assertTrue(filecmp.cmp(out, one, shallow=False))

    def test_shards_of_changed_inputs_are_not_merged(self):
        out = os.path.join(self.d, "o.txt")
        cases = os.path.join(self.d, "cases.txt")
        with open(CC[1]) as f, open(cases, "w") as g:
            g.write(f.read())
        inputs = ["-file0", cases, "-file1", CC[3]]
        ok("genotype_interaction", *inputs, "-o", out, "-parallel", "1", "2")
        with open(cases, "a") as g:  # regenerated between the two array tasks
            g.write("")
        os.utime(cases, ns=(1, 1))
        ok("genotype_interaction", *inputs, "-o", out, "-parallel", "2", "2")
        r = varpair("merge", "-o", out, "-parallel", "2")
        self.assertEqual(r.returncode, 1)
        self.assertIn("shard 2 of 2 read other input files than shard 1", r.stderr)

    def test_a_failing_merge_puts_nothing_in_place_and_says_why(self):
        out, dist = os.path.join(self.d, "o.txt"), os.path.join(self.d, "d.txt")
        for k in (1, 2):
            ok("interChromLDr2", *LD, "-o", out, "-distribution", dist, "-parallel", str(k), "2")
        with open(out, "w") as f:
            f.write("an earlier table\n")
        os.remove(os.path.join(self.d, "d.2.txt"))  # the second shard's distribution is gone
        r = varpair("merge", "-o", out, "-parallel", "2", "-distribution", dist)
        self.assertEqual(r.returncode, 1)
        self.assertIn(os.path.join(self.d, "d.2.txt"), r.stderr)
        with open(out) as f:
            self.assertEqual(f.read(), "an earlier table\n")
        self.assertFalse(os.path.exists(dist))
        self.assertEqual([n for n in os.listdir(self.d) if ".partial-" in n], [])
        # An interaction shard's records cut short, then gone: the reason on standard error, not
        # only that the merge is incomplete.
        gi = os.path.join(self.d, "gi.txt")
        for k in (1, 2):
            ok("genotype_interaction", *CC, "-o", gi, "-parallel", str(k), "2", "-alpha_cut", "0.5", "-or_cut", "1.2")
        with open(gi, "w") as f:
            f.write("an earlier table\n")
        records = os.path.join(self.d, "gi.2.txt.records")
        os.truncate(records, os.path.getsize(records) - 10)
        for damage in ("cut short", "gone"):
            if damage == "gone":
                os.remove(records)
            r = varpair("merge", "-o", gi, "-parallel", "2")
            self.assertEqual(r.returncode, 1, damage)
            self.assertIn("Error: %s does not hold the " % records, r.stderr, damage)
            self.assertIn("Error: The merge is incomplete; no output was put in place", r.stderr, damage)
            with open(gi) as f:
                self.assertEqual(f.read(), "an earlier table\n", damage)

    def test_a_merge_refuses_missing_and_unfinished_shards(self):
        out = os.path.join(self.d, "o.txt")
        for k in (1, 3):
            ok("genotype_interaction", *CC, "-o", out, "-parallel", str(k), "3")
        r = varpair("merge", "-o", out, "-parallel", "3")
        self.assertEqual(r.returncode, 1)
        self.assertIn("shard 2 of 3 is missing or did not finish", r.stderr)
        ok("genotype_interaction", *CC, "-o", out, "-parallel", "2", "3")
        with open(os.path.join(self.d, "o.2.log"), "a") as log:
            log.write("Error: Interrupted by SIGTERM; outputs not yet complete were removed\n")
        r = varpair("merge", "-o", out, "-parallel", "3")
        self.assertEqual(r.returncode, 1)
        self.assertIn("shard 2 of 3 did not finish successfully", r.stderr)
        self.assertFalse(os.path.exists(out))
        self.assertFalse(os.path.exists(os.path.join(self.d, "o.log")))


if __name__ == "__main__":
    unittest.main()
