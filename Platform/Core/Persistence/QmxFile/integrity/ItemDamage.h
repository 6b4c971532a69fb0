#ifndef QUELLMAR_QMXFILE_ITEMDAMAGE_H
#define QUELLMAR_QMXFILE_ITEMDAMAGE_H

#include <hdf5.h>

#include <cstddef>

namespace Quellmar::qmxfile {

// Checks of what a possibly damaged header claims about a data item, made before its bytes
// are trusted.

// Covered when the dataset's stored bytes can hold `count` elements of `elementSize` bytes,
// and the bytes they take fit a long long; Short when they cannot. HDF5 1.10 trusts the size
// a compact or contiguous layout claims and reads past the stored bytes when a damaged
// dataspace claims more elements than are stored; callers size buffers by what the size
// queries say. Contiguous storage never allocated reads as fill values and passes. Costs the
// same for an item of any length: a chunked item is checked by looking up its last chunk.
enum class Coverage {
    Covered,
    Short,
    Unknown,  // a query failed (reading the file, say): HDF5's error stack says why
};
Coverage storedCoverage(hid_t dataset, hsize_t count, size_t elementSize);

// Whether HDF5's error stack holds a failed read of the file (the file layer's report, not a
// check's finding): a failed check then says nothing about the stored bytes.
bool failedReading();

// Whether the stored type is one this library writes (see FORMAT.md). HDF5 converts from
// whatever the header says, so a damaged type turns verified bytes into other values.
// Compound types are covered by the item's attribute checksum instead.
bool writtenType(hid_t type);

}  // namespace Quellmar::qmxfile

#endif
