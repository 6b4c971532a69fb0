#ifndef QUELLMAR_QMXFILE_DATAITEMS_H
#define QUELLMAR_QMXFILE_DATAITEMS_H

#include "Hid.h"
#include "Layout.h"
#include "Paths.h"
#include "TypeCodes.h"

namespace Quellmar::qmxfile {

// Every data item of every kind is written and read here, and only here.
// All return negative on failure with HDF5's error stack intact.

// Creates a one-dimensional dataset of `count` elements of fileType below loc (missing
// groups on the way are made) and writes data given in memoryType.
herr_t createItem(hid_t loc, const Path& path, hid_t fileType, hid_t memoryType,
                  const void* data, const LayoutRequest& request);
// Replaces the contents with `count` elements given in memoryType, converted to the
// stored type. Another count re-lays the dataset out under the same name, attributes kept.
herr_t updateItem(hid_t loc, const Path& path, hid_t memoryType, hsize_t count, const void* data);
// Reads the whole dataset converted to memoryType.
herr_t readItem(hid_t dataset, hid_t memoryType, void* data);

}  // namespace Quellmar::qmxfile

#endif
