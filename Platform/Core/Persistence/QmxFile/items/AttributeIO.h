#ifndef QUELLMAR_QMXFILE_ATTRIBUTEIO_H
#define QUELLMAR_QMXFILE_ATTRIBUTEIO_H

#include "Hid.h"

#include <optional>
#include <string>

namespace Quellmar::qmxfile {

// Scalar attributes of fixed-size types. All return a negative value on failure with
// HDF5's error stack intact.

// 1 yes, 0 no, negative on failure.
htri_t attributeExists(hid_t object, const std::string& name);
// Writes a new scalar attribute; fails when one of that name exists.
herr_t createScalarAttribute(hid_t object, const std::string& name, hid_t fileType,
                             hid_t memoryType, const void* value);
// Writes into an existing attribute, converting to its stored type.
herr_t writeScalarAttribute(hid_t object, const std::string& name, hid_t memoryType,
                            const void* value);
// Creates, or replaces an attribute of another type or shape.
herr_t setScalarAttribute(hid_t object, const std::string& name, hid_t fileType, hid_t memoryType,
                          const void* value);
// Reads a one-element numeric attribute, converting to memoryType.
herr_t readScalarAttribute(hid_t object, const std::string& name, hid_t memoryType, void* value);

// Copies every attribute of one object to another, whatever its type.
herr_t copyAttributes(hid_t from, hid_t to);

// Text attributes: stored as fixed-length strings of exactly the text's bytes.
herr_t setStringAttribute(hid_t object, const std::string& name, const std::string& value);
// Reads fixed- and variable-length text attributes; nullopt on failure.
std::optional<std::string> readStringAttribute(hid_t object, const std::string& name);

}  // namespace Quellmar::qmxfile

#endif
