// Large items of the stored type written with their checksum: on a second thread beside the
// write, or slice by slice when no core is free; the stored bytes and the sum are the same.
#include "SlicedIo.h"
#include "TestFiles.h"

using namespace Quellmar;
using Quellmar::testing::kWays;
using Quellmar::testing::Way;

namespace {

constexpr hsize_t kCount = 400003;  // doubles: a little over three slices

std::vector<double> values() {
    std::vector<double> v(kCount);
    for (hsize_t i = 0; i < kCount; ++i)
        v[i] = static_cast<double>(i) * 1.25 - 7.0;
    return v;
}

// A dataset of kCount doubles, contiguous or in chunks, in a raw HDF5 file.
hid_t makeDataset(hid_t file, const char* name, bool chunked) {
    const hid_t space = H5Screate_simple(1, &kCount, nullptr);
    const hid_t dcpl = H5Pcreate(H5P_DATASET_CREATE);
    if (chunked) {
        const hsize_t chunk = 100000;
        H5Pset_chunk(dcpl, 1, &chunk);
    }
    const hid_t ds =
        H5Dcreate2(file, name, H5T_NATIVE_DOUBLE, space, H5P_DEFAULT, dcpl, H5P_DEFAULT);
    H5Pclose(dcpl);
    H5Sclose(space);
    return ds;
}

void expectStored(hid_t ds, const std::vector<double>& expected) {
    std::vector<double> back(kCount);
    ASSERT_GE(H5Dread(ds, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, back.data()), 0);
    EXPECT_TRUE(back == expected);
}

}  // namespace

TEST(WriteChecksummed, EveryWayStoresTheBytesAndTheirSum) {
    Quellmar::testing::TempDir dir;
    const std::string path = dir.file("raw.h5");
    const hid_t file = H5Fcreate(path.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
    ASSERT_GE(file, 0);
    const std::vector<double> v = values();
    const auto* bytes = reinterpret_cast<const unsigned char*>(v.data());
    const std::uint32_t expected = crc32c::Extend(5, bytes, v.size() * sizeof(double));
    int made = 0;
    for (auto way : kWays) {
        for (bool chunked : {false, true}) {
            const std::string name = "d" + std::to_string(made++);
            const hid_t ds = makeDataset(file, name.c_str(), chunked);
            ASSERT_GE(ds, 0);
            std::uint32_t crc = 5;
            {
                Way taken(way);
                EXPECT_TRUE(qmxfile::writeChecksummed(ds, H5T_NATIVE_DOUBLE, sizeof(double), kCount,
                                                      bytes, crc));
            }
            EXPECT_EQ(crc, expected) << name;
            expectStored(ds, v);
            H5Dclose(ds);
        }
    }
    H5Fclose(file);
}

TEST(WriteChecksummed, AFailingWriteIsReportedEitherWay) {
    Quellmar::testing::TempDir dir;
    const std::string path = dir.file("raw.h5");
    {
        const hid_t file = H5Fcreate(path.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
        H5Dclose(makeDataset(file, "flat", false));
        H5Dclose(makeDataset(file, "chunked", true));
        H5Fclose(file);
    }
    const hid_t file = H5Fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT);  // writes fail
    ASSERT_GE(file, 0);
    const std::vector<double> v = values();
    const auto* bytes = reinterpret_cast<const unsigned char*>(v.data());
    for (auto way : kWays) {
        for (const char* name : {"flat", "chunked"}) {
            const hid_t ds = H5Dopen2(file, name, H5P_DEFAULT);
            ASSERT_GE(ds, 0);
            std::uint32_t crc = 0;
            Way taken(way);
            H5E_BEGIN_TRY {
                EXPECT_FALSE(qmxfile::writeChecksummed(ds, H5T_NATIVE_DOUBLE, sizeof(double),
                                                       kCount, bytes, crc));
            }
            H5E_END_TRY;
            H5Dclose(ds);
        }
    }
    H5Fclose(file);
}

// Reading in slices needs a one-dimensional item laid out in one block or in chunks; slices of a
// chunked one hold whole chunks however large they are. Anything else is read whole.
TEST(ReadChecksummed, SlicesHoldWholeChunksAndOnlyOneDimensionalItemsAreSliced) {
    Quellmar::testing::TempDir dir;
    const hid_t file =
        H5Fcreate(dir.file("layouts.h5").c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
    ASSERT_GE(file, 0);
    const auto make = [&](const char* name, int rank, const hsize_t* dims, H5D_layout_t layout,
                          const hsize_t* chunk) {
        const hid_t space = H5Screate_simple(rank, dims, nullptr);
        const hid_t dcpl = H5Pcreate(H5P_DATASET_CREATE);
        if (layout == H5D_CHUNKED)
            H5Pset_chunk(dcpl, rank, chunk);
        else
            H5Pset_layout(dcpl, layout);
        const hid_t ds =
            H5Dcreate2(file, name, H5T_NATIVE_DOUBLE, space, H5P_DEFAULT, dcpl, H5P_DEFAULT);
        H5Pclose(dcpl);
        H5Sclose(space);
        return ds;
    };
    const hsize_t n = 1000000, bigChunk = 300000, smallChunk = 8192, square[2] = {1000, 1000};
    const hsize_t squareChunk[2] = {100, 100}, few = 100;
    const struct {
        hid_t ds;
        hsize_t expected;
    } cases[] = {
        {make("big chunks", 1, &n, H5D_CHUNKED, &bigChunk), 300000},
        {make("small chunks", 1, &n, H5D_CHUNKED, &smallChunk), 16 * 8192},
        {make("two-dimensional", 2, square, H5D_CONTIGUOUS, nullptr), 0},
        {make("two-dimensional chunks", 2, square, H5D_CHUNKED, squareChunk), 0},
        {make("compact", 1, &few, H5D_COMPACT, nullptr), 0},
    };
    for (const auto& c : cases) {
        ASSERT_GE(c.ds, 0);
        EXPECT_EQ(qmxfile::readSliceElements(c.ds, sizeof(double)), c.expected);
        H5Dclose(c.ds);
    }
    H5Fclose(file);
}

// Large items read back with their checksum every way (on the checksum thread or the caller's,
// through HDF5 or, in a file open read-only, straight from the file), as stored and converted
// (the moves shared between both threads): the values, and the sum of one pass over the
// stored bytes.
TEST(ReadChecksummed, EveryWayReadsTheValuesAndTheirSum) {
    Quellmar::testing::TempDir dir;
    const std::string path = dir.file("raw.h5");
    const std::vector<double> v = values();
    const auto* bytes = reinterpret_cast<const unsigned char*>(v.data());
    {
        const hid_t file = H5Fcreate(path.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
        for (bool chunked : {false, true}) {
            const hid_t ds = makeDataset(file, chunked ? "chunked" : "flat", chunked);
            ASSERT_GE(H5Dwrite(ds, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, v.data()), 0);
            H5Dclose(ds);
        }
        H5Fclose(file);
    }
    const std::uint32_t expected = crc32c::Extend(5, bytes, v.size() * sizeof(double));
    const std::vector<float> expectedFloats(v.begin(), v.end());
    for (const unsigned access : {H5F_ACC_RDWR, H5F_ACC_RDONLY}) {
        const hid_t file = H5Fopen(path.c_str(), access, H5P_DEFAULT);
        ASSERT_GE(file, 0);
        for (auto way : kWays) {
            for (const char* name : {"flat", "chunked"}) {
                const hid_t ds = H5Dopen2(file, name, H5P_DEFAULT);
                ASSERT_GE(ds, 0);
                std::vector<double> back(kCount, 0.0);
                std::vector<float> floats(kCount, 0.0f);
                std::uint32_t asStored = 5, converted = 5;
                {
                    Way taken(way);
                    const hsize_t perSlice = qmxfile::readSliceElements(ds, sizeof(double));
                    // A slice's worth of doubles, or whole chunks of 100,000.
                    EXPECT_EQ(perSlice, std::string(name) == "flat" ? hsize_t{131072}
                                                                    : hsize_t{100000});
                    EXPECT_TRUE(qmxfile::readConcurrently(
                        ds, H5T_NATIVE_DOUBLE, sizeof(double), kCount, perSlice,
                        reinterpret_cast<unsigned char*>(back.data()), asStored));
                    EXPECT_TRUE(qmxfile::readConverted(
                        ds, H5T_NATIVE_DOUBLE, H5T_NATIVE_FLOAT, kCount,
                        reinterpret_cast<unsigned char*>(floats.data()), converted));
                }
                EXPECT_EQ(asStored, expected) << name << " " << access;
                EXPECT_EQ(converted, expected) << name << " " << access;
                EXPECT_TRUE(back == v) << name << " " << access;
                EXPECT_TRUE(floats == expectedFloats) << name << " " << access;
                H5Dclose(ds);
            }
        }
        H5Fclose(file);
    }
}
