#ifndef QUELLMAR_QMXFILE_TESTFILES_H
#define QUELLMAR_QMXFILE_TESTFILES_H

#include "Crc32c.h"
#include "QMXL.h"
#include "TempDir.h"

#include <gtest/gtest.h>
#include <hdf5.h>

#include <cstdint>
#include <string>
#include <vector>

namespace Quellmar::testing {

// The last error message of this thread, empty when there is none.
inline std::string lastError() {
    char* text = nullptr;
    QMXLgetLastErrorMessage(&text);
    std::string result = text ? text : "";
    QMXLreleaseString(&text);
    return result;
}

// Closes raw HDF5 identifiers the tests open to look at or tamper with a closed file.
struct H5Id {
    explicit H5Id(hid_t id) : id(id) {}
    ~H5Id() {
        switch (H5Iget_type(id)) {
            case H5I_FILE:
                H5Fclose(id);
                break;
            case H5I_ATTR:
                H5Aclose(id);
                break;
            case H5I_DATASPACE:
                H5Sclose(id);
                break;
            case H5I_DATATYPE:
                H5Tclose(id);
                break;
            case H5I_DATASET:
            case H5I_GROUP:
                H5Oclose(id);
                break;
            default:
                break;
        }
    }
    H5Id(const H5Id&) = delete;
    H5Id& operator=(const H5Id&) = delete;
    hid_t id;
};

// Distinct bytes, so a pattern of them is found once in a file.
inline std::string pattern(std::size_t size, unsigned seed) {
    std::string data(size, '\0');
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& c : data) {
        x = x * 1664525u + 1013904223u;
        c = static_cast<char>(x >> 24);
    }
    return data;
}

// What a new file stores as an item's checksum: the CRC of its contents continued over its
// absolute path and a NUL byte, then over its stored type as H5Tencode serializes it (read
// from the closed file).
inline std::uint32_t itemSum(const std::string& file, std::uint32_t contents,
                             const std::string& item) {
    const std::uint32_t named = crc32c::Extend(contents, item.c_str(), item.size() + 1);
    H5Id f(H5Fopen(file.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT));
    H5Id dataset(H5Dopen2(f.id, item.c_str(), H5P_DEFAULT));
    H5Id type(H5Dget_type(dataset.id));
    size_t size = 0;
    if (H5Tencode(type.id, nullptr, &size) < 0)
        return ~named;  // no type: matches nothing stored
    std::vector<unsigned char> encoded(size);
    H5Tencode(type.id, encoded.data(), &size);
    return crc32c::Extend(named, encoded.data(), encoded.size());
}

// Little-endian numbers of `size` bytes at `at` in a file's bytes, for reading and damaging
// stored structures.
inline std::uint64_t le(const std::string& bytes, std::size_t at, std::size_t size) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < size; ++i)
        value |= std::uint64_t{static_cast<unsigned char>(bytes[at + i])} << (8 * i);
    return value;
}

inline void putLe(std::string& bytes, std::size_t at, std::size_t size, std::uint64_t value) {
    for (std::size_t i = 0; i < size; ++i)
        bytes[at + i] = static_cast<char>(value >> (8 * i));
}

// Replaces the only occurrence of `find` in the closed file at `path` by `with` (same length):
// damage placed where a stored value is, wherever HDF5 put it. Fails the test when `find` is
// missing or not unique.
inline void patchOnce(const std::string& path, const std::string& find, const std::string& with) {
    std::string bytes = readFile(path);
    const auto at = bytes.find(find);
    ASSERT_NE(at, std::string::npos) << "pattern not in the file";
    ASSERT_EQ(bytes.find(find, at + 1), std::string::npos) << "pattern twice in the file";
    bytes.replace(at, with.size(), with);
    writeFile(path, bytes);
}

// A fresh container in its own directory, closed at the end of the test.
class ContainerTest : public ::testing::Test {
protected:
    void SetUp() override {
        path = dir.file("c.qmz");
        file = QMXLcreateFile(path.c_str());
        ASSERT_GT(file, 0) << lastError();
    }
    void TearDown() override {
        if (file > 0 && QMXLisValid(file) == 1) {
            QMXLcloseOpenedObjectsForFile(file);
            QMXLcloseAllFileHandlesForFile(file);
        }
    }
    void reopen(bool readOnly = false) {
        QMXLcloseOpenedObjectsForFile(file);
        QMXLcloseAllFileHandlesForFile(file);
        file = readOnly ? QMXLopenFileReadOnly(path.c_str()) : QMXLopenFile(path.c_str());
        ASSERT_GT(file, 0) << lastError();
    }

    TempDir dir;
    std::string path;
    int file = -1;
};

}  // namespace Quellmar::testing

#endif
