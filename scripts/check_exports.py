#!/usr/bin/env python3
"""Checks what a shared library of the project exports (`nm -D --defined-only`, demangled).

Every exported symbol must belong to the public API: a member, type information or virtual
table of a class in namespace Quellmar, or a C function. Internal namespaces are never
exported. With --c-header, the exported C functions must be exactly the functions the header
declares. Every --require symbol must be there (exception type information above all: a host
catches by type).

With --needs, the library must load that sibling (a NEEDED entry) rather than hold a copy
of it: a second copy would give a process two of its handle tables or registries.

  check_exports.py [--c-header QMXL.h] [--require TEXT]... [--needs SONAME]... LIB
  check_exports.py --listing FILE --needed-listing FILE ...   reads the listings of nm and
                                                              readelf -d from files (tests)
"""
import argparse
import re
import subprocess
import sys

# Prefixes the demangler puts before the entity a compiler-made symbol belongs to.
SPECIAL = re.compile(r"^(typeinfo name for|typeinfo for|vtable for|VTT for|construction vtable for"
                     r"|non-virtual thunk to|virtual thunk to|guard variable for) ")
# Namespaces and classes that stay inside their library whatever a header marks.
INTERNAL = re.compile(r"Quellmar::(qmxfile|crc32c|detail)::|\(anonymous namespace\)|QMXRegistryInspector")
C_FUNCTION = re.compile(r"^\s*(?:[A-Z_]+_API\s+)?(?:const\s+)?[A-Za-z_][A-Za-z_0-9]*\s*\**\s*"
                        r"([A-Za-z_][A-Za-z_0-9]*)\s*\(", re.M)


def exported(lib, listing):
    if listing:
        with open(listing, encoding="utf-8") as f:
            text = f.read()
    else:
        text = subprocess.run(["nm", "-DC", "--defined-only", lib], check=True,
                              capture_output=True, text=True).stdout
    names = []
    for line in text.splitlines():
        parts = line.split(None, 2)
        if len(parts) == 3:
            names.append(parts[2].strip())
    return names


def needed(lib, listing):
    if listing:
        with open(listing, encoding="utf-8") as f:
            text = f.read()
    else:
        text = subprocess.run(["readelf", "-d", lib], check=True, capture_output=True,
                              text=True).stdout
    return set(re.findall(r"\(NEEDED\)\s+Shared library: \[([^\]]+)\]", text))


def header_functions(path):
    with open(path, encoding="utf-8") as f:
        text = re.sub(r"/\*.*?\*/", "", f.read(), flags=re.S)
    # Declarations only: lines outside the preprocessor whose call ends in ';'.
    text = "\n".join(l for l in text.splitlines() if not l.lstrip().startswith("#"))
    found = set()
    for match in C_FUNCTION.finditer(text):
        rest = text[match.end():]
        depth, i = 1, 0
        while depth and i < len(rest):
            depth += {"(": 1, ")": -1}.get(rest[i], 0)
            i += 1
        if rest[i:].lstrip().startswith(";"):
            found.add(match.group(1))
    return found


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("lib")
    parser.add_argument("--c-header")
    parser.add_argument("--require", action="append", default=[])
    parser.add_argument("--needs", action="append", default=[])
    parser.add_argument("--listing")
    parser.add_argument("--needed-listing")
    args = parser.parse_args()

    names = exported(args.lib, args.listing)
    problems = []
    c_names = set()
    for name in names:
        entity = SPECIAL.sub("", name)
        if INTERNAL.search(name):
            problems.append("internal symbol exported: " + name)
        elif entity.startswith("Quellmar::"):
            continue
        elif re.fullmatch(r"[A-Za-z_][A-Za-z_0-9]*", entity):
            c_names.add(entity)
        else:
            problems.append("not part of the public API: " + name)
    if args.c_header:
        declared = header_functions(args.c_header)
        for missing in sorted(declared - c_names):
            problems.append("declared in %s but not exported: %s" % (args.c_header, missing))
        for extra in sorted(c_names - declared):
            problems.append("exported but not declared in %s: %s" % (args.c_header, extra))
    elif c_names:
        problems.extend("C function outside any public header: " + n for n in sorted(c_names))
    for required in args.require:
        if required not in names:
            problems.append("required symbol missing: " + required)

    if args.needs:
        loaded = needed(args.lib, args.needed_listing)
        for soname in args.needs:
            if not any(entry.startswith(soname) for entry in loaded):
                problems.append("does not load %s (a copy linked in instead?)" % soname)

    for problem in problems:
        print(problem)
    print("%s: %d exported symbols, %d problems" % (args.lib, len(names), len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
