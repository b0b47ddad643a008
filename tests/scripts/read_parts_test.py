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

    def make_run(self, d, parts_layout, meta_run="abc", parts_run="abc", rows=(2, 3)):
        out = os.path.join(d, "o")
        os.mkdir(out + "_parts")
        with open(out + ".meta", "w", encoding="utf-8-sig") as f:
            f.write("%d\n%d\n%s_parts\n" % (rows[0], rows[1], "somewhere/else/o") +
                    ("run %s\n" % meta_run if meta_run else ""))
        if parts_run:
            with open(os.path.join(out + "_parts", "run.id"), "w") as f:
                f.write(parts_run + "\n")
        for number, first, codes in parts_layout:
            write_part(os.path.join(out + "_parts", "part_%d.bin" % number), first, codes)
        return out

    def test_finds_the_parts_beside_the_metadata(self):
        with tempfile.TemporaryDirectory() as d:
            out = self.make_run(d, [(0, 0, [1, 2, 3, 4, 5, 6])])
            text = io.StringIO()
            read_parts.decode(out, out=text)
            self.assertEqual(len(text.getvalue().splitlines()), 7)

    def test_prints_the_variant_ids_when_the_run_wrote_them(self):
        with tempfile.TemporaryDirectory() as d:
            out = self.make_run(d, [(0, 0, [1, 2, 3, 4, 5, 65535])])
            for name, ids in ((".ids0", "rs1\nrs2\n"), (".ids1", "a\nb\nc\n")):
                with open(out + name, "w") as f:
                    f.write(ids)
            text = io.StringIO()
            read_parts.decode(out, out=text)
            lines = text.getvalue().splitlines()
            self.assertEqual(lines[0], "SNP0\tSNP1\tvalue\tID0\tID1")
            self.assertEqual(lines[4], "1\t0\t0.004\trs2\ta")
            self.assertEqual(lines[6], "1\t2\tNA\trs2\tc")
            with open(out + ".ids1", "w") as f:
                f.write("a\nb\n")
            with self.assertRaisesRegex(read_parts.PartsError, "holds 2 IDs, not the 3"):
                read_parts.decode(out, out=io.StringIO())

    @unittest.skipUnless(os.environ.get("VARPAIR_BIN"), "VARPAIR_BIN not set")
    def test_a_run_without_ids_removes_an_earlier_runs_id_lists(self):
        root = os.path.join(os.path.dirname(__file__), "..", "..", "examples")
        with tempfile.TemporaryDirectory() as d:
            out = os.path.join(d, "o")
            for inputs in ([os.path.join(root, "ld.bed"), "-chr0", "1", "-file1", os.path.join(root, "ld.bed"), "-chr1",
                            "2"], [os.path.join(root, "ld.file0.txt"), "-file1", os.path.join(root, "ld.file1.txt")]):
                subprocess.run([os.environ["VARPAIR_BIN"], "interChromLDr2", "-file0"] + inputs + ["-o", out,
                                "-r2_cut", "0"], check=True, stdout=subprocess.DEVNULL)
                text = io.StringIO()
                read_parts.decode(out, out=text)
                header = text.getvalue().splitlines()[0]
                self.assertEqual(header.endswith("ID1"), "ld.bed" in inputs[0], header)
            self.assertFalse(os.path.exists(out + ".ids0"))

    def test_refuses_parts_that_do_not_cover_the_pairs_once(self):
        cases = {
            "missing": [(0, 0, [1, 2]), (1, 3, [4, 5, 6])],
            "repeated": [(0, 0, [1, 2, 3, 4]), (1, 3, [4, 5, 6])],
            "hold 5 pairs, not the 6": [(0, 0, [1, 2, 3, 4, 5])],
            "hold 7 pairs, not the 6": [(0, 0, [1, 2, 3, 4, 5, 6, 7])],
        }
        for why, parts in cases.items():
            with tempfile.TemporaryDirectory() as d:
                out = self.make_run(d, parts)
                with self.assertRaisesRegex(read_parts.PartsError, why):
                    read_parts.decode(out, out=io.StringIO())

    def test_refuses_parts_of_another_run_and_cut_files(self):
        for meta_run, parts_run in (("abc", "def"), ("abc", None), (None, "abc")):
            with tempfile.TemporaryDirectory() as d:
                out = self.make_run(d, [(0, 0, [1, 2, 3, 4, 5, 6])], meta_run, parts_run)
                with self.assertRaisesRegex(read_parts.PartsError, "belongs to another run"):
                    read_parts.decode(out, out=io.StringIO())
        with tempfile.TemporaryDirectory() as d:
            out = self.make_run(d, [(0, 0, [1, 2, 3, 4, 5, 6])])
            path = os.path.join(out + "_parts", "part_0.bin")
            with open(path, "r+b") as f:
                f.truncate(20)
            with self.assertRaisesRegex(read_parts.PartsError, "holds 20 bytes"):
                read_parts.decode(out, out=io.StringIO())
            result = subprocess.run([sys.executable, os.path.join(os.path.dirname(read_parts.__file__),
                                                                  "read_parts.py"), out], capture_output=True, text=True)
            self.assertEqual(result.returncode, 1)
            self.assertEqual(result.stdout, "", "nothing is printed before the checks pass")

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
