// Objects (blobs) addressed as the tool's users name them: a group path and an object name.
#ifndef QMX_TOOL_BLOBS_H
#define QMX_TOOL_BLOBS_H

#include "Container.h"
#include "SerializationTransferObject.h"

#include <string>

namespace Quellmar::qmx {

// The dataset name the library stores a caller's name under (it trims separators).
std::string libraryName(const std::string& name);

// Throws Failure when the library would store or look up name under another name, so the
// tool never touches an object other than the one the user named.
void requireAddressable(const std::string& file, const std::string& path, const std::string& name);

// Reads the object group/name of the given kind (QMXL_KIND_OPAQUE or QMXL_KIND_STRING)
// through the DAO that stores that kind; objects of "/Design" go through the design DAO.
// Throws Failure (without the path) for a stored size the file cannot hold.
SerializationTransferObject readBlob(const Container& container, const std::string& group,
                                     const std::string& name, int kind);

// Creates (create true) or replaces the object; creating makes the object group first when
// it is missing, with the given version.
void writeBlob(const Container& container, const std::string& group, const std::string& name,
               int kind, bool create, int groupVersion, const SerializationTransferObject& object);

}  // namespace Quellmar::qmx

#endif
