#ifndef QUELLMAR_QMXFILE_ATTRIBUTECHECKSUM_H
#define QUELLMAR_QMXFILE_ATTRIBUTECHECKSUM_H

#include "Format.h"
#include "Hid.h"

namespace Quellmar::qmxfile {

// The CRC-32C of an object's attributes (names, types and values; in new files continued over
// the object's path, see ChecksumPath.h and FORMAT.md). HDF5 checks
// none of them, and a damaged name or value would otherwise read as a different, valid one.
// It is stored in the attribute named kAttributesChecksumAttribute (Format.h).
// Rewrites the object's attribute checksum after one of its attributes changed. An object left
// without attributes to cover carries none.
herr_t refreshAttributesChecksum(hid_t object);

// 0 when the object's attributes are intact (or carry no checksum in a file without the
// checksum marker); negative with the reason on HDF5's error stack when they are damaged.
herr_t verifyAttributes(hid_t object);

// Gives an object whose attributes carry no checksum one (attributes another program added).
// 1 when one was added, 0 when it had one or has no attributes to cover, negative when the
// attributes cannot be read.
int sealAttributes(hid_t object);

}  // namespace Quellmar::qmxfile

#endif
