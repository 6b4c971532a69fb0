#ifndef QUELLMAR_QMXFILE_ITEMCHECKSUM_H
#define QUELLMAR_QMXFILE_ITEMCHECKSUM_H

#include "Format.h"
#include "Hid.h"
#include "ItemDamage.h"

#include <string>

namespace Quellmar::qmxfile {

// Every data item carries the CRC-32C of its elements as stored (in the dataset's own type,
// before compression), in new files continued over its path, in the attribute named
// kChecksumAttribute (Format.h), an unsigned 32-bit scalar (see FORMAT.md). HDF5 does not
// notice damaged raw data; with it, damage is reported instead of handed out as good.

// Stores the checksum of the `count` elements just written to the dataset from memoryType.
// `fresh`: the dataset was just created and has no checksum attribute yet. `path`: the path
// the item will have, for one not linked yet (see ChecksumPath.h); otherwise its own.
herr_t storeChecksum(hid_t dataset, hid_t memoryType, hsize_t count, const void* data,
                     bool fresh = false, const char* path = nullptr);

// Writes all `count` elements from memoryType and stores their checksum.
herr_t writeChecked(hid_t dataset, hid_t memoryType, hsize_t count, const void* data, bool fresh,
                    const char* path = nullptr);

// writeChecked for a dataset just created with fileType under `path` (absolute, as HDF5
// will report it): neither is asked of HDF5 again.
herr_t writeFresh(hid_t dataset, hid_t fileType, hid_t memoryType, hsize_t count, const void* data,
                  const std::string& path);

// Gives a dataset that carries no checksum one over its elements as they are stored (an item
// another program added). 1 when one was added, 0 when it had one (never rewritten: that
// would seal damage), negative with the reason on HDF5's error stack when it cannot be.
int sealItem(hid_t dataset);

// Reads all `count` elements converted to memoryType and, when the item carries a checksum,
// verifies them before they reach data. On any failure data is zeroed, so no unverified bytes
// stay behind, and HDF5's error stack holds the reason. `path`: the dataset's path as HDF5
// reports it, when the caller knows it (see checksumMatches).
herr_t readChecked(hid_t dataset, hid_t memoryType, hsize_t count, void* data,
                   const char* path = nullptr);

}  // namespace Quellmar::qmxfile

#endif
