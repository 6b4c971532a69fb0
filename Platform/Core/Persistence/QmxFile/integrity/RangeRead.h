#ifndef QUELLMAR_QMXFILE_RANGEREAD_H
#define QUELLMAR_QMXFILE_RANGEREAD_H

#include "Hid.h"
#include "SliceChecksums.h"

#include <memory>

namespace Quellmar::qmxfile {

// Slice checksums a read found sealed for an item of `count` elements.
struct SealedSlices {
    hsize_t count = 0;
    StoredSlices slices;
};

// Reads elements [first, first + count) of a dataset of `total` elements (the caller checked
// the range against it) converted to memoryType, verifying what its checksums allow: the
// slices the range touches for an item with slice checksums, the whole item for one with a
// whole-item checksum. On any failure `data` (count elements) is zeroed and HDF5's error stack
// holds the reason.
// A caller that keeps the dataset identifier open for more reads passes what earlier reads
// through it found (attributes verified, slice checksums sealed) and gets what this one found:
// nothing changes a dataset while the library holds one identifier of it across its calls.
herr_t readRangeChecked(hid_t dataset, hid_t memoryType, hsize_t total, hsize_t first,
                        hsize_t count, void* data, bool* attributesVerified = nullptr,
                        std::shared_ptr<const SealedSlices>* sealed = nullptr);

}  // namespace Quellmar::qmxfile

#endif
