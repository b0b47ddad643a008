"""How varpair behaves as a process, the way a careful user or a cluster meets it: interrupted and
concurrent runs, CPU affinity, an address-space limit, a closed console pipe, and command lines
that would write where they must not. VARPAIR_BIN and SIMULATE_BIN name the programs."""
import filecmp
import os
import re
import resource
import signal
import subprocess
import sys
import tempfile
import time
import unittest

VARPAIR = os.environ.get("VARPAIR_BIN")
SIMULATE = os.environ.get("SIMULATE_BIN")
ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
EXAMPLES = os.path.join(ROOT, "examples")
sys.path.insert(0, os.path.join(ROOT, "scripts"))
import read_parts  # noqa: E402


def ld_inputs(prefix):
    return ["-file0", prefix + ".file0.txt", "-file1", prefix + ".file1.txt"]


def varpair(*args, **kwargs):
    return subprocess.run([VARPAIR] + list(args), capture_output=True, text=True, **kwargs)


def wait_for(path, text, process, seconds=60):
    """Waits until the file holds `text` (the run has got that far) or the process has ended."""
    deadline = time.time() + seconds
    while time.time() < deadline and process.poll() is None:
        try:
            with open(path, encoding="utf-8", errors="replace") as f:
                if text in f.read():
                    return True
        except OSError:
            pass
        time.sleep(0.01)
    return False


def leftovers(directory):
    return [n for n in os.listdir(directory) if ".partial-" in n]


@unittest.skipUnless(VARPAIR and SIMULATE, "VARPAIR_BIN and SIMULATE_BIN not set")
class Robustness(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.data = tempfile.TemporaryDirectory()
        # Large enough that a binary run takes a few seconds on two cores.
        cls.big = os.path.join(cls.data.name, "big")
        subprocess.run([SIMULATE, "ld", "--rows0", "5000", "--rows1", "4000", "--samples", "1200", "--seed", "3",
                        "--out", cls.big], check=True, stdout=subprocess.DEVNULL)

    @classmethod
    def tearDownClass(cls):
        cls.data.cleanup()

    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.d = self.dir.name

    def tearDown(self):
        self.dir.cleanup()

    def interrupt_rerun(self, sig, status):
        out, dist = os.path.join(self.d, "o"), os.path.join(self.d, "dist.txt")
        first = varpair("interChromLDdprime", *ld_inputs(os.path.join(EXAMPLES, "ld")), "-o", out,
                        "-dprime_cut", "0", "-distribution", dist)
        self.assertEqual(first.returncode, 0, first.stdout)
        kept = {}
        for name in ("o.meta", "dist.txt"):
            with open(os.path.join(self.d, name), "rb") as f:
                kept[name] = f.read()
        rerun = subprocess.Popen([VARPAIR, "interChromLDdprime", *ld_inputs(self.big), "-o", out, "-dprime_cut", "0",
                                  "-distribution", dist], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        # The rerun's own log names its input; the first run's names the examples.
        self.assertTrue(wait_for(out + ".log", self.big, rerun) and wait_for(out + ".log", "Creating output directory", rerun),
                        "the rerun is computing its parts")
        rerun.send_signal(sig)
        _, err = rerun.communicate(timeout=60)
        self.assertEqual(rerun.returncode, status, err)
        self.assertIn(b"interrupted by SIG", err)
        with open(out + ".log", encoding="utf-8-sig") as f:
            self.assertTrue(f.read().endswith("Error: Interrupted by SIG%s; outputs not yet complete were removed\n" %
                                              ("TERM" if sig == signal.SIGTERM else "INT")))
        for name, content in kept.items():
            with open(os.path.join(self.d, name), "rb") as f:
                self.assertEqual(f.read(), content, name)
        self.assertEqual(leftovers(self.d), [])
        rows0, rows1, parts = read_parts.check_parts(out)  # the earlier run, whole
        self.assertEqual((rows0, rows1), (120, 90))

    def test_an_interrupted_rerun_leaves_the_earlier_outputs_whole(self):
        self.interrupt_rerun(signal.SIGTERM, 143)

    def test_an_interrupt_from_the_keyboard_exits_130(self):
        self.interrupt_rerun(signal.SIGINT, 130)

    def test_a_rerun_removes_what_a_killed_run_left_and_nothing_else(self):
        out = os.path.join(self.d, "o")
        killed = subprocess.Popen([VARPAIR, "interChromLDdprime", *ld_inputs(self.big), "-o", out, "-dprime_cut", "0",
                                   "-distribution", os.path.join(self.d, "dist.txt")], stdout=subprocess.DEVNULL)
        self.assertTrue(wait_for(out + ".log", "Creating output directory", killed))
        killed.kill()
        killed.wait()
        left = leftovers(self.d)
        self.assertIn(".o_parts.partial-%d-0" % killed.pid, left)
        # A live process's temporary and another output's stay.
        ended = subprocess.Popen(["true"])
        ended.wait()
        keep = [".o.partial-%d-0" % os.getpid(), ".o2.partial-%d-0" % ended.pid, ".o.partial-x-1"]
        for name in keep:
            open(os.path.join(self.d, name), "w").close()
        rerun = varpair("interChromLDdprime", *ld_inputs(os.path.join(EXAMPLES, "ld")), "-o", out,
                        "-distribution", os.path.join(self.d, "dist.txt"))
        self.assertEqual(rerun.returncode, 0, rerun.stderr)
        self.assertEqual(sorted(leftovers(self.d)), sorted(keep))
        self.assertRegex(rerun.stdout, r"Removed %d temporary files? left by an earlier run of this output that was "
                         r"killed: .*/\.o_parts\.partial-%d-0" % (len(left), killed.pid))

    def test_a_disk_that_fills_while_the_table_spills_stops_the_run(self):
        # Past 2,000,000 records the table spills a sorted run; a file size limit stands in for a full disk.
        cc = os.path.join(self.d, "cc")
        subprocess.run([SIMULATE, "cc", "--snps", "2100", "--cases", "100", "--controls", "100", "--seed", "5",
                        "--out", cc], check=True, stdout=subprocess.DEVNULL)
        out = os.path.join(self.d, "out.txt")
        with open(out, "w") as f:
            f.write("an earlier table\n")
        limited = ["bash", "-c", 'trap "" XFSZ; ulimit -f 40000; exec "$0" "$@"', VARPAIR]
        r = subprocess.run(limited + ["genotype_interaction", "-file0", cc + ".cases.txt", "-file1",
                                      cc + ".controls.txt", "-alpha_cut", "1", "-or_cut", "1", "-o", out],
                           capture_output=True, text=True)
        self.assertEqual(r.returncode, 1, r.stdout[-2000:])
        self.assertRegex(r.stderr, "Error: cannot write a sorted run of the table to %s[0-9]+-[0-9]+: File too large\n"
                         "Error: The results are incomplete: the table could not be written\n$" %
                         re.escape(os.path.join(self.d, ".out.txt.partial-")))
        with open(out) as f:
            self.assertEqual(f.read(), "an earlier table\n")
        self.assertEqual(leftovers(self.d), [])

    def test_a_second_run_with_the_same_output_is_refused(self):
        out = os.path.join(self.d, "o.txt")
        first = subprocess.Popen([VARPAIR, "interChromLDr2", *ld_inputs(self.big), "-o", out, "-r2_cut", "0.5"],
                                 stdout=subprocess.DEVNULL)
        self.assertTrue(wait_for(out + ".log", "Reading and transferring", first))
        second = varpair("interChromLDr2", *ld_inputs(os.path.join(EXAMPLES, "ld")), "-o", out)
        self.assertEqual(second.returncode, 1)
        self.assertIn("Another run is writing " + out, second.stderr)
        self.assertEqual(first.wait(timeout=120), 0)
        alone = os.path.join(self.d, "alone.txt")
        self.assertEqual(varpair("interChromLDr2", *ld_inputs(self.big), "-o", alone, "-r2_cut", "0.5").returncode, 0)
        self.assertTrue(filecmp.cmp(out, alone, shallow=False), "the first run's table is untouched by the second")

    def test_threads_follow_the_cpu_affinity(self):
        r = varpair("genotype_interaction", "-file0", os.path.join(EXAMPLES, "cc.cases.txt"), "-file1",
                    os.path.join(EXAMPLES, "cc.controls.txt"), "-o", os.path.join(self.d, "gi.txt"),
                    preexec_fn=lambda: os.sched_setaffinity(0, {min(os.sched_getaffinity(0))}))
        self.assertEqual(r.returncode, 0, r.stdout)
        self.assertRegex(r.stdout, r"Device backend: host CPU \(1 threads, (AVX-512|AVX2|SSE4|SSSE3|NEON|portable)\)\n")

    @unittest.skipIf("ASAN_OPTIONS" in os.environ, "AddressSanitizer reserves terabytes of address space")
    def test_an_address_space_limit_sizes_the_host_device(self):
        limit = 1 << 30

        def limited():
            resource.setrlimit(resource.RLIMIT_AS, (limit, limit))

        out, free = os.path.join(self.d, "limited.txt"), os.path.join(self.d, "free.txt")
        r = varpair("interChromLDr2", *ld_inputs(os.path.join(EXAMPLES, "ld")), "-o", out, "-r2_cut", "0.5",
                    preexec_fn=limited)
        self.assertEqual(r.returncode, 0, r.stdout)
        total = float(r.stdout.split("Total GPU memory: ")[1].split(" GB")[0])
        self.assertLess(total, 0.5)
        self.assertEqual(varpair("interChromLDr2", *ld_inputs(os.path.join(EXAMPLES, "ld")), "-o", free,
                                 "-r2_cut", "0.5").returncode, 0)
        self.assertTrue(filecmp.cmp(out, free, shallow=False))

    def test_a_closed_console_pipe_does_not_end_the_run(self):
        out = os.path.join(self.d, "gi.txt")
        run = subprocess.Popen([VARPAIR, "genotype_interaction", "-file0", os.path.join(EXAMPLES, "cc.cases.txt"),
                                "-file1", os.path.join(EXAMPLES, "cc.controls.txt"), "-o", out],
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        run.stdout.close()  # what `varpair ... | head -1` does once head has its line
        self.assertEqual(run.wait(timeout=60), 0)
        reference = os.path.join(self.d, "reference.txt")
        self.assertEqual(varpair("genotype_interaction", "-file0", os.path.join(EXAMPLES, "cc.cases.txt"), "-file1",
                                 os.path.join(EXAMPLES, "cc.controls.txt"), "-o", reference).returncode, 0)
        self.assertTrue(filecmp.cmp(out, reference, shallow=False))
        with open(os.path.join(self.d, "gi.log"), encoding="utf-8-sig") as log:
            self.assertIn("=== Analysis Completed ===", log.read())

    def test_command_lines_that_would_write_where_they_must_not_are_refused(self):
        q = os.path.join(self.d, "q.txt")
        inside = varpair("interChromLDr2", *ld_inputs(os.path.join(EXAMPLES, "ld")), "-o", q, "-r2_cut", "0",
                         "-distribution", q + "_parts/part_0.bin")
        self.assertEqual(inside.returncode, 1)
        self.assertIn("-distribution lies inside the parts directory", inside.stderr)
        self.assertEqual(os.listdir(self.d), [])
        # Values that are no number or out of range, -parallel short of a value, outputs that name no
        # file: refused before anything is read, each naming the option; an earlier output stays.
        with open(q, "w") as f:
            f.write("an earlier table\n")
        ld = ["interChromLDr2", *ld_inputs(os.path.join(EXAMPLES, "ld"))]
        gi = ["genotype_interaction", "-file0", os.path.join(EXAMPLES, "cc.bed")]
        cases = [
            (ld + ["-r2_cut", "1e-400"], "Error: Invalid value for -r2_cut: '1e-400' (expected a finite number)"),
            (ld + ["-r2_cut", "1e400"], "Error: Invalid value for -r2_cut: '1e400' (expected a finite number)"),
            (ld + ["-r2_cut", "1e-300"],
             "Error: -r2_cut must be between 0 and 1, and 0 or at least 1e-45 in single precision (got 1e-300)"),
            (ld + ["-r2_cut", "-0.2"], "Error: -r2_cut must be between 0 and 1 (got -0.2)"),
            (["interChromLDdprime"] + ld[1:] + ["-dprime_cut", "1.5"],
             "Error: -dprime_cut must be between 0 and 1 (got 1.5)"),
            (gi + ["-alpha_cut", "2"],
             "Error: -alpha_cut must be between 0 and 1 (got 2): chisq_cut must be between 0 and 1"),
            (gi + ["-or_cut", "0"], "Error: -or_cut must be above 0 (got 0)"),
            (gi + ["-or_cut", "1e-300"],
             "Error: -or_cut must be above 0, and at least 1e-45 in single precision (got 1e-300)"),
            (gi + ["-or_cut", "1e300"],
             "Error: -or_cut must be above 0, and at most 3.40282e+38 in single precision (got 1e300)"),
            (gi + ["-parallel", "1"],
             "Error: -parallel takes two values: -parallel K N runs shard K of N (got only '1')"),
        ]
        for args, message in cases:
            r = varpair(*args, "-o", q)
            self.assertEqual(r.returncode, 1, args)
            self.assertEqual(r.stderr, message + "\n")
        for out, message in ((self.d, "Error: -o is a directory: %s (give the name of a file in it)" % self.d),
                             (self.d + "/",
                              "Error: -o ends in '/': %s/ (give the name of a file, not a directory)" % self.d),
                             ("", "Error: -o is empty: give the name of a file")):
            for args in (ld, gi, ["merge", "-parallel", "2"]):
                r = varpair(*args, "-o", out)
                self.assertEqual(r.returncode, 1, args)
                self.assertEqual(r.stderr, message + "\n", args)
        self.assertEqual(os.listdir(self.d), ["q.txt"])
        with open(q) as f:
            self.assertEqual(f.read(), "an earlier table\n")

if __name__ == "__main__":
    unittest.main()
