#!/usr/bin/python3
"""Damages copies of containers and reads each one as a host would, in its own process.

For every original (a container and the manifest of what its host stored) the host reader
first reads the intact file; that is the reference. Then each damaged copy (flipped bytes
anywhere, a truncation, a zeroed block, flipped bytes inside the stored bytes of an object
("raw") or outside all of them ("metadata"); seeded, so the same
seed gives the same copies) is read by a child with a watchdog and a memory limit, and judged:

  died               the host process ended (a signal, or a sanitizer's report); the stack says
                     whether in our code or inside HDF5
  hung               the watchdog ended it
  silent difference  some question was answered without an exception but differently from the
                     original (wrong bytes, a wrong shape, "absent", a default attribute)
  clean error        every answer that differs is an exception
  identical          every answer is the original's

Every silent difference and every death is listed with its damage so that it can be explained;
--keep keeps those copies, --only CONTAINER:N rewrites one copy for a closer look.
"""
import argparse
import bisect
import collections
import concurrent.futures
import os
import random
import re
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "fuzz"))
import fuzz_run  # noqa: E402  (who a sanitizer report blames)

KINDS = ["flip", "truncate", "zero", "raw", "metadata"]
OUTCOMES = ["identical", "clean error", "silent difference", "died", "hung"]
HDF5_LIBS = fuzz_run.HDF5
# A frame as glibc's backtrace_symbols_fd prints it: "/lib/libx.so(function+0x1c)[0x7f..]".
GLIBC_FRAME = re.compile(r"^(\S+?)\((\S*?)(?:\+0x[0-9a-f]+)?\)\s*\[0x[0-9a-f]+\]$")
RUNTIME_LIBS = ("libc.so", "libstdc++", "libgcc_s", "ld-linux")


# ---- damage ---------------------------------------------------------------------------------

def raw_ranges(reader, path, manifest):
    """(offset, end) of the stored bytes of every object the host reads, as the reader finds
    them in the intact file."""
    done = subprocess.run([reader, "--ranges", path, manifest], capture_output=True, check=True)
    return [tuple(int(v) for v in line.split()) for line in done.stdout.decode().splitlines() if line.strip()]


def outside(ranges, size, rng):
    """A random offset in none of the ranges (sorted, disjoint); None when there is none."""
    starts = [a for a, _ in ranges]
    for _ in range(1000):
        at = rng.randrange(size)
        i = bisect.bisect_right(starts, at) - 1
        if i < 0 or at >= ranges[i][1]:
            return at
    return None


def damage(original, rng, kind, ranges):
    """(damaged bytes, description, spans) for one copy."""
    data = bytearray(original)
    size = len(data)
    if kind == "truncate":
        cut = rng.randrange(1, size)
        return bytes(data[:cut]), "truncated at %d of %d" % (cut, size), [(cut, size)]
    if kind == "zero":
        length = rng.choice([16, 64, 256, 512, 4096])
        at = rng.randrange(size)
        end = min(size, at + length)
        data[at:end] = bytes(end - at)
        return bytes(data), "zeroed %d bytes at %d" % (end - at, at), [(at, end)]
    if kind == "raw" and ranges:
        start, end = rng.choice(ranges)
        spots = [rng.randrange(start, end) for _ in range(rng.choice([1, 1, 2, 4]))]
    elif kind == "metadata" and ranges:
        spots = [outside(ranges, size, rng) for _ in range(rng.choice([1, 1, 1, 2, 4]))]
        spots = [at for at in spots if at is not None] or [rng.randrange(size)]
    else:
        spots = [rng.randrange(size) for _ in range(rng.choice([1, 1, 1, 2, 4]))]
    changes = []
    for at in spots:
        value = rng.randrange(1, 256)
        data[at] ^= value
        changes.append("%d^0x%02x" % (at, value))
    return bytes(data), "flipped " + " ".join(changes), [(at, at + 1) for at in spots]


def touches(spans, ranges):
    return any(a < d and c < b for a, b in spans for c, d in ranges)


def copy_rng(seed, label, n):
    return random.Random("%d:%s:%d" % (seed, label, n))


# ---- reading --------------------------------------------------------------------------------

def child_environment(memory_mb):
    env = dict(os.environ)
    # Sanitized readers: a huge allocation fails like in a host (bad_alloc), and the memory
    # bound is the sanitizer's own, since it needs a large address space.
    env["ASAN_OPTIONS"] = ("allocator_may_return_null=1:detect_leaks=0:abort_on_error=1:"
                           "hard_rss_limit_mb=%d" % memory_mb)
    env["UBSAN_OPTIONS"] = "print_stacktrace=1:halt_on_error=1"
    return env


def run_reader(reader, path, manifest, timeout, memory_mb):
    """(status, lines or None, stderr); status 'done', 'died' or 'hung'."""
    command = [reader, "--memory-mb", str(memory_mb), path, manifest]
    try:
        done = subprocess.run(command, capture_output=True, timeout=timeout,
                              env=child_environment(memory_mb))
    except subprocess.TimeoutExpired as expired:
        return "hung", None, (expired.stderr or b"").decode(errors="replace")
    out = done.stdout.decode(errors="replace")
    err = done.stderr.decode(errors="replace")
    if done.returncode != 0 or not out.endswith("END\n"):
        how = ("signal %d" % -done.returncode) if done.returncode < 0 else "exit %d" % done.returncode
        return "died", None, "%s\n%s" % (how, err)
    return "done", parse_lines(out), err


def parse_lines(out):
    lines = collections.OrderedDict()
    for line in out.splitlines():
        if line == "END":
            break
        key, status, text = (line.split("\t", 2) + ["", ""])[:3]
        lines[key] = (status == "ok", text)
    return lines


def compare(reference, lines):
    """(outcome, differing answers, errors): differing answers are (key, was, now) of answers
    given without an exception."""
    differing, errors = [], 0
    for key, (ok, text) in lines.items():
        if not ok:
            errors += 1
            continue
        was = reference.get(key)
        if was is None or was[1] != text:
            differing.append((key, was[1] if was else "(not asked)", text))
    if differing:
        return "silent difference", differing, errors
    return ("clean error" if errors else "identical"), differing, errors


# ---- who a death belongs to -----------------------------------------------------------------

def glibc_frames(report):
    frames = []
    for line in report.splitlines():
        m = GLIBC_FRAME.match(line.strip())
        if m:
            frames.append((m.group(2) or "?", m.group(1)))
    return frames


def blame(report):
    """('ours' | 'hdf5' | 'unknown', deciding frame, stack) of a dead reader's stderr."""
    overrun = re.search(r"host buffer overrun: (.*)", report)
    if overrun:
        return "ours", "the library wrote past the host's buffer (%s)" % overrun.group(1), []
    if "Sanitizer" in report or "runtime error" in report:
        return fuzz_run.attribute(report)
    if "host died" not in report:
        return "unknown", report.strip().splitlines()[0] if report.strip() else "", []
    stack = glibc_frames(report)
    # The handler's own frames come first, up to the signal trampoline in libc.
    start = next((i + 1 for i, (_, where) in enumerate(stack) if "libc.so" in where), 0)
    for i, (function, where) in enumerate(stack[start:]):
        if any(lib in where for lib in RUNTIME_LIBS):
            continue
        if any(lib in where for lib in HDF5_LIBS) or function.startswith("H5"):
            # HDF5's internal functions carry no symbol; name the innermost one that does.
            named = next((f for f, w in stack[start + i:] if f != "?" and any(lib in w for lib in HDF5_LIBS)), "?")
            return "hdf5", named if function == "?" else function, stack[start:]
        return "ours", "%s in %s" % (function, os.path.basename(where)), stack[start:]
    return "unknown", "", stack


# ---- the campaign ---------------------------------------------------------------------------

class Original:
    def __init__(self, path, manifest, args):
        self.path = path
        self.manifest = manifest
        self.label = os.path.basename(path)
        with open(path, "rb") as data:
            self.data = data.read()
        self.ranges = raw_ranges(args.reader, path, manifest)
        status, lines, err = run_reader(args.reader, path, manifest, args.timeout * 6, args.memory_mb)
        if status != "done":
            sys.exit("the intact %s does not read: %s %s" % (path, status, err))
        failed = [key for key, (ok, _) in lines.items() if not ok]
        if failed:
            sys.exit("the intact %s does not read cleanly: %s" % (path, ", ".join(failed[:5])))
        self.reference = lines


def judge(original, n, args, scratch):
    kind = KINDS[n % len(KINDS)]
    rng = copy_rng(args.seed, original.label, n)
    data, what, spans = damage(original.data, rng, kind, original.ranges)
    path = os.path.join(scratch, "%s.%05d.qmz" % (original.label, n))
    with open(path, "wb") as out:
        out.write(data)
    status, lines, err = run_reader(args.reader, path, original.manifest, args.timeout, args.memory_mb)
    result = {"original": original, "n": n, "kind": kind, "what": what,
              "raw": touches(spans, original.ranges), "path": path}
    if status == "done":
        outcome, differing, errors = compare(original.reference, lines)
        result.update(outcome=outcome, differing=differing, errors=errors)
    else:
        result.update(outcome=status, differing=[], errors=0)
        if status == "died":
            result["blame"] = blame(err)
            result["report"] = err
    return result


def row_keys(result):
    keys = [(result["original"].label, result["kind"]), (result["original"].label, "all"),
            ("all", result["kind"]), ("all", "all")]
    if result["raw"]:
        keys += [(result["original"].label, "touches raw data"), ("all", "touches raw data")]
    return keys


def tally(results):
    rows = collections.OrderedDict()
    for result in results:
        for key in row_keys(result):
            row = rows.setdefault(key, collections.Counter())
            row["copies"] += 1
            row[result["outcome"]] += 1
            if result["outcome"] == "silent difference" and result["errors"] == 0:
                row["silent, no exception at all"] += 1
            if result["outcome"] == "died":
                row["died " + result["blame"][0]] += 1
    return rows


def print_table(rows):
    columns = ["copies", "identical", "clean error", "silent difference", "silent, no exception at all",
               "died", "died ours", "died hdf5", "died unknown", "hung"]
    order = sorted(rows, key=lambda k: (k[0] == "all", k[0], (KINDS + ["touches raw data", "all"]).index(k[1])))
    print("| container | damage | " + " | ".join(columns) + " |")
    print("|---|---|" + "---|" * len(columns))
    for key in order:
        row = rows[key]
        print("| %s | %s | %s |" % (key[0], key[1], " | ".join(str(row[c]) for c in columns)))


def demangle(name):
    """A C++ symbol as written in the source, when c++filt is at hand."""
    if not name.startswith("_Z"):
        return name
    try:
        return subprocess.run(["c++filt", name], capture_output=True, timeout=10).stdout.decode().strip() or name
    except (OSError, subprocess.TimeoutExpired):
        return name


def print_findings(results, limit):
    listed = [r for r in results if r["outcome"] in ("silent difference", "died", "hung")]
    # Deaths and hangs first: they are what must never happen.
    listed.sort(key=lambda r: (-OUTCOMES.index(r["outcome"]), r["original"].label, r["n"]))
    for r in listed[:limit]:
        where = "%s copy %d (%s: %s)" % (r["original"].label, r["n"], r["kind"], r["what"])
        if r["outcome"] == "silent difference":
            shown = "; ".join("%s: %s -> %s" % (k, was[:60], now[:60]) for k, was, now in r["differing"][:3])
            more = " (+%d more)" % (len(r["differing"]) - 3) if len(r["differing"]) > 3 else ""
            print("silent: %s%s: %s%s" % (where, " beside errors" if r["errors"] else "", shown, more))
        elif r["outcome"] == "died":
            owner, site, stack = r["blame"]
            print("died: %s: %s, %s at %s" % (where, r["report"].splitlines()[0], owner, demangle(site)))
            for function, frame in stack[:8]:
                print("    %s %s" % (demangle(function)[:120], frame))
        else:
            print("hung: %s" % where)
    if len(listed) > limit:
        print("... %d more not listed (--list to raise the limit)" % (len(listed) - limit))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--reader", required=True, help="the qmx_host_reader program")
    parser.add_argument("--copies", type=int, default=1000, help="damaged copies of each original")
    parser.add_argument("--seed", type=int, default=19)
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--timeout", type=float, default=10, help="watchdog seconds per copy")
    parser.add_argument("--memory-mb", type=int, default=2048)
    parser.add_argument("--keep", help="directory that keeps every copy listed as silent, died or hung")
    parser.add_argument("--only", help="CONTAINER:N: write that one copy into --keep (or .) and judge it")
    parser.add_argument("--list", type=int, default=200, help="at most this many findings listed")
    parser.add_argument("--require-no-deaths", action="store_true", help="fail on any death or hang")
    parser.add_argument("--max-silent-percent", type=float, help="fail above this share of silent differences")
    parser.add_argument("--max-unflagged-percent", type=float,
                        help="fail above this share of copies read with no exception at all but with different data")
    parser.add_argument("originals", nargs="+", help="CONTAINER MANIFEST pairs")
    args = parser.parse_args()
    if len(args.originals) % 2:
        parser.error("originals come in CONTAINER MANIFEST pairs")

    originals = [Original(args.originals[i], args.originals[i + 1], args)
                 for i in range(0, len(args.originals), 2)]
    for o in originals:
        print("%s: %d bytes, %d questions, %d stored-data ranges" %
              (o.path, len(o.data), len(o.reference), len(o.ranges)))

    jobs = [(o, n) for o in originals for n in range(args.copies)]
    if args.only:
        label, _, number = args.only.rpartition(":")
        jobs = [(o, int(number)) for o in originals if o.label == label]
        if not jobs:
            parser.error("no original named %s" % label)

    keep = args.keep or ("." if args.only else None)
    results = []
    with tempfile.TemporaryDirectory(prefix="qmx-host-read-") as scratch:
        with concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
            futures = [pool.submit(judge, o, n, args, scratch) for o, n in jobs]
            for future in concurrent.futures.as_completed(futures):
                result = future.result()
                results.append(result)
                if keep and (args.only or result["outcome"] in ("silent difference", "died", "hung")):
                    os.makedirs(keep, exist_ok=True)
                    os.replace(result["path"], os.path.join(keep, os.path.basename(result["path"])))
                else:
                    os.remove(result["path"])

    print("\nseed %d, %d copies of each original, watchdog %g s\n" % (args.seed, args.copies, args.timeout))
    rows = tally(results)
    print_table(rows)
    print()
    print_findings(results, args.list)
    total = rows[("all", "all")]
    silent_percent = 100.0 * total["silent difference"] / max(1, total["copies"])
    unflagged = total["silent, no exception at all"]
    unflagged_percent = 100.0 * unflagged / max(1, total["copies"])
    print("\n%d copies: %d died, %d hung, %d silent differences (%.2f%%), %d of them read with no exception "
          "at all (%.2f%%)" % (total["copies"], total["died"], total["hung"], total["silent difference"],
                               silent_percent, unflagged, unflagged_percent))
    failed = False
    if args.require_no_deaths and (total["died"] or total["hung"]):
        print("FAILED: a damaged copy ended or hung the host")
        failed = True
    if args.max_silent_percent is not None and silent_percent > args.max_silent_percent:
        print("FAILED: more than %g%% silent differences" % args.max_silent_percent)
        failed = True
    if args.max_unflagged_percent is not None and unflagged_percent > args.max_unflagged_percent:
        print("FAILED: more than %g%% of the copies read as different data with no exception at all" %
              args.max_unflagged_percent)
        failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
