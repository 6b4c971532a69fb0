#ifndef QUELLMAR_QMXFILE_FILEACCESS_H
#define QUELLMAR_QMXFILE_FILEACCESS_H

#include "Hid.h"

#include <string>

namespace Quellmar::qmxfile {

// The one place that decides how HDF5 reaches a file: every open and create of the library
// goes through these, so a different file driver can be put under all of them here.
Hid makeFileAccessProperties(const std::string& name, bool writable);
// H5Fopen / H5Fcreate (truncating) with those properties; invalid on failure with HDF5's
// error stack intact.
Hid openFileId(const std::string& name, bool writable);
Hid createFileId(const std::string& name);

}  // namespace Quellmar::qmxfile

#endif
