#include "Journal.h"
#include "TestFiles.h"

#include <cstdint>
#include <cstring>
#include <vector>

using namespace Quellmar::testing;

using OpaqueItems = ContainerTest;
using TypedDatasets = ContainerTest;

namespace {

std::string bytes(size_t size, int seed) {
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i)
        data[i] = static_cast<char>((i * 31 + static_cast<size_t>(seed)) % 256);
    return data;
}

}  // namespace

TEST_F(OpaqueItems, BytesRoundTripExactlyAtEverySize) {
    for (size_t size : {size_t{1}, size_t{100}, size_t{16384}, size_t{16385}, size_t{300000}}) {
        const std::string name = "b" + std::to_string(size);
        const std::string data = bytes(size, 7);
        ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/objects", name.c_str(), 0, 4096,
                                                 static_cast<long long>(size), data.data()));
        EXPECT_EQ(readBlob(file, "/objects", name.c_str()), data) << size;
    }
    const std::string data = bytes(50000, 3);
    ASSERT_EQ(QMXLcreateCompressedOpaqueData(file, "/objects", "z", 6, 1000, 50000, data.data()),
              1);
    reopen(true);
    EXPECT_EQ(readBlob(file, "/objects", "z"), data);
    EXPECT_EQ(readBlob(file, "/objects", "b300000"), bytes(300000, 7));
}

TEST_F(OpaqueItems, EmptyItemsAreStorableAndReportSizeZero) {
    ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/", "empty", 0, 100000, 0, nullptr));
    ASSERT_OK(QMXLcreateCompressedStringDataset(file, "/", "emptyText", 5, 100000, 0, ""));
    ASSERT_EQ(
        QMXLcreateTypedDataset(file, "/", "emptyVector", 3, 100000, 1, QMXL_FLOAT64, 0, nullptr),
        1);
    long long size = -1;
    EXPECT_EQ(QMXLgetSizeOfOpaqueData(file, "/", "empty", &size), 1);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(QMXLreadOpaqueData(file, "/", "empty", nullptr), 1);
    EXPECT_EQ(QMXLgetSizeOfStringDataset(file, "/", "emptyText", &size), 1);
    EXPECT_EQ(size, 0);
    long long count = -1;
    int type = -2;
    EXPECT_EQ(QMXLgetDatasetInfo(file, "/", "emptyVector", &count, &type), 1);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(type, QMXL_FLOAT64);
    // And they grow.
    ASSERT_OK(QMXLupdateOpaqueData(file, "/", "empty", 4, "full"));
    EXPECT_EQ(readBlob(file, "/", "empty"), "full");
    ASSERT_OK(QMXLupdateOpaqueData(file, "/", "empty", 0, nullptr));
    EXPECT_EQ(readBlob(file, "/", "empty"), "");
}

TEST_F(OpaqueItems, UpdatesOfAnotherSizeKeepAttributes) {
    const std::string small = bytes(100, 1);
    ASSERT_EQ(QMXLcreateCompressedOpaqueData(file, "/g", "x", 0, 0, 100, small.data()), 1);
    const int dataset = QMXLopenDataset(file, "/g/x");
    const int rows = 3;
    ASSERT_EQ(QMXLsetAttribute(dataset, "Rows", &rows), 1);
    ASSERT_EQ(QMXLsetStringAttribute(dataset, "Note", "kept"), 1);
    QMXLcloseObject(dataset);

    for (size_t size : {size_t{100}, size_t{200000}, size_t{10}, size_t{0}, size_t{70000}}) {
        const std::string data = bytes(size, static_cast<int>(size));
        ASSERT_OK(QMXLupdateOpaqueData(file, "/g", "x", static_cast<long long>(size), data.data()));
        EXPECT_EQ(readBlob(file, "/g", "x"), data);
        const int d = QMXLopenDataset(file, "/g/x");
        int value = 0;
        EXPECT_EQ(QMXLreadAttribute(d, "Rows", &value), 1) << size;
        EXPECT_EQ(value, 3);
        char* note = nullptr;
        EXPECT_EQ(QMXLgetStringAttribute(d, "Note", &note), 1);
        EXPECT_STREQ(note, "kept");
        free(note);
        QMXLcloseObject(d);
    }
    int count = 0;
    char** names = nullptr;
    int* kinds = nullptr;
    ASSERT_EQ(QMXLlistGroup(file, "/g", &count, &names, &kinds), 1);
    EXPECT_EQ(count, 1);  // no leftovers of the replacement
    QMXLreleaseStrings(count, names);
    QMXLreleaseArray(&names);
    QMXLreleaseArray(&kinds);
}

TEST_F(OpaqueItems, StringDatasetsAreTheirOwnKind) {
    const std::string text = "some text\nwith lines";
    ASSERT_EQ(QMXLcreateCompressedStringDataset(file, "/s", "t", 0, 0,
                                                static_cast<long long>(text.size()), text.data()),
              1);
    long long size = 0;
    ASSERT_EQ(QMXLgetSizeOfStringDataset(file, "/s", "t", &size), 1);
    std::string back(static_cast<size_t>(size), '\0');
    ASSERT_EQ(QMXLreadStringDataset(file, "/s", "t", back.data()), 1);
    EXPECT_EQ(back, text);
    ASSERT_EQ(QMXLupdateStringDataset(file, "/s", "t", 3, "abc"), 1);
    back.assign(3, '\0');
    ASSERT_EQ(QMXLreadStringDataset(file, "/s", "t", back.data()), 1);
    EXPECT_EQ(back, "abc");

    // The opaque calls do not read strings, nor the other way round.
    EXPECT_LT(QMXLgetSizeOfOpaqueData(file, "/s", "t", &size), 0);
    EXPECT_ERROR("string dataset");
    ASSERT_EQ(QMXLcreateCompressedOpaqueData(file, "/s", "o", 0, 0, 1, "o"), 1);
    EXPECT_LT(QMXLreadStringDataset(file, "/s", "o", back.data()), 0);
    EXPECT_LT(QMXLupdateStringDataset(file, "/s", "o", 1, "x"), 0);
    ASSERT_EQ(QMXLcreateTypedDataset(file, "/s", "v", 0, 0, 1, QMXL_UINT8, 1, "v"), 1);
    EXPECT_LT(QMXLgetSizeOfOpaqueData(file, "/s", "v", &size), 0);
    EXPECT_EQ(QMXLgetSizeOfDataset(file, "/s", "v", &size), 1);
}

TEST_F(OpaqueItems, BadArgumentsAndConflicts) {
    EXPECT_LT(QMXLcreateCompressedOpaqueData(file, "/", "x", 0, 0, -1, "x"), 0);
    EXPECT_ERROR("negative");
    EXPECT_LT(QMXLcreateCompressedOpaqueData(file, "/", "x", 0, 0, 5, nullptr), 0);
    EXPECT_LT(QMXLcreateCompressedOpaqueData(file, "/", "x", 10, 0, 1, "x"), 0);
    EXPECT_LT(QMXLcreateCompressedOpaqueData(file, "/", "x", -1, 0, 1, "x"), 0);
    EXPECT_LT(QMXLcreateCompressedOpaqueData(file, nullptr, "x", 0, 0, 1, "x"), 0);
    EXPECT_LT(QMXLcreateCompressedOpaqueData(file, "/", "", 0, 0, 1, "x"), 0);
    EXPECT_LT(QMXLcreateCompressedOpaqueData(file, "/", nullptr, 0, 0, 1, "x"), 0);
    EXPECT_LT(QMXLcreateCompressedOpaqueData(file, "/", "/", 0, 0, 1, "x"), 0);
    EXPECT_LT(QMXLcreateCompressedOpaqueData(-1, "/", "x", 0, 0, 1, "x"), 0);
    ASSERT_EQ(QMXLcreateCompressedOpaqueData(file, "/", "x", 0, 0, 1, "x"), 1);
    EXPECT_LT(QMXLcreateCompressedOpaqueData(file, "/", "x", 0, 0, 1, "y"), 0);
    EXPECT_ERROR("exists already");
    EXPECT_EQ(readBlob(file, "/", "x"), "x");
    EXPECT_LT(QMXLupdateOpaqueData(file, "/", "missing", 1, "x"), 0);
    EXPECT_LT(QMXLupdateOpaqueData(file, "/", "x", -5, "x"), 0);
    long long size = 0;
    EXPECT_LT(QMXLgetSizeOfOpaqueData(file, "/", "x", nullptr), 0);
    EXPECT_LT(QMXLgetSizeOfOpaqueData(file, "/nowhere", "x", &size), 0);
    EXPECT_ERROR("does not exist");
    EXPECT_LT(QMXLreadOpaqueData(file, "/", "x", nullptr), 0);
    EXPECT_LT(QMXLcreateCompressedStringDataset(file, "/", "x", 0, 0, 1, "x"), 0);
}

TEST_F(TypedDatasets, EveryCodeRoundTripsAndReportsItsType) {
    struct Case {
        int code;
        size_t width;
    };
    for (Case c :
         {Case{QMXL_INT32, 4}, Case{QMXL_UINT32, 4}, Case{QMXL_FLOAT32, 4}, Case{QMXL_FLOAT64, 8},
          Case{QMXL_INT16, 2}, Case{QMXL_INT64, 8}, Case{QMXL_UINT64, 8}, Case{QMXL_UINT16, 2},
          Case{QMXL_UINT8, 1}, Case{QMXL_INT8, 1}, Case{QMXL_LONG_DOUBLE, sizeof(long double)}}) {
        const std::string name = "c" + std::to_string(c.code);
        std::vector<unsigned char> data(c.width * 10);
        for (size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<unsigned char>(i + 1);
        if (c.code == QMXL_LONG_DOUBLE) {
            auto* values = reinterpret_cast<long double*>(data.data());
            for (int i = 0; i < 10; ++i)
                values[i] = i * 0.5L;
        }
        ASSERT_OK(QMXLcreateTypedDataset(file, "/v", name.c_str(), 0, 100000, 1, c.code, 10,
                                         data.data()));
        std::vector<unsigned char> back(data.size());
        ASSERT_EQ(QMXLreadTypedDataset(file, "/v", name.c_str(), c.code, back.data()), 1);
        if (c.code == QMXL_LONG_DOUBLE) {
            auto* values = reinterpret_cast<long double*>(back.data());
            for (int i = 0; i < 10; ++i)
                EXPECT_EQ(values[i], i * 0.5L);
        } else {
            EXPECT_EQ(back, data) << c.code;
        }
        std::vector<unsigned char> stored(data.size());
        ASSERT_EQ(QMXLreadTypedDataset(file, "/v", name.c_str(), QMXL_AS_STORED, stored.data()), 1);
        long long count = 0;
        int type = -2;
        ASSERT_EQ(QMXLgetDatasetInfo(file, "/v", name.c_str(), &count, &type), 1);
        EXPECT_EQ(count, 10);
        EXPECT_EQ(type, c.code);
        long long size = 0;
        ASSERT_EQ(QMXLgetSizeOfDataset(file, "/v", name.c_str(), &size), 1);
        EXPECT_EQ(size, static_cast<long long>(c.width * 10));
    }
}

TEST_F(TypedDatasets, ReadingConvertsToTheRequestedType) {
    const std::int32_t values[] = {-2, 0, 7, 300};
    ASSERT_EQ(QMXLcreateTypedDataset(file, "/", "i", 0, 0, 1, QMXL_INT32, 4, values), 1);
    double asDouble[4] = {};
    ASSERT_EQ(QMXLreadTypedDataset(file, "/", "i", QMXL_FLOAT64, asDouble), 1);
    EXPECT_EQ(asDouble[0], -2.0);
    EXPECT_EQ(asDouble[3], 300.0);
    std::int64_t asLong[4] = {};
    ASSERT_EQ(QMXLreadTypedDataset(file, "/", "i", QMXL_INT64, asLong), 1);
    EXPECT_EQ(asLong[2], 7);
    std::uint8_t asByte[4] = {};
    ASSERT_EQ(QMXLreadTypedDataset(file, "/", "i", QMXL_UINT8, asByte), 1);
    EXPECT_EQ(asByte[2], 7);
    EXPECT_EQ(asByte[3], 255);  // HDF5 clips what does not fit

    // Updates keep the stored type and convert what they are given.
    const double update[] = {1.0, 2.0, 3.0, 4.0, 5.0, 6.0};
    ASSERT_OK(QMXLupdateTypedDataset(file, "/", "i", QMXL_FLOAT64, 6, update));
    long long count = 0;
    int type = 0;
    ASSERT_EQ(QMXLgetDatasetInfo(file, "/", "i", &count, &type), 1);
    EXPECT_EQ(count, 6);
    EXPECT_EQ(type, QMXL_INT32);
    std::int32_t back[6] = {};
    ASSERT_EQ(QMXLreadTypedDataset(file, "/", "i", QMXL_INT32, back), 1);
    EXPECT_EQ(back[5], 6);
    const std::int32_t same[] = {9, 8, 7, 6, 5, 4};
    ASSERT_OK(QMXLupdateTypedDataset(file, "/", "i", QMXL_AS_STORED, 6, same));
    ASSERT_EQ(QMXLreadTypedDataset(file, "/", "i", QMXL_INT32, back), 1);
    EXPECT_EQ(back[0], 9);
}

TEST_F(TypedDatasets, RefusedRequests) {
    const double v[] = {1.0};
    EXPECT_LT(QMXLcreateTypedDataset(file, "/", "x", 0, 0, 1, QMXL_AS_STORED, 1, v), 0);
    EXPECT_ERROR("-1");
    for (int code : {6, 9, 14, 17, 19, 21, -2, 1000}) {
        EXPECT_LT(QMXLcreateTypedDataset(file, "/", "x", 0, 0, 1, code, 1, v), 0) << code;
        EXPECT_ERROR("unknown element type");
    }
    EXPECT_LT(QMXLcreateTypedDataset(file, "/", "x", 0, 0, 1, QMXL_FLOAT64, -3, v), 0);
    EXPECT_LT(QMXLcreateTypedDataset(file, "/", "x", 0, 0, 1, QMXL_FLOAT64, 3, nullptr), 0);
    EXPECT_LT(QMXLcreateTypedDataset(file, "/", "x", 12, 0, 1, QMXL_FLOAT64, 1, v), 0);
    ASSERT_EQ(QMXLcreateTypedDataset(file, "/", "x", 0, 0, 1, QMXL_FLOAT64, 1, v), 1);
    double out = 0;
    EXPECT_LT(QMXLreadTypedDataset(file, "/", "x", 6, &out), 0);
    EXPECT_LT(QMXLreadTypedDataset(file, "/", "missing", QMXL_FLOAT64, &out), 0);
    EXPECT_LT(QMXLreadTypedDataset(file, "/", "x", QMXL_FLOAT64, nullptr), 0);
    EXPECT_LT(QMXLupdateTypedDataset(file, "/", "x", 99, 1, v), 0);
    long long count = 0;
    int type = 0;
    EXPECT_LT(QMXLgetDatasetInfo(file, "/", "x", nullptr, &type), 0);
    EXPECT_LT(QMXLgetDatasetInfo(file, "/", "x", &count, nullptr), 0);
    EXPECT_LT(QMXLgetDatasetInfo(file, "/", "nothing", &count, &type), 0);
    EXPECT_LT(QMXLgetSizeOfDataset(file, "/", "nothing", &count), 0);
    ASSERT_EQ(QMXLcreateCompressedOpaqueData(file, "/", "blob", 0, 0, 1, "b"), 1);
    EXPECT_LT(QMXLreadTypedDataset(file, "/", "blob", QMXL_UINT8, &out), 0);
    ASSERT_EQ(QMXLgetDatasetInfo(file, "/", "blob", &count, &type), 1);
    EXPECT_EQ(type, -1);
}

// A size query keeps its dataset open for the read that follows it. Whatever comes between
// the two must not let the read see a stale item, and a close must really close the file.
TEST_F(OpaqueItems, ReadAfterSizeQuerySeesEveryChangeInBetween) {
    const std::string a = bytes(100, 1), b = bytes(300, 2), c = bytes(40, 3);
    ASSERT_EQ(QMXLcreateCompressedOpaqueData(file, "/g", "a", 0, 0, 100, a.data()), 1);
    ASSERT_EQ(QMXLcreateCompressedOpaqueData(file, "/g", "b", 0, 0, 300, b.data()), 1);
    long long size = -1;

    // Another item read after the size query of a.
    ASSERT_EQ(QMXLgetSizeOfOpaqueData(file, "/g", "a", &size), 1);
    std::string got(300, '\0');
    ASSERT_EQ(QMXLreadOpaqueData(file, "/g", "b", got.data()), 1);
    EXPECT_EQ(got, b);

    // The item replaced (new size, new layout) between size query and read.
    ASSERT_EQ(QMXLgetSizeOfOpaqueData(file, "/g", "a", &size), 1);
    ASSERT_EQ(QMXLupdateOpaqueData(file, "/g", "a", 40, c.data()), 1);
    got.assign(40, '\0');
    ASSERT_EQ(QMXLreadOpaqueData(file, "/g", "a", got.data()), 1);
    EXPECT_EQ(got, c);

    // The item removed in between.
    ASSERT_EQ(QMXLgetSizeOfOpaqueData(file, "/g", "a", &size), 1);
    ASSERT_EQ(QMXLremoveDataset(file, "/g/a"), 1);
    EXPECT_LT(QMXLreadOpaqueData(file, "/g", "a", got.data()), 0);
    EXPECT_ERROR("does not exist");

    // The same path read as another kind, and in another file.
    ASSERT_EQ(QMXLcreateCompressedStringDataset(file, "/g", "s", 0, 0, 3, "abc"), 1);
    ASSERT_EQ(QMXLgetSizeOfStringDataset(file, "/g", "s", &size), 1);
    EXPECT_LT(QMXLreadOpaqueData(file, "/g", "s", got.data()), 0) << "a string is no opaque item";
    const std::string otherPath = dir.file("other.qmz");
    const int other = QMXLcreateFile(otherPath.c_str());
    ASSERT_GT(other, 0);
    ASSERT_EQ(QMXLcreateCompressedOpaqueData(other, "/g", "b", 0, 0, 40, c.data()), 1);
    ASSERT_EQ(QMXLgetSizeOfOpaqueData(file, "/g", "b", &size), 1);
    got.assign(40, '\0');
    ASSERT_EQ(QMXLreadOpaqueData(other, "/g", "b", got.data()), 1);
    EXPECT_EQ(got, c);

    // A close right after a size query closes and commits the file for real.
    ASSERT_EQ(QMXLgetSizeOfOpaqueData(other, "/g", "b", &size), 1);
    ASSERT_GE(QMXLcloseOpenedObjectsForFile(other), 0);
    ASSERT_GE(QMXLcloseAllFileHandlesForFile(other), 0);
    EXPECT_FALSE(Quellmar::qmxfile::journal::holdsTransaction(otherPath))
        << "the commit did not wait for the kept item";
    const int again = QMXLopenFile(otherPath.c_str());
    EXPECT_GT(again, 0) << "still held open: " << lastError();
    if (again > 0)
        QMXLcloseAllFileHandlesForFile(again);
}

// The same for typed datasets: shape queries, reads "as stored" and updates in any order.
TEST_F(TypedDatasets, ShapeQueriesAndReadsNeverSeeAReplacedDataset) {
    const double three[3] = {1, 2, 3}, five[5] = {5, 6, 7, 8, 9};
    ASSERT_EQ(QMXLcreateTypedDataset(file, "/v", "x", 0, 0, 0, QMXL_FLOAT64, 3, three), 1);
    long long count = -1;
    int type = -2;
    ASSERT_EQ(QMXLgetDatasetInfo(file, "/v", "x", &count, &type), 1);
    ASSERT_OK(QMXLupdateTypedDataset(file, "/v", "x", QMXL_AS_STORED, 5, five));
    ASSERT_EQ(QMXLgetDatasetInfo(file, "/v", "x", &count, &type), 1);
    EXPECT_EQ(count, 5);
    double got[5] = {};
    ASSERT_EQ(QMXLreadTypedDataset(file, "/v", "x", QMXL_AS_STORED, got), 1);
    EXPECT_EQ(got[4], 9);
    long long bytes = -1;
    ASSERT_EQ(QMXLgetSizeOfDataset(file, "/v", "x", &bytes), 1);
    ASSERT_EQ(QMXLupdateTypedDataset(file, "/v", "x", QMXL_FLOAT64, 3, three), 1);
    ASSERT_EQ(QMXLgetSizeOfDataset(file, "/v", "x", &bytes), 1);
    EXPECT_EQ(bytes, 24);
    for (double& g : got)
        g = -1;
    ASSERT_EQ(QMXLreadTypedDataset(file, "/v", "x", QMXL_FLOAT64, got), 1);
    EXPECT_EQ(got[2], 3);
    EXPECT_EQ(got[3], -1) << "three elements read, not five";
}

// A foreign file with 3-byte integers: "as stored" would mean 4-byte native integers, more than
// a buffer sized by QMXLgetSizeOfDataset holds. Refused; a named type still converts.
TEST_F(TypedDatasets, AsStoredNeedsANativeTypeOfTheStoredSize) {
    QMXLcloseAllFileHandlesForFile(file);
    {
        H5Id raw(H5Fcreate(path.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT));
        H5Id narrow(H5Tcopy(H5T_STD_I32LE));
        ASSERT_GE(H5Tset_size(narrow.id, 3), 0);
        const hsize_t five = 5;
        H5Id space(H5Screate_simple(1, &five, nullptr));
        H5Id dataset(H5Dcreate2(raw.id, "narrow", narrow.id, space.id, H5P_DEFAULT, H5P_DEFAULT,
                                H5P_DEFAULT));
        const std::int32_t values[] = {1, -2, 3, -4, 5};
        ASSERT_GE(H5Dwrite(dataset.id, H5T_NATIVE_INT32, H5S_ALL, H5S_ALL, H5P_DEFAULT, values), 0);
    }
    reopen();
    long long size = 0;
    ASSERT_OK(QMXLgetSizeOfDataset(file, "/", "narrow", &size));
    ASSERT_EQ(size, 15);
    std::vector<unsigned char> stored(static_cast<std::size_t>(size), 0xAB);
    EXPECT_LT(QMXLreadTypedDataset(file, "/", "narrow", QMXL_AS_STORED, stored.data()), 0);
    EXPECT_ERROR("(3 bytes) has no native type of its size");
    EXPECT_EQ(stored, std::vector<unsigned char>(15, 0xAB));
    const std::int32_t five[] = {5, 4, 3, 2, 1};
    EXPECT_LT(QMXLupdateTypedDataset(file, "/", "narrow", QMXL_AS_STORED, 5, five), 0);
    std::int32_t wide[5] = {};
    ASSERT_OK(QMXLreadTypedDataset(file, "/", "narrow", QMXL_INT32, wide));
    EXPECT_EQ(wide[1], -2);
    EXPECT_EQ(wide[4], 5);
}
