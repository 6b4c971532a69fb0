#ifndef QUELLMAR_QMXFILE_RANGEREAD_H
#define QUELLMAR_QMXFILE_RANGEREAD_H

#include "Hid.h"

namespace Quellmar::qmxfile {

// Reads elements [first, first + count) of a dataset of `total` elements (the caller checked
// the range against it) converted to memoryType, verifying what its checksums allow: the
// slices the range touches for an item with slice checksums, the whole item for one with a
// whole-item checksum. On any failure `data` (count elements) is zeroed and HDF5's error stack
// holds the reason.
herr_t readRangeChecked(hid_t dataset, hid_t memoryType, hsize_t total, hsize_t first,
                        hsize_t count, void* data);

}  // namespace Quellmar::qmxfile

#endif
