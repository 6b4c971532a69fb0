#!/usr/bin/python3
"""Damages copies of a container and checks that `qmx check` notices every change.

Each copy gets one kind of damage: flipped bytes, a truncation or a zeroed block. An
independent reader (h5py, in a forked child with a time limit) says what the damage did: the
data read back is identical to the original's, changed, or cannot be read at all. `qmx check`
must exit 1 for the last two and 0 for the first, and must never crash or hang itself.
Damage that touches the stored bytes of a dataset ("raw data") is counted on its own: all of it
must be caught.
"""
import argparse
import collections
import functools
import hashlib
import multiprocessing
import os
import random
import signal
import subprocess
import sys
import tempfile

import h5py
import numpy

TRUTH_SECONDS = 20
CHECK_SECONDS = 60


def digest(value):
    return hashlib.sha256(numpy.asarray(value).tobytes()).hexdigest()


def stored_bytes(dataset):
    """The elements exactly as stored (the dataset's own type, no conversion)."""
    stored_type = dataset.id.get_type()
    array = numpy.empty(dataset.shape, dtype="V%d" % stored_type.get_size())
    if array.size:
        dataset.id.read(h5py.h5s.ALL, h5py.h5s.ALL, array, mtype=stored_type)
    return array.tobytes()


def text(name):
    """A name as h5py hands it out: str, or bytes when the stored name is not UTF-8."""
    return name if isinstance(name, str) else repr(name)


def fingerprint(path):
    """(contents, metadata) of the file: the sorted digests of every dataset's values, and
    the sorted names, types and attribute values of everything. Types are compared as HDF5
    encodes them, so damage to a detail numpy does not show (string padding, a float's
    fields) counts. A dataset that cannot be read counts as changed contents."""
    contents, metadata = [], []

    def attributes(name, obj):
        for key in sorted(obj.attrs.keys(), key=text):
            stored_type = obj.attrs.get_id(key).get_type().encode().hex()
            metadata.append(("@" + text(name) + "/" + text(key), stored_type, digest(obj.attrs[key])))

    with h5py.File(path, "r") as f:
        attributes("/", f)

        def visit(name, obj):
            attributes(name, obj)
            if isinstance(obj, h5py.Dataset):
                try:
                    value = hashlib.sha256(stored_bytes(obj)).hexdigest()
                except Exception as error:
                    value = "unreadable " + type(error).__name__
                contents.append((str(obj.dtype), value))
                metadata.append((text(name), obj.id.get_type().encode().hex(), ""))
            else:
                metadata.append((text(name), "group", ""))

        f.visititems(visit)
    return sorted(contents), sorted(metadata)


def verdict_of(found, reference):
    if found[0] != reference[0]:
        return "data changed"
    return "identical" if found[1] == reference[1] else "metadata changed"


def truth_in_child(path, reference):
    """'identical', 'data changed', 'metadata changed' or 'unreadable:<why>', read in a forked
    child so a crash or hang of HDF5 cannot take this script down."""
    read_end, write_end = os.pipe()
    pid = os.fork()
    if pid == 0:
        os.close(read_end)
        signal.alarm(TRUTH_SECONDS)
        try:
            answer = verdict_of(fingerprint(path), reference)
        except Exception as error:  # any failure of the reader means the data cannot be read
            answer = "unreadable:" + type(error).__name__
        os.write(write_end, answer.encode())
        os._exit(0)
    os.close(write_end)
    chunks = []
    while True:
        chunk = os.read(read_end, 4096)
        if not chunk:
            break
        chunks.append(chunk)
    os.close(read_end)
    _, status = os.waitpid(pid, 0)
    answer = b"".join(chunks).decode()
    if not answer:
        sig = os.WTERMSIG(status) if os.WIFSIGNALED(status) else 0
        return "unreadable:" + ("hang" if sig == signal.SIGALRM else "signal %d" % sig)
    return answer


def raw_ranges(path):
    """(offset, end) of the stored bytes of every dataset: chunks as HDF5 places them, and the
    bytes of contiguous and compact (in-header) datasets where they appear once in the file."""
    ranges = []
    content = open(path, "rb").read()
    with h5py.File(path, "r") as f:
        def visit(_, obj):
            if not isinstance(obj, h5py.Dataset):
                return
            if obj.chunks is not None:
                for i in range(obj.id.get_num_chunks()):
                    info = obj.id.get_chunk_info(i)
                    ranges.append((info.byte_offset, info.byte_offset + info.size))
                return
            stored = stored_bytes(obj)
            at = content.find(stored) if len(stored) >= 8 else -1
            if at >= 0 and content.find(stored, at + 1) < 0:
                ranges.append((at, at + len(stored)))
        f.visititems(visit)
    return ranges


def damage(original, rng, kind):
    """The damaged bytes and the byte range the damage touched."""
    data = bytearray(original)
    size = len(data)
    if kind == "flip":
        count = rng.choice([1, 1, 1, 2, 4])
        spots = [rng.randrange(size) for _ in range(count)]
        for at in spots:
            data[at] ^= rng.randrange(1, 256)
        return bytes(data), [(at, at + 1) for at in spots]
    if kind == "truncate":
        cut = rng.randrange(1, size)
        return bytes(data[:cut]), [(cut, size)]
    length = rng.choice([16, 64, 256, 512, 4096])
    at = rng.randrange(size)
    end = min(size, at + length)
    data[at:end] = bytes(end - at)
    return bytes(data), [(at, end)]


def touches(spans, ranges):
    return any(a < d and c < b for a, b in spans for c, d in ranges)


def judge_copy(original, reference, ranges, qmx, seed, scratch, kinds, n):
    """Damages copy n (the same way for the same seed) and judges it both ways."""
    rng = random.Random(seed * 1000003 + n)
    kind = kinds[n % len(kinds)]
    data, spans = damage(original, rng, kind)
    path = os.path.join(scratch, "copy-%05d.qmz" % n)
    with open(path, "wb") as out:
        out.write(data)
    truth = truth_in_child(path, reference)
    rc, text = run_check(qmx, path)
    return n, kind, touches(spans, ranges), truth, rc, text, path


def run_check(qmx, path):
    try:
        done = subprocess.run([qmx, "check", path], capture_output=True, timeout=CHECK_SECONDS)
    except subprocess.TimeoutExpired:
        return "hang", ""
    if done.returncode < 0:
        return "signal %d" % -done.returncode, done.stderr.decode(errors="replace")
    text = (done.stdout + done.stderr).decode(errors="replace").strip()
    return str(done.returncode), text


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--qmx", required=True, help="the qmx tool")
    parser.add_argument("--original", required=True, help="an intact container, e.g. from qmx demo")
    parser.add_argument("--copies", type=int, default=2400)
    parser.add_argument("--seed", type=int, default=11)
    parser.add_argument("--keep", help="directory that keeps every copy qmx got wrong")
    parser.add_argument("--jobs", type=int, default=2)
    args = parser.parse_args()

    original = open(args.original, "rb").read()
    reference = fingerprint(args.original)
    ranges = raw_ranges(args.original)
    rc, text = run_check(args.qmx, args.original)
    if rc != "0":
        sys.exit("qmx check fails on the intact original (%s): %s" % (rc, text))

    kinds = ["flip", "truncate", "zero"]
    rows = collections.OrderedDict((k, collections.Counter()) for k in kinds + ["raw data", "all"])
    wrong = []
    with tempfile.TemporaryDirectory(prefix="qmx-mutation-") as scratch:
        job = functools.partial(judge_copy, original, reference, ranges, args.qmx, args.seed, scratch, kinds)
        with multiprocessing.Pool(args.jobs) as pool:
            for n, kind, raw, truth, rc, text, path in pool.imap(job, range(args.copies), chunksize=4):
                verdict = truth.split(":")[0]
                outcome = ("qmx " + rc) if rc in ("0", "1") else "qmx crash/hang"
                expected = "0" if verdict == "identical" else "1"
                ok = rc == expected and not (rc == "1" and not text)  # a failure must say what failed
                keys = [kind, "all"] + (["raw data"] if raw else [])
                for key in keys:
                    rows[key]["copies"] += 1
                    rows[key][verdict] += 1
                    rows[key][outcome] += 1
                    rows[key]["right" if ok else "wrong"] += 1
                    if verdict != "identical" and rc == "0":
                        rows[key]["missed"] += 1
                    if verdict in ("data changed", "unreadable") and rc == "0":
                        rows[key]["missed data"] += 1
                    if verdict == "identical" and rc == "1":
                        rows[key]["false alarm"] += 1
                    if truth == "unreadable:hang" or truth.startswith("unreadable:signal"):
                        rows[key]["reader crash/hang"] += 1
                if not ok:
                    wrong.append((n, kind, truth, rc, text.splitlines()[:2]))
                    if args.keep:
                        os.makedirs(args.keep, exist_ok=True)
                        os.replace(path, os.path.join(args.keep, os.path.basename(path)))
                        continue
                os.remove(path)

    columns = ["copies", "identical", "data changed", "metadata changed", "unreadable", "reader crash/hang",
               "qmx 0", "qmx 1", "qmx crash/hang", "missed", "missed data", "false alarm", "right", "wrong"]
    print("| damage | " + " | ".join(columns) + " |")
    print("|---" * (len(columns) + 1) + "|")
    for name, row in rows.items():
        print("| %s | %s |" % (name, " | ".join(str(row[c]) for c in columns)))
    print()
    raw = rows["raw data"]
    print("raw-data damage detected: %d of %d copies whose data changed or cannot be read" %
          (raw["data changed"] + raw["unreadable"] - raw["missed data"], raw["data changed"] + raw["unreadable"]))
    for n, kind, truth, rc, first in wrong[:40]:
        print("wrong: copy %d (%s): reader says %s, qmx check exit %s %s" % (n, kind, truth, rc, first))
    return 0 if not wrong else 1


if __name__ == "__main__":
    sys.exit(main())
