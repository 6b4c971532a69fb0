#ifndef QUELLMAR_BENCH_RAWHDF5_H
#define QUELLMAR_BENCH_RAWHDF5_H

#include <hdf5.h>

#include <string>
#include <utility>

namespace Quellmar::bench::raw {

// Owns one HDF5 identifier and closes it with the matching H5*close.
class Id {
public:
    using Closer = herr_t (*)(hid_t);
    Id() = default;
    // Throws BenchFailure naming `what` when `id` is negative.
    Id(hid_t id, Closer closer, const char* what);
    ~Id() { reset(); }
    Id(Id&& other) noexcept
        : m_id(std::exchange(other.m_id, H5I_INVALID_HID)), m_closer(other.m_closer) {}
    Id& operator=(Id&& other) noexcept {
        if (this != &other) {
            reset();
            m_id = std::exchange(other.m_id, H5I_INVALID_HID);
            m_closer = other.m_closer;
        }
        return *this;
    }
    Id(const Id&) = delete;
    Id& operator=(const Id&) = delete;

    hid_t get() const { return m_id; }
    operator hid_t() const { return m_id; }
    // Closes now and reports a failing close (the file close is where data reaches the disk).
    void close();

private:
    void reset() noexcept;
    hid_t m_id = H5I_INVALID_HID;
    Closer m_closer = nullptr;
};

void check(herr_t result, const char* what);

Id createFile(const std::string& path);
Id openFile(const std::string& path, bool writable);
Id createGroup(hid_t loc, const char* name);
Id openGroup(hid_t loc, const char* name);
Id openDataset(hid_t loc, const char* name);
Id simpleSpace(hsize_t count);
Id simpleSpace2(hsize_t rows, hsize_t cols);
Id datasetCreateList();
// A create property list for datasets of `bytes` bytes: compact when small, contiguous when not.
Id bestLayout(hsize_t bytes);
Id createDataset(hid_t loc, const char* name, hid_t type, hid_t space, hid_t dcpl);
// Element count of a dataset.
hsize_t elementCount(hid_t dataset);

// HDF5 keeps its open-identifier count per process; the smoke run checks it drops to zero.
long openIdentifierCount();

}  // namespace Quellmar::bench::raw

#endif
