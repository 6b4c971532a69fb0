#ifndef QUELLMAR_QMXFILE_CHECKSUMPATH_H
#define QUELLMAR_QMXFILE_CHECKSUMPATH_H

#include "Hid.h"

#include <cstdint>
#include <string>

namespace Quellmar::qmxfile {

// In a file with named checksums (marker 2, see Format.h) every checksum also covers the
// object's path: a damaged link name or heap offset shows an object under another name, and
// it must fail its check there instead of reading as a different, valid tree.

// The object's path as HDF5 tracks it for the identifier: absolute, one '/' between names,
// whatever spelling opened it; empty when unknown (an object not linked yet).
std::string objectPath(hid_t object);

// The CRC of the contents continued over the path and a terminating NUL byte.
std::uint32_t withPath(std::uint32_t contents, const std::string& path);

// The value stored for a checksum `contents` of the object's contents: withPath in a file with
// named checksums, the CRC itself otherwise. `path` stands in for the object's own (an item
// written before it is linked under its name). False when the path is needed but unknown.
bool sealChecksum(hid_t object, std::uint32_t contents, std::uint32_t& stored,
                  const char* path = nullptr);

// Whether `stored` is what sealChecksum gives for these contents. In a file with named
// checksums a value over the contents alone does not match; in one with plain checksums a
// value with a path does not; a file without a marker takes either. `path`, when given, is the
// one HDF5 reports for the object, known to the caller (it opened the object below a group
// whose reported path it holds): HDF5 is not asked again.
bool checksumMatches(hid_t object, std::uint32_t contents, std::uint32_t stored,
                     const char* path = nullptr);

}  // namespace Quellmar::qmxfile

#endif
