#ifndef QUELLMAR_QMXFILE_SLICECHECKSUMS_H
#define QUELLMAR_QMXFILE_SLICECHECKSUMS_H

#include "Hid.h"

#include <cstdint>
#include <string>
#include <vector>

namespace Quellmar::qmxfile {

// Large and extendible data items carry one CRC-32C per slice of their stored bytes in the
// attribute kSliceChecksumAttribute (Format.h, see FORMAT.md): an array of unsigned 32-bit
// integers holding the elements per slice, a seal, then one CRC per slice. The seal is the
// CRC-32C of the elements per slice, the element count and the slice CRCs, continued over the
// item's path in a file with named checksums: a damaged count, slice size or path fails it.

// Items of at least this many stored bytes get slice checksums when written.
inline constexpr hsize_t kSlicedBytes = hsize_t{2} << 20;
// A slice holds this many stored bytes (whole elements, at least one) ...
inline constexpr size_t kSliceBaseBytes = size_t{16} << 10;
// ... doubled for as long as the item would need more slices than this, which keeps the
// attribute well below HDF5's 64 KiB for a message in the object header.
inline constexpr size_t kMaxSlices = 8192;

struct StoredSlices {
    hsize_t perSlice = 0;  // elements
    std::vector<std::uint32_t> crcs;
    std::uint32_t seal = 0;  // as read; writeSlices computes its own
};

// Elements per slice of a new item of `count` elements of `elementSize` bytes.
hsize_t sliceElementsFor(hsize_t count, size_t elementSize);
// Whether the dataset is chunked with an unlimited maximum size (an appended item).
bool extendible(hid_t dataset);
// Whether an item written with `count` elements gets slice checksums: large, or extendible
// (asked of HDF5 only when `mayBeExtendible`).
bool wantsSlices(hid_t dataset, hsize_t count, size_t elementSize, bool mayBeExtendible);

enum class SliceState { Absent, Present, Unreadable };
// The stored attribute, read only when it has the form described above.
SliceState readSlices(hid_t dataset, StoredSlices& slices);
// Whether the slices fit `count` elements and the seal matches them, the count and the path.
bool slicesSealed(hid_t dataset, const StoredSlices& slices, hsize_t count);
// Whether what readSlices found (`state`, `slices`) is present and sealed for `count` elements;
// false with the reason on HDF5's error stack.
bool checkSlices(hid_t dataset, SliceState state, hsize_t count, const StoredSlices& slices);
// Reads the attribute and checks it against `count`; false with the reason on HDF5's error
// stack (unreadable, or a checksum mismatch).
bool loadSlices(hid_t dataset, hsize_t count, StoredSlices& slices);
// Stores the slice checksums of `count` elements (replacing a whole-item checksum unless
// `fresh`). `path` as for storeChecksum.
herr_t writeSlices(hid_t dataset, const StoredSlices& slices, hsize_t count, bool fresh,
                   const char* path = nullptr);
// Removes the attribute when the item has it (an item that gets a whole-item checksum, an
// append that makes the table anew): 1 when it was there, 0 when not, -1 on failure.
htri_t dropSlices(hid_t dataset);
// Pushes a reason on HDF5's error stack for the entry points.
void pushSliceReason(const char* function, unsigned line, const std::string& reason);

}  // namespace Quellmar::qmxfile

#endif
