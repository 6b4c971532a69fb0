"""Reads the compressed items CompressorsInteropTest writes, with h5py and Debian's hdf5plugin.

Usage: compressed_interop_check.py FILE. Exit code 0 when every item has the expected filter
and values."""
import sys

import h5py
import hdf5plugin
import numpy as np

BLOSC, LZ4 = 32001, 32004


def check(condition, what):
    if not condition:
        print("compressed interop mismatch:", what, file=sys.stderr)
        sys.exit(1)


def filters(dataset):
    plist = dataset.id.get_create_plist()
    return [plist.get_filter(i)[0] for i in range(plist.get_nfilters())]


index = np.arange(100000, dtype=np.int64)
expected = (index // 8).astype(np.float64) * 0.5 + (index % 16).astype(np.float64) * 0.125
with h5py.File(sys.argv[1], "r") as f:
    for name, pipeline in (("blosc_lz4", [BLOSC]), ("blosc_zstd", [BLOSC]), ("lz4", [h5py.h5z.FILTER_SHUFFLE, LZ4])):
        group = f[name]
        check(filters(group["doubles"]) == pipeline, "%s pipeline %r" % (name, filters(group["doubles"])))
        check(np.array_equal(group["doubles"][()], expected), name + " doubles")
        check(np.array_equal(group["doubles"][40000:40010], expected[40000:40010]), name + " slice")
        records = group["records"][()]
        check(records.dtype.names == ("id", "position", "weight", "flag"), name + " record names")
        check(list(records["id"][:5]) == [0, 1, 2, 3, 4] and records["id"][-1] == 2999, name + " record ids")
        check(np.array_equal(records["position"][:, 1], np.arange(3000) * 1.5), name + " array member")
        blob = group["blob"][()].tobytes()
        check(blob == bytes(i % 251 for i in range(100000)), name + " blob bytes")
    # Blosc's parameters say which inner compressor it used.
    plist = f["blosc_zstd/doubles"].id.get_create_plist()
    check(plist.get_filter(0)[2][6] == 5, "zstd code %r" % (plist.get_filter(0)[2],))
print("ok", hdf5plugin.version)
