#ifndef QUELLMAR_QMXFILE_APPENDS_H
#define QUELLMAR_QMXFILE_APPENDS_H

#include "Hid.h"
#include "Paths.h"

namespace Quellmar::qmxfile {

// Appends `count` elements given in memoryType to `item`, the dataset at path below loc as the
// caller opened it, converted to its stored type. The first append moves the item to an
// extendible chunked layout (chunks of 8 to 64 KiB, sized for the item), keeping its type,
// compressor and attributes, behind the same name; later ones write only the new elements and
// the slice checksums they change. Negative with HDF5's error stack on failure, the item then as
// it was.
herr_t appendItem(hid_t loc, const Path& path, Hid item, hid_t memoryType, hsize_t count,
                  const void* data);

// Shortens the dataset at path to its first `count` elements (not more than it has), with its
// checksums brought to the new length. An extendible item keeps its layout and only the slice
// the new end falls in is read (and verified); another item is rewritten.
herr_t truncateItem(hid_t loc, const Path& path, hsize_t count);

}  // namespace Quellmar::qmxfile

#endif
