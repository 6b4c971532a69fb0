#ifndef QUELLMAR_QMXFILE_SLICEDIO_H
#define QUELLMAR_QMXFILE_SLICEDIO_H

#include <hdf5.h>

#include <cstddef>
#include <cstdint>

#include "SliceCrcs.h"

namespace Quellmar::qmxfile {

// Reading and writing a data item in slices through per-thread scratch space (Scratch.h),
// with the CRC-32C of its stored bytes taken on the way: into crc, or when `slices` is given,
// per checksum slice into it instead (crc is then left as it is). All return false on failure with
// HDF5's error stack as the failing call left it.

// Items at least this large are checksummed on a second thread while HDF5 moves their bytes.
inline constexpr size_t kConcurrentBytes = size_t{2} << 20;

// Adds bytes to crc, or to slices when given.
void sumInto(std::uint32_t& crc, SliceCrcs* slices, const void* bytes, size_t size);

// Whether the elements lie in one block of the file, so slices can be read straight to the caller.
bool isContiguous(hid_t dataset);
// Elements per slice when reading the item slice by slice: about a slice's bytes, and for a
// chunked item whole chunks; 0 when it must be read whole (not one-dimensional, or laid out
// otherwise).
hsize_t readSliceElements(hid_t dataset, size_t elementSize);
// Elements [first, first + count) of a one-dimensional item in its stored type `fileType`:
// read into `out`, or written from `in`. False with the failing call's reason kept.
bool readStoredRange(hid_t dataset, hid_t fileType, hsize_t first, hsize_t count, void* out);
bool writeStoredRange(hid_t dataset, hid_t fileType, hsize_t first, hsize_t count,
                      const void* in);
// Types whose values live outside the element (variable-length data, references) cannot be
// converted apart from the file; they take HDF5's own conversion during the read or write.
bool selfContained(hid_t type);

// Reads the stored elements slice by slice into scratch space, checksums them there (crc is
// extended) and, when `out` is given, converts them into it.
bool readConverted(hid_t dataset, hid_t fileType, hid_t memoryType, hsize_t count,
                   unsigned char* out, std::uint32_t& crc, SliceCrcs* slices = nullptr);
// Converts the caller's elements slice by slice into the stored type, checksums and writes them.
bool writeConverted(hid_t dataset, hid_t fileType, hid_t memoryType, hsize_t count,
                    const unsigned char* in, std::uint32_t& crc,
                    SliceCrcs* slices = nullptr);
// Writes a large item of the stored type slice by slice, checksumming each slice on a second
// thread while it is written when a core is free, else just before it is written.
bool writeChecksummed(hid_t dataset, hid_t memoryType, size_t elementSize, hsize_t count,
                      const unsigned char* in, std::uint32_t& crc,
                      SliceCrcs* slices = nullptr);
// Reads a large item in slices of `perSlice` elements (readSliceElements) straight into `out`
// while a second thread checksums each slice read.
bool readConcurrently(hid_t dataset, hid_t memoryType, size_t elementSize, hsize_t count,
                      hsize_t perSlice, unsigned char* out, std::uint32_t& crc,
                      SliceCrcs* slices = nullptr);

}  // namespace Quellmar::qmxfile

#endif
