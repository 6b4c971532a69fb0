#!/usr/bin/env python3
"""Runs the fuzz target for a bounded time and sorts what it found.

Crashes, hangs and memory blow-ups are collected instead of ending the run (libFuzzer's fork
mode). Every collected input is then replayed on its own and attributed by its stack: to HDF5
(the first frame that is neither the C library nor the sanitizer is in libhdf5 or zlib) or to
our code. HDF5's are listed with their stacks; any of ours fails the run.
"""
import argparse
import collections
import os
import re
import subprocess
import sys

FRAME = re.compile(r"^\s*#(\d+) 0x[0-9a-f]+ in (\S+)(?: (.*))?$")
NOISE = ("__interceptor_", "__asan", "__sanitizer", "__lsan", "__ubsan", "__memcpy", "__memmove",
         "__memset", "__strlen", "__strcmp", "malloc", "calloc", "realloc", "free", "operator new",
         "abort", "raise", "__GI_", "__libc", "__pthread_kill", "pthread_kill", "gsignal", "fuzzer::")
HDF5 = ("libhdf5", "libz.so", "libsz", "libaec")


def sanitizer_environment(suppressions):
    env = dict(os.environ)
    env["ASAN_OPTIONS"] = "allocator_may_return_null=1:detect_leaks=1"
    env["LSAN_OPTIONS"] = "suppressions=%s:print_suppressions=0" % suppressions
    env["UBSAN_OPTIONS"] = "print_stacktrace=1"
    return env


def frames(report):
    """(function, where) of the first stack in a sanitizer report."""
    stack = []
    for line in report.splitlines():
        m = FRAME.match(line)
        if m:
            if int(m.group(1)) == 0 and stack:
                break
            stack.append((m.group(2), m.group(3) or ""))
    return stack


def runtime_frame(where):
    """A frame of the sanitizer runtime or libFuzzer linked into the fuzz target: an offset into
    a binary without a source line (ASan's interceptors carry libc's names, e.g. strdup). Our
    code is built with line information."""
    return where.startswith("(") and "+0x" in where and not any(lib in where for lib in HDF5)


def allocation_frames(report):
    """(function, where) of the stack that allocated the block a heap report is about."""
    at = report.find("allocated by thread")
    return frames(report[at:]) if at >= 0 else []


def attribute(report):
    """('hdf5' | 'ours' | 'unknown', deciding frame, stack)."""
    stack = frames(report)
    # A host's read buffer is sized by what the library answered; whoever then wrote past its
    # end (HDF5's memcpy included), the library let it happen.
    if "heap-buffer-overflow" in report and any("GuardedBuffer" in f for f, _ in allocation_frames(report)):
        writer = next((f for f, w in stack if not f.startswith(NOISE) and not runtime_frame(w)), "?")
        return "ours", "a host's buffer overrun, written by " + writer, stack
    for function, where in stack:
        if function.startswith(NOISE) or "libc.so" in where or "sysdeps" in where or runtime_frame(where):
            continue
        if any(lib in where for lib in HDF5) or function.startswith("H5"):
            return "hdf5", function, stack
        return "ours", function + " " + where, stack
    return "unknown", "", stack


def kind_of(report):
    for text, kind in (("ALARM: working on the last Unit", "hang"), ("out-of-memory", "out of memory"),
                       ("LeakSanitizer", "leak"), ("heap-buffer-overflow", "heap-buffer-overflow"),
                       ("heap-use-after-free", "heap-use-after-free"), ("SEGV", "SEGV"),
                       ("stack-overflow", "stack-overflow"), ("runtime error", "undefined behaviour"),
                       ("AddressSanitizer", "memory error"), ("deadly signal", "signal")):
        if text in report:
            return kind
    return "other"


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--fuzzer", required=True)
    parser.add_argument("--seconds", type=int, default=60)
    parser.add_argument("--jobs", type=int, default=1)
    parser.add_argument("--work", required=True, help="directory for corpus, artifacts and log")
    parser.add_argument("--suppressions", required=True)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("seeds", nargs="+", help="seed directories")
    args = parser.parse_args()

    corpus = os.path.join(args.work, "corpus")
    artifacts = os.path.join(args.work, "artifacts")
    os.makedirs(corpus, exist_ok=True)
    os.makedirs(artifacts, exist_ok=True)
    env = sanitizer_environment(args.suppressions)
    command = [args.fuzzer, "-fork=%d" % args.jobs, "-ignore_crashes=1", "-ignore_timeouts=1",
               "-ignore_ooms=1", "-max_total_time=%d" % args.seconds, "-timeout=20",
               "-rss_limit_mb=2048", "-max_len=65536", "-seed=%d" % args.seed,
               "-artifact_prefix=" + artifacts + "/", corpus] + args.seeds
    log_path = os.path.join(args.work, "fuzz.log")
    with open(log_path, "w") as log:
        subprocess.run(command, stdout=log, stderr=subprocess.STDOUT, env=env,
                       timeout=args.seconds * 3 + 120)
    log_text = open(log_path, errors="replace").read()
    executions = re.findall(r"#(\d+): cov: \d+", log_text) or re.findall(r"#(\d+)\s", log_text)
    print("fuzzed %d s, %s executions, corpus %d inputs; log %s" %
          (args.seconds, executions[-1] if executions else "?", len(os.listdir(corpus)), log_path))

    sites = collections.OrderedDict()
    ours = []
    for name in sorted(os.listdir(artifacts)):
        path = os.path.join(artifacts, name)
        try:
            replay = subprocess.run([args.fuzzer, "-timeout=20", "-rss_limit_mb=2048", path],
                                    capture_output=True, env=env, timeout=120)
            report = replay.stderr.decode(errors="replace")
            crashed = replay.returncode != 0
        except subprocess.TimeoutExpired:
            report, crashed = "ALARM: working on the last Unit (replay timed out)", True
        if not crashed:
            print("%s: does not reproduce on replay" % name)
            continue
        owner, site, stack = attribute(report)
        kind = kind_of(report)
        if owner == "ours":
            ours.append((name, kind, site, stack))
            continue
        key = (kind, site)
        entry = sites.setdefault(key, {"count": 0, "example": name, "stack": stack})
        entry["count"] += 1

    if sites:
        print("\nInside HDF5 (not ours to fix; `qmx check` isolates them):")
        print("| kind | innermost HDF5 function | inputs | example |")
        print("|---|---|---|---|")
        for (kind, site), entry in sites.items():
            print("| %s | %s | %d | %s |" % (kind, site or "?", entry["count"], entry["example"]))
        for (kind, site), entry in sites.items():
            print("\n%s in %s, stack of %s:" % (kind, site or "?", entry["example"]))
            for function, where in entry["stack"][:14]:
                print("    %s %s" % (function, where))
    for name, kind, site, stack in ours:
        print("\nIN OUR CODE: %s (%s) at %s" % (name, kind, site))
        for function, where in stack[:20]:
            print("    %s %s" % (function, where))
    return 1 if ours else 0


if __name__ == "__main__":
    sys.exit(main())
