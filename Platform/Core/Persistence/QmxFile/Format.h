#ifndef QUELLMAR_QMXFILE_FORMAT_H
#define QUELLMAR_QMXFILE_FORMAT_H

#include <hdf5.h>

#include <string>

namespace Quellmar::qmxfile {

// Root attributes that make an HDF5 file a QMZ container (see FORMAT.md).
inline constexpr const char* kMarkerAttribute = "QMZ_FORMAT";
inline constexpr const char* kMarkerText = "QMZ";
inline constexpr const char* kVersionAttribute = "QMZ_FORMAT_VERSION";
// Root attribute of files whose every data item carries a checksum (see FORMAT.md): in such a
// file an item without one is damaged, not old.
inline constexpr const char* kChecksumsMarkerAttribute = "QMZ_CHECKSUMS";
// Marks an object group (a group that holds serialized objects).
inline constexpr const char* kObjectGroupAttribute = "QMZ_OBJECT_GROUP";

// The container format version this library writes by default.
inline constexpr int kFormatVersion = 1;

// The version this library writes for a file of that name: the one assigned to names a
// host predicate accepts, else kFormatVersion.
int formatVersionFor(const std::string& fileName);

// Writes marker and version into the root group of a new file.
herr_t writeMarker(hid_t file, int version);
// 1 marked, 0 not, negative on failure.
int hasMarker(hid_t file);
// Says in a new file that its items carry checksums (containers and native files alike).
herr_t writeChecksumsMarker(hid_t file);
// Whether the file of any object in it carries that mark. Asked only when a checksum is
// missing, so intact files pay nothing. A root that cannot be asked counts as marked: damage
// there must not turn checking off.
bool checksumsRequired(hid_t object);

}  // namespace Quellmar::qmxfile

#endif
