#include "RawHdf5.h"

#include "Harness.h"

namespace Quellmar::bench::raw {

// Objects up to this size go into the object header: no separate data block, one read.
constexpr hsize_t kCompactLimit = 32 * 1024;

Id::Id(hid_t id, Closer closer, const char* what) : m_id(id), m_closer(closer) {
    if (id < 0)
        throw BenchFailure(std::string("HDF5: ") + what + " failed");
}

void Id::reset() noexcept {
    if (m_id >= 0 && m_closer)
        m_closer(m_id);
    m_id = H5I_INVALID_HID;
}

void Id::close() {
    const hid_t id = std::exchange(m_id, H5I_INVALID_HID);
    if (id >= 0 && m_closer)
        check(m_closer(id), "close");
}

void check(herr_t result, const char* what) {
    if (result < 0)
        throw BenchFailure(std::string("HDF5: ") + what + " failed");
}

Id createFile(const std::string& path) {
    return Id(H5Fcreate(path.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT), H5Fclose,
              "H5Fcreate");
}

Id openFile(const std::string& path, bool writable) {
    return Id(H5Fopen(path.c_str(), writable ? H5F_ACC_RDWR : H5F_ACC_RDONLY, H5P_DEFAULT),
              H5Fclose, "H5Fopen");
}

Id createGroup(hid_t loc, const char* name) {
    return Id(H5Gcreate2(loc, name, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT), H5Gclose, "H5Gcreate2");
}

Id openGroup(hid_t loc, const char* name) {
    return Id(H5Gopen2(loc, name, H5P_DEFAULT), H5Gclose, "H5Gopen2");
}

Id openDataset(hid_t loc, const char* name) {
    return Id(H5Dopen2(loc, name, H5P_DEFAULT), H5Dclose, "H5Dopen2");
}

Id simpleSpace(hsize_t count) {
    return Id(H5Screate_simple(1, &count, nullptr), H5Sclose, "H5Screate_simple");
}

Id simpleSpace2(hsize_t rows, hsize_t cols) {
    const hsize_t dims[2] = {rows, cols};
    return Id(H5Screate_simple(2, dims, nullptr), H5Sclose, "H5Screate_simple");
}

Id datasetCreateList() {
    return Id(H5Pcreate(H5P_DATASET_CREATE), H5Pclose, "H5Pcreate");
}

Id bestLayout(hsize_t bytes) {
    Id dcpl = datasetCreateList();
    check(H5Pset_layout(dcpl, bytes <= kCompactLimit ? H5D_COMPACT : H5D_CONTIGUOUS),
          "H5Pset_layout");
    return dcpl;
}

Id createDataset(hid_t loc, const char* name, hid_t type, hid_t space, hid_t dcpl) {
    return Id(H5Dcreate2(loc, name, type, space, H5P_DEFAULT, dcpl, H5P_DEFAULT), H5Dclose,
              "H5Dcreate2");
}

hsize_t elementCount(hid_t dataset) {
    Id space(H5Dget_space(dataset), H5Sclose, "H5Dget_space");
    const hssize_t n = H5Sget_simple_extent_npoints(space);
    if (n < 0)
        throw BenchFailure("HDF5: H5Sget_simple_extent_npoints failed");
    return static_cast<hsize_t>(n);
}

long openIdentifierCount() {
    return static_cast<long>(H5Fget_obj_count(H5F_OBJ_ALL, H5F_OBJ_ALL));
}

}  // namespace Quellmar::bench::raw
