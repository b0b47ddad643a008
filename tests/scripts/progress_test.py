"""The progress line: drawn on standard error when it is a terminal (a pseudo-terminal here), never
when standard error is a file or a pipe, and never in the run log or on standard output.
VARPAIR_BIN and SIMULATE_BIN name the programs."""
import os
import pty
import subprocess
import tempfile
import unittest

VARPAIR = os.environ.get("VARPAIR_BIN")
SIMULATE = os.environ.get("SIMULATE_BIN")


@unittest.skipUnless(VARPAIR and SIMULATE, "VARPAIR_BIN and SIMULATE_BIN not set")
class ProgressLine(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        # A run of a second or more, so that the line is drawn a few times.
        cls.data = os.path.join(cls.tmp.name, "cc")
        subprocess.run([SIMULATE, "cc", "--snps", "4000", "--cases", "800", "--controls", "800", "--seed", "2",
                        "--out", cls.data], check=True, stdout=subprocess.DEVNULL)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def command(self, out):
        return [VARPAIR, "genotype_interaction", "-file0", self.data + ".cases.txt", "-file1",
                self.data + ".controls.txt", "-o", out]

    def test_a_terminal_gets_the_line_and_the_log_does_not(self):
        out = os.path.join(self.tmp.name, "tty.txt")
        primary, secondary = pty.openpty()
        run = subprocess.Popen(self.command(out), stdout=subprocess.PIPE, stderr=secondary)
        os.close(secondary)
        stdout = run.stdout.read()
        drawn = b""
        while True:
            try:
                chunk = os.read(primary, 4096)
            except OSError:  # the terminal is closed when the run ends
                break
            if not chunk:
                break
            drawn += chunk
        os.close(primary)
        self.assertEqual(run.wait(), 0)
        self.assertIn(b"pairs/s", drawn)
        self.assertRegex(drawn, rb"\r[0-9.]+[kMG]? of 8\.00M pairs \([0-9.]+%\), [0-9.]+[kMG]? pairs/s, "
                                rb"[0-9:?]+ left")
        self.assertTrue(drawn.endswith(b"\r\x1b[K"), "the line is cleared at the end")
        self.assertNotIn(b"pairs/s", stdout)
        with open(os.path.join(self.tmp.name, "tty.log"), "rb") as log:
            self.assertNotIn(b"pairs/s", log.read())

    def test_a_file_or_pipe_gets_no_line(self):
        out = os.path.join(self.tmp.name, "pipe.txt")
        run = subprocess.run(self.command(out), capture_output=True)
        self.assertEqual(run.returncode, 0)
        self.assertEqual(run.stderr, b"")
        self.assertNotIn(b"pairs/s", run.stdout)


if __name__ == "__main__":
    unittest.main()
