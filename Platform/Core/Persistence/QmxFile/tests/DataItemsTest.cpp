#include "Journal.h"
#include "TestFiles.h"

#include <cstring>

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
    ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/objects", "z", 6, 1000, 50000, data.data()));
    reopen(true);
    EXPECT_EQ(readBlob(file, "/objects", "z"), data);
    EXPECT_EQ(readBlob(file, "/objects", "b300000"), bytes(300000, 7));
}

TEST_F(OpaqueItems, EmptyItemsAreStorableAndReportSizeZero) {
    ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/", "empty", 0, 100000, 0, nullptr));
    ASSERT_OK(QMXLcreateCompressedStringDataset(file, "/", "emptyText", 5, 100000, 0, ""));
    ASSERT_OK(
        QMXLcreateTypedDataset(file, "/", "emptyVector", 3, 100000, 1, QMXL_FLOAT64, 0, nullptr));
    long long size = -1;
    EXPECT_OK(QMXLgetSizeOfOpaqueData(file, "/", "empty", &size));
    EXPECT_EQ(size, 0);
    EXPECT_OK(QMXLreadOpaqueData(file, "/", "empty", nullptr));
    EXPECT_OK(QMXLgetSizeOfStringDataset(file, "/", "emptyText", &size));
    EXPECT_EQ(size, 0);
    long long count = -1;
    int type = -2;
    EXPECT_OK(QMXLgetDatasetInfo(file, "/", "emptyVector", &count, &type));
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
    ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/g", "x", 0, 0, 100, small.data()));
    const int dataset = QMXLopenDataset(file, "/g/x");
    const int rows = 3;
    ASSERT_OK(QMXLsetAttribute(dataset, "Rows", &rows));
    ASSERT_OK(QMXLsetStringAttribute(dataset, "Note", "kept"));
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
        EXPECT_OK(QMXLgetStringAttribute(d, "Note", &note));
        EXPECT_STREQ(note, "kept");
        free(note);
        QMXLcloseObject(d);
    }
    EXPECT_EQ(memberCount(file, "/g"), 1);  // no leftovers of the replacement
}

TEST_F(OpaqueItems, StringDatasetsAreTheirOwnKind) {
    const std::string text = "some text\nwith lines";
    ASSERT_OK(QMXLcreateCompressedStringDataset(file, "/s", "t", 0, 0,
                                                static_cast<long long>(text.size()), text.data()));
    long long size = 0;
    ASSERT_OK(QMXLgetSizeOfStringDataset(file, "/s", "t", &size));
    std::string back(static_cast<size_t>(size), '\0');
    ASSERT_OK(QMXLreadStringDataset(file, "/s", "t", back.data()));
    EXPECT_EQ(back, text);
    ASSERT_OK(QMXLupdateStringDataset(file, "/s", "t", 3, "abc"));
    back.assign(3, '\0');
    ASSERT_OK(QMXLreadStringDataset(file, "/s", "t", back.data()));
    EXPECT_EQ(back, "abc");

    // The opaque calls do not read strings, nor the other way round.
    EXPECT_LT(QMXLgetSizeOfOpaqueData(file, "/s", "t", &size), 0);
    EXPECT_ERROR("string dataset");
    ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/s", "o", 0, 0, 1, "o"));
    EXPECT_LT(QMXLreadStringDataset(file, "/s", "o", back.data()), 0);
    EXPECT_LT(QMXLupdateStringDataset(file, "/s", "o", 1, "x"), 0);
    ASSERT_OK(QMXLcreateTypedDataset(file, "/s", "v", 0, 0, 1, QMXL_UINT8, 1, "v"));
    EXPECT_LT(QMXLgetSizeOfOpaqueData(file, "/s", "v", &size), 0);
    EXPECT_OK(QMXLgetSizeOfDataset(file, "/s", "v", &size));
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
    ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/", "x", 0, 0, 1, "x"));
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
        ASSERT_OK(QMXLreadTypedDataset(file, "/v", name.c_str(), c.code, back.data()));
        if (c.code == QMXL_LONG_DOUBLE) {
            auto* values = reinterpret_cast<long double*>(back.data());
            for (int i = 0; i < 10; ++i)
                EXPECT_EQ(values[i], i * 0.5L);
        } else {
            EXPECT_EQ(back, data) << c.code;
        }
        std::vector<unsigned char> stored(data.size());
        ASSERT_OK(QMXLreadTypedDataset(file, "/v", name.c_str(), QMXL_AS_STORED, stored.data()));
        long long count = 0;
        int type = -2;
        ASSERT_OK(QMXLgetDatasetInfo(file, "/v", name.c_str(), &count, &type));
        EXPECT_EQ(count, 10);
        EXPECT_EQ(type, c.code);
        long long size = 0;
        ASSERT_OK(QMXLgetSizeOfDataset(file, "/v", name.c_str(), &size));
        EXPECT_EQ(size, static_cast<long long>(c.width * 10));
    }
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
    ASSERT_OK(QMXLcreateTypedDataset(file, "/", "x", 0, 0, 1, QMXL_FLOAT64, 1, v));
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
    ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/", "blob", 0, 0, 1, "b"));
    EXPECT_LT(QMXLreadTypedDataset(file, "/", "blob", QMXL_UINT8, &out), 0);
    ASSERT_OK(QMXLgetDatasetInfo(file, "/", "blob", &count, &type));
    EXPECT_EQ(type, -1);
}

// A size query keeps its dataset open for the read that follows it. Whatever comes between
// the two must not let the read see a stale item, and a close must really close the file.
TEST_F(OpaqueItems, ReadAfterSizeQuerySeesEveryChangeInBetween) {
    const std::string a = bytes(100, 1), b = bytes(300, 2), c = bytes(40, 3);
    ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/g", "a", 0, 0, 100, a.data()));
    ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/g", "b", 0, 0, 300, b.data()));
    long long size = -1;

    // Another item read after the size query of a.
    ASSERT_OK(QMXLgetSizeOfOpaqueData(file, "/g", "a", &size));
    std::string got(300, '\0');
    ASSERT_OK(QMXLreadOpaqueData(file, "/g", "b", got.data()));
    EXPECT_EQ(got, b);

    // The item replaced (new size, new layout) between size query and read.
    ASSERT_OK(QMXLgetSizeOfOpaqueData(file, "/g", "a", &size));
    ASSERT_OK(QMXLupdateOpaqueData(file, "/g", "a", 40, c.data()));
    got.assign(40, '\0');
    ASSERT_OK(QMXLreadOpaqueData(file, "/g", "a", got.data()));
    EXPECT_EQ(got, c);

    // The item removed in between.
    ASSERT_OK(QMXLgetSizeOfOpaqueData(file, "/g", "a", &size));
    ASSERT_OK(QMXLremoveDataset(file, "/g/a"));
    EXPECT_LT(QMXLreadOpaqueData(file, "/g", "a", got.data()), 0);
    EXPECT_ERROR("does not exist");

    // The same path read as another kind, and in another file.
    ASSERT_OK(QMXLcreateCompressedStringDataset(file, "/g", "s", 0, 0, 3, "abc"));
    ASSERT_OK(QMXLgetSizeOfStringDataset(file, "/g", "s", &size));
    EXPECT_LT(QMXLreadOpaqueData(file, "/g", "s", got.data()), 0) << "a string is no opaque item";
    const std::string otherPath = dir.file("other.qmz");
    const int other = QMXLcreateFile(otherPath.c_str());
    ASSERT_GT(other, 0);
    ASSERT_OK(QMXLcreateCompressedOpaqueData(other, "/g", "b", 0, 0, 40, c.data()));
    ASSERT_OK(QMXLgetSizeOfOpaqueData(file, "/g", "b", &size));
    got.assign(40, '\0');
    ASSERT_OK(QMXLreadOpaqueData(other, "/g", "b", got.data()));
    EXPECT_EQ(got, c);

    // A close right after a size query closes and commits the file for real.
    ASSERT_OK(QMXLgetSizeOfOpaqueData(other, "/g", "b", &size));
    ASSERT_GE(QMXLcloseOpenedObjectsForFile(other), 0);
    ASSERT_GE(QMXLcloseAllFileHandlesForFile(other), 0);
    EXPECT_FALSE(Quellmar::qmxfile::journal::holdsTransaction(otherPath))
        << "the commit did not wait for the kept item";
    const int again = QMXLopenFile(otherPath.c_str());
    EXPECT_GT(again, 0) << "still held open: " << lastError();
    if (again > 0)
        QMXLcloseAllFileHandlesForFile(again);
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
