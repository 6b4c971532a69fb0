#ifndef QUELLMAR_QMXFILE_DATAITEMS_H
#define QUELLMAR_QMXFILE_DATAITEMS_H

#include "Hid.h"
#include "Layout.h"
#include "Paths.h"
#include "TypeCodes.h"

namespace Quellmar::qmxfile {

// Every data item of every kind is written and read here, and only here.
// All return negative on failure with HDF5's error stack intact.

// Creates a one-dimensional dataset of `count` elements of fileType named `name` in the open
// group and writes data given in memoryType. `path` is the absolute path the item gets
// (the group's as HDF5 reports it, then the name), which its checksum covers.
herr_t createItem(hid_t group, const std::string& name, const std::string& path, hid_t fileType,
                  hid_t memoryType, const void* data, const LayoutRequest& request);
// Replaces the contents with `count` elements given in memoryType, converted to the
// stored type. Another count re-lays the dataset out under the same name, attributes kept.
herr_t updateItem(hid_t loc, const Path& path, hid_t memoryType, hsize_t count, const void* data);
// Puts the unnamed dataset `fresh` in place of the item at path (closed by then), swapping the
// links at the end so that a failure leaves the old item in place; closes fresh.
herr_t replaceItem(hid_t loc, const Path& path, Hid& fresh);
// Reads the whole dataset converted to memoryType; `count` is its element count when the
// caller knows it (negative: asked of HDF5); `path` its path when known (see readChecked).
herr_t readItem(hid_t dataset, hid_t memoryType, void* data, long long count = -1,
                const char* path = nullptr);

}  // namespace Quellmar::qmxfile

#endif
