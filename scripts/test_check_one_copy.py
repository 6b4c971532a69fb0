#!/usr/bin/env python3
"""Cases for check_one_copy.py: tiny programs built with cc against a stand-in shared library
named like the project's, each case with one fault."""
import os
import subprocess
import sys
import tempfile
import unittest

CHECKER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "check_one_copy.py")


def cc(*args):
    subprocess.run(["cc", *args], check=True, capture_output=True)


class CheckOneCopy(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.root = self.tmp.name
        self.bin = os.path.join(self.root, "bin")
        os.mkdir(self.bin)
        lib = os.path.join(self.root, "fake.c")
        with open(lib, "w") as f:
            f.write("int QMXLisValid(int handle) { return handle > 0; }\n"
                    "int QMXLopenFile = 7; /* data, for the copy-relocation case */\n")
        cc("-shared", "-fPIC", "-o", os.path.join(self.root, "libPersistence_QmxFile.so"), lib)

    def tearDown(self):
        self.tmp.cleanup()

    def program(self, name, source, shared=True):
        path = os.path.join(self.root, name + ".c")
        with open(path, "w") as f:
            f.write(source)
        args = [path, "-o", os.path.join(self.bin, name)]
        if shared:
            args += ["-L" + self.root, "-lPersistence_QmxFile"]
        cc(*args)

    def run_checker(self, *extra):
        done = subprocess.run([sys.executable, CHECKER, self.bin, *extra], capture_output=True, text=True)
        return done.returncode, done.stdout

    def test_host_that_only_loads_the_library_passes(self):
        self.program("host", "int QMXLisValid(int);\nint main(void) { return QMXLisValid(0); }\n")
        self.program("tool", "int main(void) { return 0; }\n", shared=False)
        code, out = self.run_checker("--expect-shared", "host")
        self.assertEqual(code, 0, out)
        self.assertIn("2 programs, 0 problems", out)

    def test_program_with_a_second_copy_fails(self):
        self.program("twice", "int QMXLisValid(int);\nint QMXLopenFile(const char* n) { return n != 0; }\n"
                     "int main(void) { return QMXLisValid(0) + QMXLopenFile(0); }\n")
        code, out = self.run_checker()
        self.assertEqual(code, 1, out)
        self.assertIn("twice loads libPersistence_QmxFile.so and holds its own copy: QMXLopenFile", out)

    def test_library_data_a_program_uses_is_no_copy(self):
        # The program reaches the library's variable; the linker copies it into the program
        # (a copy relocation) and the library uses that one copy.
        self.program("reader", "extern int QMXLopenFile;\nint main(void) { return QMXLopenFile; }\n")
        code, out = self.run_checker("--expect-shared", "reader")
        self.assertEqual(code, 0, out)

    def test_host_program_that_loads_nothing_fails(self):
        self.program("host", "int main(void) { return 0; }\n", shared=False)
        code, out = self.run_checker("--expect-shared", "host")
        self.assertEqual(code, 1, out)
        self.assertIn("host loads none of the shared libraries", out)

    def test_missing_host_program_fails(self):
        code, out = self.run_checker("--expect-shared", "absent")
        self.assertEqual(code, 1, out)
        self.assertIn("absent is missing", out)


if __name__ == "__main__":
    unittest.main()
