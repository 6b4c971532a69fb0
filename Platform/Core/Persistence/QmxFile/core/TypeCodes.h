#ifndef QUELLMAR_QMXFILE_TYPECODES_H
#define QUELLMAR_QMXFILE_TYPECODES_H

#include "Hid.h"

#include <hdf5.h>

namespace Quellmar::qmxfile {

// The element type codes (VarDataType, also the compound member codes): the type used in
// memory and the one stored in files. H5I_INVALID_HID for codes outside the table; the
// returned identifiers are HDF5's predefined ones and must not be closed.
hid_t memoryTypeOf(int code);
hid_t fileTypeOf(int code);
// The code of a stored numeric type, -1 when it has none.
int codeOfType(hid_t type);
const char* nameOfCode(int code);

// The kinds of data items, told apart by their stored type.
enum class ItemKind { Opaque, String, Typed, Compound, Other };

ItemKind kindOfType(hid_t type);
const char* nameOfKind(ItemKind kind);

// The stored types of blobs and string datasets: one byte per element.
Hid makeOpaqueType();
Hid makeStringType();

}  // namespace Quellmar::qmxfile

#endif
