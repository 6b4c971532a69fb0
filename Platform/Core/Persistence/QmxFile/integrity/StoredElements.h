// Where a contiguous item's stored elements can be read without HDF5: HDF5's read path costs
// several microseconds a call, a few percent of a large item's time over its slices and of a
// range read's unit of work. Only in a file open read-only (readOnlyFileOf: a writer's HDF5
// may hold bytes the file does not have yet) and only where all elements lie inside the file;
// otherwise HDF5 reads them.
#ifndef QUELLMAR_QMXFILE_STOREDELEMENTS_H
#define QUELLMAR_QMXFILE_STOREDELEMENTS_H

#include "StoredFile.h"

#include <hdf5.h>

#include <cstddef>
#include <cstdint>
#include <optional>

namespace Quellmar::qmxfile {

class StoredElements {
public:
    // The item's `count` elements of `elementSize` bytes each.
    StoredElements(hid_t dataset, size_t elementSize, hsize_t count);

    // Whether reads come from the file itself.
    bool direct() const { return m_file.has_value(); }
    // Elements [start, start + n) as stored into `to`: from the file when direct(), else
    // through HDF5 with the spaces selecting them. False with a reason on HDF5's error stack.
    bool read(hid_t memorySpace, hid_t fileSpace, hsize_t start, hsize_t n, hid_t type,
              unsigned char* to) const;
    // The same from the file alone; only when direct().
    bool readDirect(hsize_t start, hsize_t n, unsigned char* to) const;

private:
    hid_t m_dataset;
    size_t m_elementSize;
    std::uint64_t m_offset = 0;
    std::optional<StoredFile> m_file;
};

}  // namespace Quellmar::qmxfile

#endif
