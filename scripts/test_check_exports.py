#!/usr/bin/env python3
"""Cases for check_exports.py: made-up nm listings and headers, each with one fault."""
import os
import subprocess
import sys
import tempfile
import unittest

CHECKER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "check_exports.py")

CLEAN = """\
0000000000001000 T Quellmar::QMXBlobDAO::create(std::string const&)
0000000000002000 V typeinfo for Quellmar::DataSourceException
0000000000002100 V typeinfo name for Quellmar::DataSourceException
0000000000002200 V vtable for Quellmar::DataSourceException
0000000000003000 T non-virtual thunk to Quellmar::QMXArrayDAO::create(int)
0000000000004000 T QMXLopenFile
0000000000004100 T QMXLcloseFile
"""

HEADER = """\
/* Files: QMXLnotAFunction(x) in a comment does not count. */
#ifndef X_H
#define X_H
#define QMXL_MACRO(x) (x)
QMXL_API int QMXLopenFile(const char* name);
int QMXLcloseFile(int file,
                  int flags); /* two lines */
#endif
"""

DYNAMIC = """\
Dynamic section at offset 0x2d000 contains 30 entries:
  Tag        Type                         Name/Value
 0x0000000000000001 (NEEDED)             Shared library: [libPersistence_QmxFile.so.1]
 0x0000000000000001 (NEEDED)             Shared library: [libstdc++.so.6]
 0x000000000000000e (SONAME)             Library soname: [libPersistence_QMXDataAccess.so.1]
"""


class CheckExports(unittest.TestCase):
    def run_checker(self, listing, header=HEADER, extra=(), dynamic=DYNAMIC):
        with tempfile.TemporaryDirectory() as root:
            listing_path = os.path.join(root, "nm.txt")
            with open(listing_path, "w", encoding="utf-8") as f:
                f.write(listing)
            dynamic_path = os.path.join(root, "readelf.txt")
            with open(dynamic_path, "w", encoding="utf-8") as f:
                f.write(dynamic)
            args = [sys.executable, CHECKER, "lib.so", "--listing", listing_path,
                    "--needed-listing", dynamic_path]
            if header is not None:
                header_path = os.path.join(root, "X.h")
                with open(header_path, "w", encoding="utf-8") as f:
                    f.write(header)
                args += ["--c-header", header_path]
            done = subprocess.run(args + list(extra), capture_output=True, text=True)
            return done.returncode, done.stdout

    def assertFails(self, listing, expected, **kwargs):
        code, out = self.run_checker(listing, **kwargs)
        self.assertEqual(code, 1, out)
        self.assertIn(expected, out)

    def test_public_api_only_passes(self):
        code, out = self.run_checker(CLEAN, extra=["--require", "typeinfo for Quellmar::DataSourceException"])
        self.assertEqual(code, 0, out)
        self.assertIn("7 exported symbols, 0 problems", out)

    def test_internal_namespace_fails(self):
        self.assertFails(CLEAN + "0000000000005000 T Quellmar::qmxfile::HandleTable::get(int)\n",
                         "internal symbol exported: Quellmar::qmxfile::HandleTable::get(int)")

    def test_anonymous_namespace_fails(self):
        self.assertFails(CLEAN + "0000000000005000 T Quellmar::(anonymous namespace)::f()\n",
                         "internal symbol exported")

    def test_standard_library_instantiation_fails(self):
        self.assertFails(CLEAN + "0000000000005000 W std::vector<int>::_M_realloc_insert(int&&)\n",
                         "not part of the public API: std::vector<int>")

    def test_c_function_the_header_does_not_declare_fails(self):
        self.assertFails(CLEAN + "0000000000005000 T QMXLinternalHelper\n",
                         "exported but not declared in")

    def test_declared_c_function_not_exported_fails(self):
        listing = "".join(l + "\n" for l in CLEAN.splitlines() if "QMXLcloseFile" not in l)
        self.assertFails(listing, "but not exported: QMXLcloseFile")

    def test_c_function_without_a_header_fails(self):
        self.assertFails(CLEAN, "C function outside any public header: QMXLopenFile", header=None)

    def test_missing_required_symbol_fails(self):
        self.assertFails(CLEAN, "required symbol missing: typeinfo for Quellmar::HDFException",
                         extra=["--require", "typeinfo for Quellmar::HDFException"])

    def test_loaded_sibling_passes(self):
        code, out = self.run_checker(CLEAN, extra=["--needs", "libPersistence_QmxFile.so"])
        self.assertEqual(code, 0, out)

    def test_sibling_linked_in_as_a_copy_fails(self):
        self.assertFails(CLEAN, "does not load libQMRService_Logging.so",
                         extra=["--needs", "libQMRService_Logging.so"])


if __name__ == "__main__":
    unittest.main()
