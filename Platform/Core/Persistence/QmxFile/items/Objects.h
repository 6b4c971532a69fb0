#ifndef QUELLMAR_QMXFILE_OBJECTS_H
#define QUELLMAR_QMXFILE_OBJECTS_H

#include "Call.h"
#include "Paths.h"

namespace Quellmar::qmxfile {

enum class Found { Missing, Group, Dataset, Other, Error };

// What the path names below loc. Missing components anywhere along it give Missing.
Found findObject(hid_t loc, const Path& path);
// Creates every missing group along the path; fails where a non-group is in the way.
herr_t makeGroups(hid_t loc, const Path& path);
// 1 when the group carries the object group mark, 0 when not, negative on failure.
int isObjectGroup(hid_t group);
herr_t markObjectGroup(hid_t group);

// Registers a group or dataset opened below a location; the new handle belongs to the
// location's file.
int addObject(Call& call, const Entry& location, Hid id, Kind kind);
// Refuses changes through a read-only file with a clear message.
bool writable(Call& call, const Entry& location, const std::string& path);
// Names the object for messages: "'/a/b' in file '/tmp/x.qmz'".
std::string where(const Entry& location, const Path& path);

}  // namespace Quellmar::qmxfile

#endif
