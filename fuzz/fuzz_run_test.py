#!/usr/bin/python3
"""Who a sanitizer report blames: HDF5, our code, or nobody known."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import fuzz_run  # noqa: E402

FUZZER = "(/build/fuzz/bin/qmx_fuzz_container+0x%x) (BuildId: 2adab16c)"
HDF5 = "(/lib/x86_64-linux-gnu/libhdf5_serial.so.103+0x%x) (BuildId: e923ff05)"


def report(*frames):
    lines = ["==1==ERROR: AddressSanitizer: heap-buffer-overflow on address 0x60e0000002a0"]
    for n, (function, where) in enumerate(frames):
        # ASan leaves out "in NAME" where it knows no symbol.
        named = ("in %s " % function) if function else " "
        lines.append("    #%d 0x%x %s%s" % (n, 0x7fa72a98431d + n, named, where))
    return "\n".join(lines) + "\n"


class Attribution(unittest.TestCase):
    def test_an_interceptor_named_like_libc_is_not_ours(self):
        owner, frame, _ = fuzz_run.attribute(report(
            ("strdup", FUZZER % 0xce6f5),
            ("H5MM_strdup", HDF5 % 0x18431d),
            ("QMXLlistAttributes", "/src/QmxFile/Listing.cpp:114:9")))
        self.assertEqual((owner, frame), ("hdf5", "H5MM_strdup"))

    def test_an_unnamed_frame_inside_hdf5_is_hdf5s(self):
        owner, _, _ = fuzz_run.attribute(report(
            ("__interceptor_memcpy", FUZZER % 0x7b183),
            ("", HDF5 % 0x190d21),
            ("H5O__msg_iterate_real", HDF5 % 0x1b4ca4)))
        self.assertEqual(owner, "hdf5")

    def test_a_frame_with_a_source_line_in_our_code_is_ours(self):
        owner, frame, _ = fuzz_run.attribute(report(
            ("memcpy", FUZZER % 0x7b2f7),
            ("Quellmar::qmxfile::readChecked", "/src/QmxFile/ItemChecksum.cpp:120:5"),
            ("H5Dread", HDF5 % 0x5b12e)))
        self.assertEqual(owner, "ours")
        self.assertIn("ItemChecksum.cpp:120", frame)

    def test_an_overrun_of_a_hosts_buffer_is_ours_even_when_hdf5_wrote(self):
        text = report(("__asan_memcpy", FUZZER % 0x7b183), ("H5D__contig_readvv_sieve_cb", HDF5 % 0x9a1),
                      ("H5Dread", HDF5 % 0x5b12e))
        text += "0x6020 is located 0 bytes to the right of 96-byte region\nallocated by thread T0 here:\n"
        text += "    #0 0x7f01 in operator new[](unsigned long) %s\n" % (FUZZER % 0x10)
        text += "    #1 0x7f02 in Quellmar::hostread::GuardedBuffer::GuardedBuffer(unsigned long) " \
                "/src/tools/hostread/GuardedBuffer.cpp:60:18\n"
        owner, frame, _ = fuzz_run.attribute(text)
        self.assertEqual(owner, "ours")
        self.assertIn("H5D__contig_readvv_sieve_cb", frame)
        # The same overflow of a block HDF5 allocated itself stays HDF5's.
        other = text.replace("Quellmar::hostread::GuardedBuffer::GuardedBuffer(unsigned long)", "H5FL_blk_malloc")
        self.assertEqual(fuzz_run.attribute(other)[0], "hdf5")

    def test_only_the_first_stack_counts(self):
        text = report(("free", FUZZER % 0x10), ("H5FL_reg_free", HDF5 % 0x20)) + \
            report(("Quellmar::mine", "/src/Mine.cpp:1:1"))
        self.assertEqual(fuzz_run.attribute(text)[0], "hdf5")


if __name__ == "__main__":
    unittest.main()
