#include "AttributeIO.h"
#include "Call.h"
#include "Format.h"
#include "QMXL.h"

using namespace Quellmar::qmxfile;

extern "C" int QMXLgetQMVersionOfFile(int file, int* version) {
    Call call("QMXLgetQMVersionOfFile");
    Entry* e = call.fileEntry(file);
    if (!e || !call.out(version, "version"))
        return -1;
    const htri_t exists = attributeExists(e->id.get(), kVersionAttribute);
    if (exists < 0)
        return call.failHdf5("cannot look for the format version of " + quoted(e->info->name));
    if (exists == 0)
        return call.fail("file " + quoted(e->info->name) + " carries no format version");
    int value = 0;
    if (readScalarAttribute(e->id.get(), kVersionAttribute, H5T_NATIVE_INT, &value) < 0)
        return call.failHdf5("cannot read the format version of " + quoted(e->info->name));
    *version = value;
    return 1;
}

extern "C" int QMXLgetQMVersionOfLibraryByFileHandle(int file, int* version) {
    Call call("QMXLgetQMVersionOfLibraryByFileHandle");
    Entry* e = call.fileEntry(file);
    if (!e || !call.out(version, "version"))
        return -1;
    *version = formatVersionFor(e->info->name);
    return 1;
}

extern "C" int QMXLupdateQMVersionOfFile(int file, int version) {
    Call call("QMXLupdateQMVersionOfFile");
    Entry* e = call.fileEntry(file);
    if (!e)
        return -1;
    if (version < 1)
        return call.fail("refusing the invalid format version " + std::to_string(version));
    if (e->info->native)
        return call.fail("native HDF5 file " + quoted(e->info->name) +
                         " carries no format version");
    if (e->info->readOnly)
        return call.fail("file " + quoted(e->info->name) + " is open read-only");
    if (setScalarAttribute(e->id.get(), kVersionAttribute, H5T_STD_I32LE, H5T_NATIVE_INT,
                           &version) < 0)
        return call.failHdf5("cannot write the format version of " + quoted(e->info->name));
    return 1;
}

extern "C" int QMXLassignCurrentQMFileVersionForExtensions(int version,
                                                           int (*predicate)(const char* name)) {
    Call call("QMXLassignCurrentQMFileVersionForExtensions");
    if (version < 1)
        return call.fail("refusing the invalid format version " + std::to_string(version));
    if (!predicate)
        return call.fail("no predicate given (null pointer)");
    assignFormatVersion(version, predicate);
    return 1;
}
