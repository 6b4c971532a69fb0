#!/usr/bin/env python3
"""Fails when a program holds two copies of one component: it loads the project's shared
libraries and also has that code linked in (from an internal static library). Two copies
mean two handle tables, two storage registries, two log sinks in one process.

  check_one_copy.py [--expect-shared PROGRAM]... DIR

Looks at every executable in DIR. One that loads a shared library of the project must not
define the code of any component itself; each --expect-shared program must load them (it is
a host program such as the examples or the qmx tool).
"""
import argparse
import os
import re
import subprocess
import sys

OURS = re.compile(r"^lib(Persistence_|QMRService_)\w+\.so")
# Code that only a component library holds: the file library's entry points and internals,
# the storage registry, the transaction stack, the log sink. Functions only: a program that
# uses a library's exported data gets a copy relocation, which the library then uses too.
COMPONENT_CODE = re.compile(r" [Tt] (QMXLopenFile$|Quellmar::qmxfile::|Quellmar::QMXPersistentStorage::|"
                            r"Quellmar::TransactionStack::|Quellmar::setLogSink)")


def is_elf(path):
    with open(path, "rb") as f:
        return f.read(4) == b"\x7fELF"


def loaded(path):
    text = subprocess.run(["readelf", "-d", path], capture_output=True, text=True).stdout
    return [lib for lib in re.findall(r"Shared library: \[([^\]]+)\]", text) if OURS.match(lib)]


def own_component_code(path):
    text = subprocess.run(["nm", "-C", "--defined-only", path], capture_output=True, text=True).stdout
    return sorted({line.split(" ", 2)[2] for line in text.splitlines() if COMPONENT_CODE.search(line)})


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("dir")
    parser.add_argument("--expect-shared", action="append", default=[])
    args = parser.parse_args()

    problems = []
    programs = 0
    for name in sorted(os.listdir(args.dir)):
        path = os.path.join(args.dir, name)
        if not os.path.isfile(path) or not os.access(path, os.X_OK) or not is_elf(path):
            continue
        programs += 1
        shared = loaded(path)
        if name in args.expect_shared and not shared:
            problems.append("%s loads none of the shared libraries" % name)
        if shared:
            copies = own_component_code(path)
            if copies:
                problems.append("%s loads %s and holds its own copy: %s" %
                                (name, ", ".join(shared), "; ".join(copies[:3])))
    for name in args.expect_shared:
        if not os.path.exists(os.path.join(args.dir, name)):
            problems.append("%s is missing" % name)
    for problem in problems:
        print(problem)
    print("%d programs, %d problems" % (programs, len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
