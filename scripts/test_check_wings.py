#!/usr/bin/env python3
"""Cases for check_wings.py: small trees built in a temporary folder, each with one fault."""
import os
import subprocess
import sys
import tempfile
import unittest

CHECKER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "check_wings.py")
ORDER = ["base", "middle", "top"]


def build(root, files):
    for rel, text in files.items():
        path = os.path.join(root, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)


# A tree that keeps every rule: the public header at the root, each wing including only
# itself and wings below, and a test folder that may include anything.
CLEAN = {
    "Public.h": "#include <string>\n",
    "base/A.h": "#pragma once\n",
    "base/A.cpp": '#include "A.h"\n',
    "middle/B.h": '#include "A.h"\n',
    "middle/B.cpp": '#include "B.h"\n#include "Public.h"\n#include "Other.h"\n#include <hdf5.h>\n',
    "top/C.cpp": '#include "B.h"\n#include "A.h"\n',
    "top/C.h": "",
    "tests/CTest.cpp": '#include "C.h"\n#include "A.h"\n',
}


class CheckWings(unittest.TestCase):
    def run_checker(self, changes, plain=None, order=ORDER):
        with tempfile.TemporaryDirectory() as root:
            tree = dict(CLEAN)
            tree.update(changes)
            build(root, {k: v for k, v in tree.items() if v is not None})
            args = [sys.executable, CHECKER] + (["--plain", plain] if plain else []) + [root] + order
            done = subprocess.run(args, capture_output=True, text=True)
            return done.returncode, done.stdout

    def assertFails(self, changes, *expected, **kwargs):
        code, out = self.run_checker(changes, **kwargs)
        self.assertEqual(code, 1, out)
        for text in expected:
            self.assertIn(text, out)

    def test_clean_tree_passes(self):
        code, out = self.run_checker({}, plain="base")
        self.assertEqual(code, 0, out)
        self.assertIn("no cycle", out)

    def test_unit_cycle_through_a_source_fails(self):
        # A.cpp reaching B.h closes A -> B -> A even though no header includes itself.
        self.assertFails({"base/A.cpp": '#include "A.h"\n#include "B.h"\n'},
                         "units in an include cycle: A, B", "above 'base'")

    def test_cycle_inside_one_wing_fails(self):
        self.assertFails({"base/D.h": '#include "E.h"\n', "base/E.cpp": '#include "D.h"\n',
                          "base/E.h": ""}, "units in an include cycle: D, E")

    def test_upward_include_fails(self):
        self.assertFails({"middle/B.cpp": '#include "B.h"\n#include "C.h"\n'},
                         "middle/B.cpp: includes C.h of wing 'top', above 'middle'")

    def test_wing_cycle_without_unit_cycle_fails(self):
        # Two wings leaning on each other through different units; listed in neither order.
        order = ["base", "middle", "top", "left", "right"]
        self.assertFails({"left/L1.h": '#include "R1.h"\n', "right/R1.h": "",
                          "right/R2.h": '#include "L2.h"\n', "left/L2.h": ""},
                         "wings in an include cycle: left, right", order=order)

    def test_hdf5_in_a_plain_wing_fails(self):
        self.assertFails({"base/A.cpp": '#include "A.h"\n#include <H5FDpublic.h>\n'},
                         "base/A.cpp: includes <H5FDpublic.h> in plain wing 'base'", plain="base,other")

    def test_unknown_wing_and_root_sources_fail(self):
        self.assertFails({"stray/S.h": "", "Loose.cpp": ""},
                         "wing 'stray' is not in the wing order", "Loose.cpp: sources live in a wing")

    def test_public_header_including_a_wing_fails(self):
        self.assertFails({"Public.h": '#include "A.h"\n'}, "the public header includes A.h")

    def test_missing_root_is_a_usage_error(self):
        done = subprocess.run([sys.executable, CHECKER, "/nonexistent/qmx-wings"] + ORDER,
                              capture_output=True, text=True)
        self.assertEqual(done.returncode, 2)


if __name__ == "__main__":
    unittest.main()
