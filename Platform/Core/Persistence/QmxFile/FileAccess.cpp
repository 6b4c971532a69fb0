#include "FileAccess.h"

#include "JournalDriver.h"

namespace Quellmar::qmxfile {

Hid makeFileAccessProperties(const std::string& /*name*/, bool /*writable*/) {
    Hid fapl(H5Pcreate(H5P_FILE_ACCESS));
    if (!fapl) return fapl;
    // The default (oldest possible) object formats: the newest ones were measured to crash
    // readers of damaged files far more often. File locking stays on: without it a second
    // writer's committed data was seen to vanish.
    if (H5Pset_libver_bounds(fapl.get(), H5F_LIBVER_EARLIEST, H5F_LIBVER_LATEST) < 0 ||
        H5Pset_file_locking(fapl.get(), true, true) < 0 ||
        setContainerDriver(fapl.get()) < 0)  // crash-safe commits; see JournalDriver.h
        return Hid();
    return fapl;
}

Hid openFileId(const std::string& name, bool writable) {
    ErrorKeeper keeper;
    Hid fapl = makeFileAccessProperties(name, writable);
    if (!fapl) return Hid();
    Hid file(H5Fopen(name.c_str(), writable ? H5F_ACC_RDWR : H5F_ACC_RDONLY, fapl.get()));
    if (!file) keeper.capture();
    return file;
}

Hid createFileId(const std::string& name) {
    ErrorKeeper keeper;
    Hid fapl = makeFileAccessProperties(name, true);
    if (!fapl) return Hid();
    Hid file(H5Fcreate(name.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, fapl.get()));
    if (!file) keeper.capture();
    return file;
}

}  // namespace Quellmar::qmxfile
