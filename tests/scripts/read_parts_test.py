"""Tests of scripts/read_parts.py: on hand-made part files, and on a real binary run compared with
the text table of the same pairs (VARPAIR_BIN names the program)."""
import io
import os
import struct
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "scripts"))
import read_parts  # noqa: E402


def write_part(path, first, codes):
    with open(path, "wb") as f:
        f.write(struct.pack("<QQ", first, len(codes)))
        f.write(struct.pack("<%dH" % len(codes), *codes))


class ReadParts(unittest.TestCase):
    def test_decodes_parts_in_number_order(self):
        with tempfile.TemporaryDirectory() as d:
            out = os.path.join(d, "o")
            parts = out + "_parts"
            os.mkdir(parts)
            with open(out + ".meta", "w", encoding="utf-8-sig") as f:
                f.write("2\n3\n%s\n" % parts)
            write_part(os.path.join(parts, "part_10.bin"), 4, [1000, 65535])
            write_part(os.path.join(parts, "part_2.bin"), 0, [0, 813, 5, 999])
            with open(os.path.join(parts, "notes.txt"), "w") as f:
                f.write("not a part")
            text = io.StringIO()
            read_parts.decode(out, out=text)
            self.assertEqual(
                text.getvalue(),
                "SNP0\tSNP1\tvalue\n0\t0\t0.000\n0\t1\t0.813\n0\t2\t0.005\n1\t0\t0.999\n1\t1\t1.000\n1\t2\tNA\n")
            kept = io.StringIO()
            read_parts.decode(out, minimum=0.9, out=kept)
            self.assertEqual(kept.getvalue(), "SNP0\tSNP1\tvalue\n1\t0\t0.999\n1\t1\t1.000\n")

    @unittest.skipUnless(os.environ.get("VARPAIR_BIN"), "VARPAIR_BIN not set")
    def test_agrees_with_the_text_table_of_a_real_run(self):
        root = os.path.join(os.path.dirname(__file__), "..", "..")
        f0 = os.path.join(root, "examples", "ld.file0.txt")
        f1 = os.path.join(root, "examples", "ld.file1.txt")
        with tempfile.TemporaryDirectory() as d:
            binary, text = os.path.join(d, "bin"), os.path.join(d, "text.txt")
            for out, cut in ((binary, "0"), (text, "1e-30")):
                subprocess.run([os.environ["VARPAIR_BIN"], "interChromLDr2", "-file0", f0, "-file1", f1, "-o", out,
                                "-r2_cut", cut], check=True, stdout=subprocess.DEVNULL)
            decoded = io.StringIO()
            read_parts.decode(binary, out=decoded)
            values = {}
            for line in decoded.getvalue().splitlines()[1:]:
                i, j, v = line.split("\t")
                values[(int(i), int(j))] = v
            self.assertEqual(len(values), 120 * 90)
            with open(text, encoding="utf-8-sig") as f:
                lines = f.read().splitlines()[1:]
            self.assertGreater(len(lines), 1000)  # every pair with a value above 0
            for line in lines:
                i, j, v = line.split("\t")
                self.assertLessEqual(abs(float(values[(int(i), int(j))]) - float(v)), 0.0005 + 1e-6, line)


if __name__ == "__main__":
    unittest.main()
