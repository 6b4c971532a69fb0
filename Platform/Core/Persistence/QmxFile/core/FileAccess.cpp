#include "FileAccess.h"

#include "JournalDriver.h"

#include <mutex>

namespace Quellmar::qmxfile {

Hid makeFileAccessProperties(const std::string& /*name*/, bool /*writable*/) {
    Hid fapl(H5Pcreate(H5P_FILE_ACCESS));
    if (!fapl)
        return fapl;
    // The default (oldest possible) object formats: the newest ones were measured to crash
    // readers of damaged files far more often. File locking stays on: without it a second
    // writer's committed data was seen to vanish.
    // Items of a MiB and more start on a page: the kernel copies between the page cache and a
    // page-aligned buffer about twice as fast when the two agree modulo the page size.
    if (H5Pset_libver_bounds(fapl.get(), H5F_LIBVER_EARLIEST, H5F_LIBVER_LATEST) < 0 ||
        H5Pset_file_locking(fapl.get(), true, true) < 0 ||
        H5Pset_alignment(fapl.get(), hsize_t{1} << 20, 4096) < 0 ||
        setContainerDriver(fapl.get()) < 0)  // crash-safe commits; see JournalDriver.h
        return Hid();
    return fapl;
}

namespace {

// Every open and create uses the same properties (the driver is the only thing that changes,
// with the journal switch), and HDF5 copies them into the file. Building the list anew cost
// 4% of a small transaction. The lists are never closed: HDF5 releases them when it shuts down.
hid_t sharedAccessProperties(const std::string& name, bool writable) {
    static std::mutex s_lock;
    static hid_t s_lists[2] = {H5I_INVALID_HID, H5I_INVALID_HID};
    std::lock_guard<std::mutex> guard(s_lock);
    hid_t& id = s_lists[journalEnabled() ? 1 : 0];
    if (id < 0 || H5Iis_valid(id) <= 0)
        id = makeFileAccessProperties(name, writable).release();
    return id;
}

}  // namespace

Hid openFileId(const std::string& name, bool writable) {
    ErrorKeeper keeper;
    const hid_t fapl = sharedAccessProperties(name, writable);
    if (fapl < 0)
        return Hid();
    Hid file(H5Fopen(name.c_str(), writable ? H5F_ACC_RDWR : H5F_ACC_RDONLY, fapl));
    if (!file)
        keeper.capture();
    return file;
}

Hid createFileId(const std::string& name) {
    ErrorKeeper keeper;
    const hid_t fapl = sharedAccessProperties(name, true);
    if (fapl < 0)
        return Hid();
    Hid file(H5Fcreate(name.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, fapl));
    if (!file)
        keeper.capture();
    return file;
}

}  // namespace Quellmar::qmxfile
