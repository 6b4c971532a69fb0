#ifndef QUELLMAR_QMXFILE_FORMAT_H
#define QUELLMAR_QMXFILE_FORMAT_H

#include <hdf5.h>

#include <optional>
#include <string>

namespace Quellmar::qmxfile {

// Root attributes that make an HDF5 file a QMZ container (see FORMAT.md).
inline constexpr const char* kMarkerAttribute = "QMZ_FORMAT";
inline constexpr const char* kMarkerText = "QMZ";
inline constexpr const char* kVersionAttribute = "QMZ_FORMAT_VERSION";
// Root attribute of files whose every data item carries a checksum (see FORMAT.md): in such a
// file an item without one is damaged, not old.
inline constexpr const char* kChecksumsMarkerAttribute = "QMZ_CHECKSUMS";
// The checksums of a data item's elements and of an object's attributes (see ItemChecksum.h
// and AttributeChecksum.h); neither covers these two.
inline constexpr const char* kChecksumAttribute = "QMZ_CRC32C";
inline constexpr const char* kAttributesChecksumAttribute = "QMZ_ATTR_CRC32C";
// Large and extendible items carry one CRC-32C per slice of their stored bytes here instead of
// kChecksumAttribute (see SliceChecksums.h); the attribute checksum leaves it out as well.
inline constexpr const char* kSliceChecksumAttribute = "QMZ_SLICE_CRC32C";
// Marks an object group (a group that holds serialized objects).
inline constexpr const char* kObjectGroupAttribute = "QMZ_OBJECT_GROUP";

// The container format version this library writes by default.
inline constexpr int kFormatVersion = 1;

// The version this library writes for a file of that name: the one assigned to names a
// host predicate accepts, else kFormatVersion.
int formatVersionFor(const std::string& fileName);

// Makes files whose names the predicate accepts get that version (the latest assignment wins).
void assignFormatVersion(int version, int (*predicate)(const char*));
// What a file's "QMZ_CHECKSUMS" marker says about its checksums (see FORMAT.md).
enum class Checksums {
    Optional,  // no marker: written before checksums or by another program
    Plain,     // 1: every item carries a checksum of its contents
    Named,     // 2: every checksum also covers the object's path
    Typed,     // 3: as Named, and an item's checksum also covers its stored type
};
// The marker of files whose checksums cover paths but not item types.
inline constexpr int kNamedChecksumsMarker = 2;
// The marker value new files get.
inline constexpr int kTypedChecksumsMarker = 3;

// The marker of the file of any object in it. A marker that cannot be read, or holds a value
// other than 1 or 2, counts as Typed: damage there must not turn checking off or weaken it.
// Remembered per open file, so intact files pay no lookup per item.
Checksums checksumsOf(hid_t object);
// Reads the marker of an open file (file: its identifier) and gives checksumsOf the answer;
// nothing when the marker cannot be read. HDF5's error stack stays as it was.
std::optional<Checksums> readChecksums(hid_t file);
// Gives checksumsOf the answer for a file just opened (file: its identifier), as an earlier
// session of the unchanged file found it; a missing marker is never given this way.
void primeChecksums(hid_t file, Checksums answer);
// Makes checksumsOf read the marker again: it is being written.
void forgetChecksums();
// Whether the file carries any marker, i.e. an item without a checksum is damaged.
inline bool checksumsRequired(hid_t object) {
    return checksumsOf(object) != Checksums::Optional;
}

}  // namespace Quellmar::qmxfile

#endif
