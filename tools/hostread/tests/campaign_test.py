#!/usr/bin/python3
"""How the host-read campaign damages copies, judges what a reader answered and blames deaths."""
import collections
import contextlib
import io
import os
import random
import stat
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import host_read_campaign as campaign  # noqa: E402

HDF5 = "/lib/x86_64-linux-gnu/libhdf5_serial.so.103"
READER = "/build/bin/qmx_host_reader"
LIBC = "/lib/x86_64-linux-gnu/libc.so.6"


def lines(*answers):
    return collections.OrderedDict((key, (ok, text)) for key, ok, text in answers)


def glibc_stack(*frames):
    text = ["signal 11", "host died: signal 11"]
    text += ["%s(%s)[0x7f%06x]" % (where, function, n) for n, (function, where) in enumerate(frames)]
    return "\n".join(text + ["end of stack"])


class Judging(unittest.TestCase):
    reference = lines(("blob a read", True, "4 bytes 1"), ("vector v shape", True, "24 x 1 type 2"),
                      ("vector v read-by-shape", True, "96 bytes 2"))

    def test_the_same_answers_are_identical(self):
        self.assertEqual(campaign.compare(self.reference, self.reference)[0], "identical")

    def test_an_exception_is_a_clean_error(self):
        now = lines(("blob a read", False, "DataAccessViolationException: damaged"),
                    ("vector v shape", True, "24 x 1 type 2"), ("vector v read-by-shape", True, "96 bytes 2"))
        self.assertEqual(campaign.compare(self.reference, now)[:3:2], ("clean error", 1))

    def test_a_different_answer_is_silent_even_beside_errors(self):
        now = lines(("blob a read", False, "DataAccessViolationException: damaged"),
                    ("vector v shape", True, "24 x 1 type 2"), ("vector v read-by-shape", True, "96 bytes 3"))
        outcome, differing, errors = campaign.compare(self.reference, now)
        self.assertEqual((outcome, errors), ("silent difference", 1))
        self.assertEqual(differing, [("vector v read-by-shape", "96 bytes 2", "96 bytes 3")])

    def test_a_question_the_original_never_raised_counts_as_different(self):
        now = lines(("blob a read", True, "4 bytes 1"), ("vector w shape", True, "1 x 1 type 0"))
        self.assertEqual(campaign.compare(self.reference, now)[0], "silent difference")

    def test_reader_output_parses_up_to_end(self):
        parsed = campaign.parse_lines("blob a read\tok\t4 bytes 1\nvector v shape\terror\tQmException: x\tz\nEND\n")
        self.assertEqual(list(parsed.items()),
                         [("blob a read", (True, "4 bytes 1")), ("vector v shape", (False, "QmException: x\tz"))])


class Blame(unittest.TestCase):
    def test_a_fault_inside_hdf5_is_hdf5s(self):
        report = glibc_stack(("+0x1a2b", READER), ("+0x42520", LIBC), ("__memmove_avx_unaligned+0x2d", LIBC),
                             ("H5A__close+0x5c", HDF5), ("QMXLlistAttributes+0x90", "/build/lib/libPersistence_QmxFile.so.1"))
        owner, site, stack = campaign.blame(report)
        self.assertEqual((owner, site), ("hdf5", "H5A__close"))
        self.assertEqual(stack[0][0], "__memmove_avx_unaligned")

    def test_an_unnamed_hdf5_frame_is_named_by_the_next_named_one(self):
        report = glibc_stack(("+0x1a2b", READER), ("+0x42520", LIBC), ("+0x191849", HDF5),
                             ("H5O__msg_iterate_real+0x115", HDF5), ("QMXLreadObjectDataset+0x86", "/b/libQ.so"))
        self.assertEqual(campaign.blame(report)[:2], ("hdf5", "H5O__msg_iterate_real"))

    def test_a_fault_in_our_library_is_ours(self):
        report = glibc_stack(("+0x1a2b", READER), ("+0x42520", LIBC), ("__memset_avx2+0x10", LIBC),
                             ("_ZN8Quellmar12QMXVectorDAO4ReadE+0x77", "/build/lib/libPersistence_QMXDataAccess.so.1"),
                             ("H5Dread+0x12", HDF5))
        owner, site, _ = campaign.blame(report)
        self.assertEqual(owner, "ours")
        self.assertIn("libPersistence_QMXDataAccess", site)

    def test_an_overrun_of_the_hosts_buffer_is_ours(self):
        owner, site, _ = campaign.blame("signal 6\nhost buffer overrun: vector results/p read-by-shape (96 bytes)\n")
        self.assertEqual(owner, "ours")
        self.assertIn("results/p", site)

    def test_a_sanitizer_report_goes_to_the_fuzz_run_attribution(self):
        report = ("==1==ERROR: AddressSanitizer: SEGV on unknown address\n"
                  "    #0 0x7f01 in H5O__msg_iterate_real (%s+0x1b4ca4)\n"
                  "    #1 0x7f02 in QMXLverifyObject /src/QmxFile/Verify.cpp:12:3\n" % HDF5)
        self.assertEqual(campaign.blame(report)[:2], ("hdf5", "H5O__msg_iterate_real"))

    def test_an_exit_without_a_stack_is_unknown(self):
        self.assertEqual(campaign.blame("exit 3\nterminate called without an active exception\n")[0], "unknown")


class Damage(unittest.TestCase):
    original = bytes(range(256)) * 64

    def test_the_same_seed_gives_the_same_copy(self):
        for kind in campaign.KINDS:
            first = campaign.damage(self.original, campaign.copy_rng(7, "a.qmz", 3), kind, [(100, 200)])
            again = campaign.damage(self.original, campaign.copy_rng(7, "a.qmz", 3), kind, [(100, 200)])
            other = campaign.damage(self.original, campaign.copy_rng(8, "a.qmz", 3), kind, [(100, 200)])
            self.assertEqual(first, again)
            self.assertNotEqual(first[0], other[0])

    def test_each_kind_changes_what_it_says(self):
        rng = random.Random(5)
        for _ in range(50):
            cut, what, spans = campaign.damage(self.original, rng, "truncate", [])
            self.assertEqual(len(cut), spans[0][0])
            self.assertTrue(self.original.startswith(cut))
            zeroed, what, spans = campaign.damage(self.original, rng, "zero", [])
            a, b = spans[0]
            self.assertEqual(zeroed[a:b], bytes(b - a))
            self.assertEqual(zeroed[:a] + zeroed[b:], self.original[:a] + self.original[b:])
            raw, what, spans = campaign.damage(self.original, rng, "raw", [(1000, 1100), (5000, 5010)])
            self.assertTrue(campaign.touches(spans, [(1000, 1100), (5000, 5010)]), what)
            changed = [i for i in range(len(raw)) if raw[i] != self.original[i]]
            self.assertTrue(changed)
            self.assertTrue(all(1000 <= i < 1100 or 5000 <= i < 5010 for i in changed), what)

    def test_metadata_damage_stays_outside_the_stored_bytes(self):
        ranges = [(0, 4000), (4100, 16000)]
        rng = random.Random(3)
        for _ in range(30):
            data, what, spans = campaign.damage(self.original, rng, "metadata", ranges)
            self.assertFalse(campaign.touches(spans, ranges), what)
            self.assertTrue(all(4000 <= a < 4100 or a >= 16000 for a, _ in spans), what)
        self.assertIsNone(campaign.outside([(0, 10)], 10, rng))

    def test_raw_damage_without_ranges_falls_back_to_flips(self):
        data, what, spans = campaign.damage(self.original, random.Random(1), "raw", [])
        self.assertTrue(what.startswith("flipped"))
        self.assertNotEqual(data, self.original)


# A stand-in for qmx_host_reader: answers from the file's length, so that a test chooses what
# each copy does. Intact length: one answer; shorter: dies with a stack; one byte longer: hangs.
FAKE_READER = r"""#!/usr/bin/python3
import os, signal, sys, time
args = sys.argv[1:]
if args[0] == "--ranges":
    print("0 8")
    sys.exit(0)
path = args[2]
size = os.path.getsize(path)
intact = int(os.environ["FAKE_INTACT_SIZE"])
if size < intact:
    sys.stderr.write("host died: signal 11\n/lib/libc.so.6(+0x3c050)[0x1]\n"
                     "/lib/libhdf5_serial.so.103(H5A__close+0x5c)[0x2]\nend of stack\n")
    sys.stderr.flush()
    os.kill(os.getpid(), signal.SIGSEGV)
if size > intact:
    time.sleep(30)
data = open(path, "rb").read()
print("blob a read\tok\t%d" % (sum(data) if os.environ.get("FAKE_WHOLE") else data[100]))
print("END")
"""


class Campaign(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.reader = os.path.join(self.dir.name, "reader")
        with open(self.reader, "w") as out:
            out.write(FAKE_READER)
        os.chmod(self.reader, stat.S_IRWXU)
        self.original = os.path.join(self.dir.name, "o.qmz")
        with open(self.original, "wb") as out:
            out.write(bytes(range(200)))
        self.manifest = os.path.join(self.dir.name, "o.manifest")
        open(self.manifest, "w").close()
        os.environ["FAKE_INTACT_SIZE"] = "200"

    def tearDown(self):
        self.dir.cleanup()

    def write(self, name, data):
        path = os.path.join(self.dir.name, name)
        with open(path, "wb") as out:
            out.write(data)
        return path

    def test_the_reader_answers_dies_or_hangs(self):
        status, lines, _ = campaign.run_reader(self.reader, self.original, self.manifest, 20, 512)
        self.assertEqual((status, dict(lines)), ("done", {"blob a read": (True, "100")}))
        status, lines, err = campaign.run_reader(self.reader, self.write("cut", bytes(50)), self.manifest, 20, 512)
        self.assertEqual((status, lines), ("died", None))
        self.assertTrue(err.startswith("signal 11"))
        self.assertEqual(campaign.blame(err)[:2], ("hdf5", "H5A__close"))
        status, _, _ = campaign.run_reader(self.reader, self.write("long", bytes(201)), self.manifest, 1, 512)
        self.assertEqual(status, "hung")

    def test_a_campaign_with_a_death_fails_and_lists_it(self):
        argv = sys.argv
        sys.argv = ["campaign", "--reader", self.reader, "--copies", "10", "--jobs", "2", "--timeout", "20",
                    "--require-no-deaths", self.original, self.manifest]
        out = io.StringIO()
        try:
            with contextlib.redirect_stdout(out):
                code = campaign.main()
        finally:
            sys.argv = argv
        text = out.getvalue()
        self.assertEqual(code, 1)  # copies 1 and 6 are truncations, which this reader dies of
        self.assertIn("| o.qmz | truncate | 2 | 0 | 0 | 0 | 0 | 2 | 0 | 2 | 0 | 0 |", text)
        self.assertIn("died: o.qmz copy 1 (truncate", text)
        self.assertIn("FAILED: a damaged copy ended or hung the host", text)

    def test_a_copy_read_as_other_data_without_any_exception_fails_the_gate(self):
        os.environ["FAKE_WHOLE"] = "1"  # every changed byte shows, and nothing throws
        argv = sys.argv
        sys.argv = ["campaign", "--reader", self.reader, "--copies", "10", "--jobs", "2", "--timeout", "20",
                    "--max-unflagged-percent", "0", self.original, self.manifest]
        out = io.StringIO()
        try:
            with contextlib.redirect_stdout(out):
                code = campaign.main()
        finally:
            sys.argv = argv
            del os.environ["FAKE_WHOLE"]
        self.assertEqual(code, 1)
        self.assertIn("FAILED: more than 0% of the copies read as different data with no exception at all",
                      out.getvalue())

    def test_only_rewrites_one_copy_as_the_campaign_made_it(self):
        keep = os.path.join(self.dir.name, "kept")
        argv = sys.argv
        sys.argv = ["campaign", "--reader", self.reader, "--only", "o.qmz:3", "--keep", keep,
                    self.original, self.manifest]
        try:
            with contextlib.redirect_stdout(io.StringIO()):
                campaign.main()
        finally:
            sys.argv = argv
        data, _, _ = campaign.damage(bytes(range(200)), campaign.copy_rng(19, "o.qmz", 3), campaign.KINDS[3],
                                     [(0, 8)])
        with open(os.path.join(keep, "o.qmz.00003.qmz"), "rb") as kept:
            self.assertEqual(kept.read(), data)

    def test_an_original_that_does_not_read_cleanly_stops_the_campaign(self):
        os.environ["FAKE_INTACT_SIZE"] = "300"  # the original itself reads as damaged
        args = collections.namedtuple("Args", "reader timeout memory_mb")(self.reader, 20, 512)
        with self.assertRaises(SystemExit):
            campaign.Original(self.original, self.manifest, args)


if __name__ == "__main__":
    unittest.main()
