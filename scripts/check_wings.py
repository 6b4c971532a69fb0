#!/usr/bin/env python3
"""Checks the include graph of the file library: no unit includes itself round a cycle, and
no wing includes a wing above it.

A unit is a header with its source (Foo.h and Foo.cpp). A wing is a folder directly below the
library's root; the order of wings, lowest first, is given on the command line. The library's
root may hold only the public header, which includes nothing of the library and which every
wing may include. Plain wings (--plain) include no HDF5 header.

Usage: check_wings.py [--plain WING,...] ROOT WING [WING ...]
       (exit 1 listing the offending includes and cycles)
"""
import os
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
SYSTEM_INCLUDE = re.compile(r'^\s*#\s*include\s+<(hdf5\.h|H5[^>]*)>', re.M)
SKIPPED = {"tests", "bench"}


def sources(root):
    for folder, dirs, files in os.walk(root):
        dirs[:] = sorted(d for d in dirs if not (folder == root and d in SKIPPED))
        for name in sorted(files):
            if name.endswith((".h", ".cpp")):
                path = os.path.join(folder, name)
                yield os.path.relpath(path, root), path


def tangles(graph):
    """The strongly connected parts of the graph with more than one node (each holds a cycle)."""
    index, low, on_stack, stack, found = {}, {}, set(), [], []

    def visit(node):
        index[node] = low[node] = len(index)
        stack.append(node)
        on_stack.add(node)
        for nxt in sorted(graph.get(node, ())):
            if nxt not in index:
                visit(nxt)
                low[node] = min(low[node], low[nxt])
            elif nxt in on_stack:
                low[node] = min(low[node], index[nxt])
        if low[node] == index[node]:
            part = []
            while True:
                top = stack.pop()
                on_stack.discard(top)
                part.append(top)
                if top == node:
                    break
            if len(part) > 1:
                found.append(sorted(part))

    for node in sorted(graph):
        if node not in index:
            visit(node)
    return found


def check(root, order, plain=()):
    problems = []
    rank = {wing: i for i, wing in enumerate(order)}
    files = dict(sources(root))
    headers = {}  # header name -> its wing ("" for the root)
    for rel in files:
        wing = os.path.dirname(rel)
        if rel.endswith(".h"):
            headers[os.path.basename(rel)] = wing
        if wing and wing not in rank:
            problems.append(f"{rel}: wing '{wing}' is not in the wing order")
        if not wing and rel.endswith(".cpp"):
            problems.append(f"{rel}: sources live in a wing, not the library's root")
    units, wings = {}, {}
    for rel, path in files.items():
        wing = os.path.dirname(rel)
        unit = os.path.splitext(os.path.basename(rel))[0]
        with open(path, encoding="utf-8") as f:
            text = f.read()
        if wing in plain:
            for included in SYSTEM_INCLUDE.findall(text):
                problems.append(f"{rel}: includes <{included}> in plain wing '{wing}'")
        for included in INCLUDE.findall(text):
            name = os.path.basename(included)
            if name not in headers:
                continue  # another component's header
            target_wing = headers[name]
            target = os.path.splitext(name)[0]
            if not wing and target_wing != "":
                problems.append(f"{rel}: the public header includes {included}")
            if target != unit:
                units.setdefault(unit, set()).add(target)
            if wing and target_wing and target_wing != wing:
                wings.setdefault(wing, set()).add(target_wing)
                if wing in rank and target_wing in rank and rank[target_wing] > rank[wing]:
                    problems.append(f"{rel}: includes {included} of wing '{target_wing}', above '{wing}'")
    for part in tangles(units):
        problems.append("units in an include cycle: " + ", ".join(part))
    for part in tangles(wings):
        problems.append("wings in an include cycle: " + ", ".join(part))
    return problems


def main(argv):
    args = argv[1:]
    plain = []
    if args[:1] == ["--plain"] and len(args) > 1:
        plain = [w for w in args[1].split(",") if w]
        args = args[2:]
    if not args:
        print(__doc__, file=sys.stderr)
        return 2
    root, order = args[0], args[1:]
    if not os.path.isdir(root):
        print(f"{root}: no such folder", file=sys.stderr)
        return 2
    problems = check(root, order, plain)
    for problem in problems:
        print(problem)
    if not problems:
        print(f"include graph of {root}: no cycle, every include points down ({' < '.join(order)})")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
