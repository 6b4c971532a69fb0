// Element types of stored vectors as the tool names, sizes and prints them.
#ifndef QMX_TOOL_ELEMENTTYPES_H
#define QMX_TOOL_ELEMENTTYPES_H

#include "VectorTypes.h"

#include <cstddef>
#include <string>

namespace Quellmar::qmx {

// The file library's code of one-byte signed elements; compound member types use its codes,
// vectors report VT_INT8 instead.
constexpr int kFileInt8 = 20;

// Name of a tagVectorDataTypes value (or member type code) ("float64"); "unknown" for -1 and codes
// without one.
const char* elementTypeName(int type);
// Bytes per element, 0 for an unknown type.
std::size_t elementSize(int type);
// The type to read a stored type with. The vector DAO does not take VT_INT8 on read, so
// one-byte signed elements are read widened (the file library converts).
tagVectorDataTypes readableType(int type);
// One element of the given type at data, as text that reads back to the same value.
std::string formatElement(int type, const unsigned char* data);

}  // namespace Quellmar::qmx

#endif
