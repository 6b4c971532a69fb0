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
// The CRC continued over a dataset's stored type as H5Tencode serializes it; other objects
// have none and leave it as it is. False when the type cannot be read.
bool withType(hid_t object, std::uint32_t& crc);

// What a checksum stands for. In a file with typed checksums (marker 3) a data item's checksum
// also covers the item's stored type: HDF5 converts from whatever a damaged type message says,
// and a flipped sign bit reads the same stored bytes as other numbers. An attribute checksum
// covers its attributes' types already.
enum class Covered { Item, Attributes };

// The value stored for a checksum `contents` of the object's contents: withPath in a file with
// named checksums, and then withType for an item in one with typed checksums, the CRC itself
// otherwise. `path` stands in for the object's own (an item written before it is linked under
// its name). False when the path or the type is needed but unknown.
bool sealChecksum(hid_t object, Covered what, std::uint32_t contents, std::uint32_t& stored,
                  const char* path = nullptr);

// Whether `stored` is what sealChecksum gives for these contents. Each form matches only its
// own values (a value over the contents alone does not match in a file with named checksums,
// nor one without the type in a file with typed ones); a file without a marker takes any.
// `path`, when given, is the one HDF5 reports for the object, known to the caller (it opened
// the object below a group whose reported path it holds): HDF5 is not asked again.
bool checksumMatches(hid_t object, Covered what, std::uint32_t contents, std::uint32_t stored,
                     const char* path = nullptr);

}  // namespace Quellmar::qmxfile

#endif
