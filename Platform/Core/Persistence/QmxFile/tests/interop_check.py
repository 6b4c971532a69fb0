"""Reads a container written by InteropTest with h5py and checks every item and attribute.

Usage: interop_check.py FILE. Exit code 0 when everything matches."""
import sys

import h5py
import numpy as np

EXPECTED_TYPES = {
    "int32": np.int32, "uint32": np.uint32, "float32": np.float32, "float64": np.float64,
    "int16": np.int16, "int64": np.int64, "uint64": np.uint64, "uint16": np.uint16,
    "uint8": np.uint8, "int8": np.int8,
}


def check(condition, what):
    if not condition:
        print("interop mismatch:", what, file=sys.stderr)
        sys.exit(1)


with h5py.File(sys.argv[1], "r") as f:
    check(f.attrs["QMZ_FORMAT"] == b"QMZ", "marker")
    version = f.attrs["QMZ_FORMAT_VERSION"]
    check(version == 1 and version.dtype == np.int32, "format version %r" % version)

    objects = f["objects"]
    check(isinstance(objects, h5py.Group), "object group")
    check(objects.attrs["QMZ_OBJECT_GROUP"] == 1, "object group mark")
    check(objects.attrs["Version"] == 3 and objects.attrs["Version"].dtype == np.int32, "Version")
    big = objects.attrs["MaximumIdentifierValue"]
    check(big == 2**64 - 1 and big.dtype == np.uint64, "MaximumIdentifierValue %r" % big)
    check(objects.attrs["Id"] == b"identifier", "Id %r" % objects.attrs["Id"])

    blob = objects["blob"]
    check(blob.dtype.kind == "V" and blob.dtype.itemsize == 1, "blob type %r" % blob.dtype)
    check(blob[()].tobytes() == bytes(i % 256 for i in range(300)), "blob bytes")
    check(objects["empty"].shape == (0,), "empty blob")
    check(objects["zipped"][()].tobytes() == bytes(i % 7 for i in range(5000)), "compressed blob bytes")
    text = objects["text"]
    check(text.dtype.kind == "S", "string type %r" % text.dtype)
    check(b"".join(text[()]) == b"hello\nworld", "string bytes")

    vectors = f["vectors"]
    for name, dtype in EXPECTED_TYPES.items():
        data = vectors[name][()]
        check(data.dtype == np.dtype(dtype), "%s dtype %r" % (name, data.dtype))
        expected = np.arange(10, dtype=np.int64) * 3
        if np.dtype(dtype).kind != "u":
            expected = expected - 5
        check(np.array_equal(data, expected.astype(dtype)), "%s values %r" % (name, data))
    zipped = vectors["zipped"]
    check(zipped.compression == "gzip" and zipped.shuffle, "compressed vector filters")
    check(np.array_equal(zipped[()], np.arange(1000, dtype=np.float64) / 4), "compressed vector values")
    check(vectors["zipped"].attrs["Rows"] == 1000, "Rows")

    records = vectors["records"][()]
    check(records.dtype.names == ("id", "value", "position", "flag"), "record names %r" % (records.dtype.names,))
    check(records["position"].shape == (4, 3), "array member shape")
    check(list(records["id"]) == [0, 1, 2, 3], "record ids")
    check(np.array_equal(records["value"], np.array([0.0, 1.5, 3.0, 4.5])), "record values")
    check(records["position"][3][1] == np.float32(3.25), "array member values")
print("ok")
