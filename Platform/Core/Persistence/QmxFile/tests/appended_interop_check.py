"""Reads the appended items AppendedInteropTest writes, with h5py (and hdf5plugin for Blosc).

Usage: appended_interop_check.py FILE. Exit code 0 when every item has the expected layout,
filters and values."""
import sys

import h5py
import hdf5plugin  # noqa: F401  (registers Blosc with HDF5)
import numpy as np

BLOSC = 32001


def check(condition, what):
    if not condition:
        print("appended interop mismatch:", what, file=sys.stderr)
        sys.exit(1)


def filters(dataset):
    plist = dataset.id.get_create_plist()
    return [plist.get_filter(i)[0] for i in range(plist.get_nfilters())]


expected = np.arange(250000, dtype=np.float64) * 0.25
with h5py.File(sys.argv[1], "r") as f:
    for name, pipeline in (("plain", []), ("blosc", [BLOSC])):
        d = f["/a/" + name]
        check(d.maxshape == (None,), name + " is extendible, not %r" % (d.maxshape,))
        check(d.chunks == (8192,), name + " chunks %r" % (d.chunks,))
        check(filters(d) == pipeline, name + " pipeline %r" % filters(d))
        check(d.shape == (250000,), name + " shape %r" % (d.shape,))
        check(np.array_equal(d[()], expected), name + " values")
        check(np.array_equal(d[123000:123010], expected[123000:123010]), name + " slice")
        check(d.attrs["Unit"] == 3, name + " attribute")
    records = f["/a/records"][()]
    check(records.dtype.names == ("id", "value"), "record names %r" % (records.dtype.names,))
    check(np.array_equal(records["id"], np.arange(20000)), "record ids")
    check(np.array_equal(records["value"], np.arange(20000) * 2.0), "record values")
