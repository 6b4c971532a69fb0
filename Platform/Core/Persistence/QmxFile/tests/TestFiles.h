#ifndef QUELLMAR_QMXFILE_TESTFILES_H
#define QUELLMAR_QMXFILE_TESTFILES_H

#include "ConcurrentCrc.h"
#include "Crc32c.h"
#include "LastError.h"
#include "QMXLLists.h"
#include "TempDir.h"

#include <gtest/gtest.h>
#include <hdf5.h>

#include <cstdint>
#include <string>
#include <vector>

namespace Quellmar::testing {

// A library call that must succeed (return 1), showing the library's message when it does not.
#define ASSERT_OK(call) ASSERT_EQ(call, 1) << ::Quellmar::testing::lastError()
#define EXPECT_OK(call) EXPECT_EQ(call, 1) << ::Quellmar::testing::lastError()
// The last error message of this thread contains `text`.
#define EXPECT_ERROR(text)                                                    \
    EXPECT_NE(::Quellmar::testing::lastError().find(text), std::string::npos) \
        << ::Quellmar::testing::lastError()

// The way large items take while it lives: the checksum thread, or the caller's thread in turn.
class Way {
public:
    explicit Way(qmxfile::ConcurrentCrc::Mode mode) { qmxfile::ConcurrentCrc::setAutoWay(mode); }
    ~Way() { qmxfile::ConcurrentCrc::setAutoWay(qmxfile::ConcurrentCrc::Mode::Auto); }
    Way(const Way&) = delete;
    Way& operator=(const Way&) = delete;
};
constexpr qmxfile::ConcurrentCrc::Mode kWays[] = {qmxfile::ConcurrentCrc::Mode::Concurrent,
                                                  qmxfile::ConcurrentCrc::Mode::Inline};

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

// An opaque item's bytes, or a note why there are none.
inline std::string readBlob(int file, const char* group, const char* name) {
    long long size = -1;
    if (QMXLgetSizeOfOpaqueData(file, group, name, &size) != 1)
        return "<missing>";
    std::string data(static_cast<std::size_t>(size), '\0');
    if (QMXLreadOpaqueData(file, group, name, data.data()) != 1)
        return "<unreadable>";
    return data;
}

// The number of members QMXLlistGroup lists, -1 when it fails; the lists go back at once.
inline int memberCount(int loc, const char* group) {
    QMXLGroupListing list;
    if (QMXLlistGroup(loc, group, &list.count, &list.names, &list.kinds) != 1)
        return -1;
    return list.count;
}

// The slice checksums a large item of a closed file stores, read with HDF5 itself.
inline std::vector<std::uint32_t> storedSlices(const std::string& file, const std::string& item) {
    H5Id f(H5Fopen(file.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT));
    H5Id a(H5Aopen_by_name(f.id, item.c_str(), "QMZ_SLICE_CRC32C", H5P_DEFAULT, H5P_DEFAULT));
    H5Id space(H5Aget_space(a.id));
    const hssize_t n = H5Sget_simple_extent_npoints(space.id);
    std::vector<std::uint32_t> values(n > 0 ? static_cast<std::size_t>(n) : 0);
    EXPECT_GE(H5Aread(a.id, H5T_NATIVE_UINT32, values.data()), 0) << item;
    return values;
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

// True when `size` bytes at `data` are all zero: what a failed read leaves in the buffer.
inline bool allZero(const void* data, std::size_t size) {
    const auto* p = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i)
        if (p[i])
            return false;
    return true;
}

// A failed call whose message names the object and says why.
inline void expectDamaged(int result, const std::string& object,
                          const std::string& reason = "damaged") {
    EXPECT_LT(result, 0) << object;
    const std::string message = lastError();
    EXPECT_NE(message.find(object), std::string::npos) << message;
    EXPECT_NE(message.find(reason), std::string::npos) << message;
}

// A fresh container in its own directory, closed at the end of the test.
class ContainerTest : public ::testing::Test {
protected:
    void SetUp() override {
        path = dir.file("c.qmz");
        file = QMXLcreateFile(path.c_str());
        ASSERT_GT(file, 0) << lastError();
    }
    void TearDown() override { close(); }
    // Closes every handle of the file, so that it can be looked at or changed from outside.
    void close() {
        if (file > 0 && QMXLisValid(file) == 1) {
            QMXLcloseOpenedObjectsForFile(file);
            QMXLcloseAllFileHandlesForFile(file);
        }
        file = -1;
    }
    void reopen(bool readOnly = false) {
        close();
        file = readOnly ? QMXLopenFileReadOnly(path.c_str()) : QMXLopenFile(path.c_str());
        ASSERT_GT(file, 0) << lastError();
    }

    // Replaces the only occurrence of `find` in the closed file by `with` (same length).
    void patch(const std::string& find, const std::string& with) {
        close();
        patchOnce(path, find, with);
    }
    // Damages one byte of `data`, which the file holds once.
    void flipByteOf(const std::string& data, std::size_t index) {
        std::string damaged = data;
        damaged[index] = static_cast<char>(damaged[index] ^ 0x10);
        patch(data, damaged);
    }
    // Lets `change` work on the closed file with HDF5 itself.
    template <class Change>
    void withHdf5(Change change) {
        close();
        H5Id f(H5Fopen(path.c_str(), H5F_ACC_RDWR, H5P_DEFAULT));
        ASSERT_GE(f.id, 0);
        change(f.id);
    }
    // A 32-bit attribute of an object of the closed file, read with HDF5 itself.
    std::uint32_t storedU32(const std::string& object, const char* attribute) {
        close();
        H5Id f(H5Fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT));
        H5Id a(H5Aopen_by_name(f.id, object.c_str(), attribute, H5P_DEFAULT, H5P_DEFAULT));
        std::uint32_t value = 0;
        EXPECT_GE(H5Aread(a.id, H5T_NATIVE_UINT32, &value), 0) << object << " " << attribute;
        return value;
    }
    // An item's checksum as the closed file stores it.
    std::uint32_t storedChecksum(const std::string& item) { return storedU32(item, "QMZ_CRC32C"); }
    // The closed file stores the checksum a new file gives `item` holding `size` bytes at `data`.
    void expectItemSum(const std::string& item, const void* data, std::size_t size) {
        const std::uint32_t stored = storedChecksum(item);
        EXPECT_EQ(stored, itemSum(path, crc32c::Value(data, size), item)) << item;
    }

    TempDir dir;
    std::string path;
    int file = -1;
};

}  // namespace Quellmar::testing

#endif
