#ifndef QUELLMAR_QMXFILE_MARKERS_H
#define QUELLMAR_QMXFILE_MARKERS_H

#include <hdf5.h>

namespace Quellmar::qmxfile {

// The root attributes of Format.h, written and read through the checked attribute helpers.
// Writes marker and version into the root group of a new file.
herr_t writeMarker(hid_t file, int version);
// 1 marked, 0 not, negative on failure.
int hasMarker(hid_t file);
// Says in a new file that its checksums cover contents, paths and item types (containers and
// native files).
herr_t writeChecksumsMarker(hid_t file);

}  // namespace Quellmar::qmxfile

#endif
