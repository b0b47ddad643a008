"""scripts/plot.py on the outputs of real runs of the examples: each kind of plot makes an image of
the expected size (PNG, or SVG by the output's name), and an input of the wrong kind is refused
with a message. VARPAIR_BIN names the program."""
import os
import struct
import subprocess
import sys
import tempfile
import unittest

VARPAIR = os.environ.get("VARPAIR_BIN")
ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
EXAMPLES = os.path.join(ROOT, "examples")
PLOT = os.path.join(ROOT, "scripts", "plot.py")


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    assert head[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    return struct.unpack(">II", head[16:24])


def plot(*args):
    return subprocess.run([sys.executable, PLOT] + list(args), capture_output=True, text=True)


@unittest.skipUnless(VARPAIR, "VARPAIR_BIN not set")
class Plots(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        d = cls.tmp.name
        ld = ["-file0", os.path.join(EXAMPLES, "ld.bed"), "-chr0", "1", "-file1", os.path.join(EXAMPLES, "ld.bed"),
              "-chr1", "2"]
        runs = [["interChromLDr2"] + ld + ["-o", os.path.join(d, "r2.txt"), "-r2_cut", "0.5", "-distribution",
                                           os.path.join(d, "dist.txt")],
                ["interChromLDdprime"] + ld + ["-o", os.path.join(d, "dp"), "-dprime_cut", "0"],
                ["genotype_interaction", "-file0", os.path.join(EXAMPLES, "cc.bed"), "-o", os.path.join(d, "gi.txt")],
                ["boost_interaction", "-file0", os.path.join(EXAMPLES, "cc.bed"), "-o", os.path.join(d, "boost.txt"),
                 "-alpha_cut", "0.001"]]
        for run in runs:
            subprocess.run([VARPAIR] + run, check=True, stdout=subprocess.DEVNULL)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def path(self, name):
        return os.path.join(self.tmp.name, name)

    def test_each_kind_draws_an_image_of_the_expected_size(self):
        for args, image in ((["distribution", self.path("dist.txt"), "--cut", "0.5"], "dist.png"),
                            (["ld", self.path("r2.txt")], "r2.txt.png"),
                            (["ld", self.path("dp"), "-o", self.path("parts.png")], "parts.png"),
                            (["interaction", self.path("gi.txt")], "gi.txt.png")):
            r = plot(*args)
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertEqual(png_size(self.path(image)), (1000, 800), image)
            self.assertGreater(os.path.getsize(self.path(image)), 10000, "an image with something drawn")

    def test_an_svg_name_gives_an_svg(self):
        for table in ("gi.txt", "boost.txt"):  # the 2x2 models' table and boost_interaction's
            r = plot("interaction", self.path(table), "-o", self.path(table + ".svg"))
            self.assertEqual(r.returncode, 0, r.stderr)
            with open(self.path(table + ".svg")) as f:
                text = f.read()
            self.assertIn("<svg", text)
            self.assertIn("t0_snp20 x t0_snp120", text, "the planted pair is named")

    def test_a_file_of_the_wrong_kind_is_refused(self):
        for args, message in ((["distribution", self.path("gi.txt")], "is not an LD distribution file"),
                              (["ld", self.path("gi.txt")], "is not an LD text table or binary output"),
                              (["interaction", self.path("r2.txt")], "is not an interaction result table"),
                              (["ld", self.path("missing")], "cannot read")):
            r = plot(*args, "-o", self.path("wrong.png"))
            self.assertEqual(r.returncode, 1, args)
            self.assertIn(message, r.stderr)
            self.assertFalse(os.path.exists(self.path("wrong.png")))


if __name__ == "__main__":
    unittest.main()
