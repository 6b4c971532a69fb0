// Reading element ranges, appending and shortening: round trips, layouts, failure paths.
#include "ChildProcess.h"
#include "TestFiles.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <numeric>

using namespace Quellmar::testing;

namespace {

// 300,000 doubles: 2.4 MB, a large item of 147 slices of 2,048 elements.
constexpr long long kLarge = 300000;
constexpr long long kPerSlice = 2048;

std::vector<double> counting(long long n, long long from = 0) {
    std::vector<double> v(static_cast<size_t>(n));
    for (long long i = 0; i < n; ++i)
        v[static_cast<size_t>(i)] = static_cast<double>(from + i);
    return v;
}

struct Record {
    std::int32_t id;
    double value;
    float position[2];
};

int recordType() {
    const int type = QMXLcreateCompoundType(0, sizeof(Record), 0);
    QMXLaddField(type, "id", offsetof(Record, id), QMXL_INT32);
    QMXLaddField(type, "value", offsetof(Record, value), QMXL_FLOAT64);
    QMXLaddArray(type, "position", offsetof(Record, position), QMXL_FLOAT32, 2);
    return type;
}

std::vector<Record> records(int n, int from = 0) {
    std::vector<Record> out(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        const int k = from + i;
        out[static_cast<size_t>(i)] = {k, k * 1.5, {float(k), -float(k)}};
    }
    return out;
}

bool sameRecords(const std::vector<Record>& a, const std::vector<Record>& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].id != b[i].id || a[i].value != b[i].value ||
            a[i].position[0] != b[i].position[0] || a[i].position[1] != b[i].position[1])
            return false;
    return true;
}

class RangeAppend : public ContainerTest {
protected:
    void makeDoubles(const char* name, long long n, int compression = 0) {
        const auto v = counting(n);
        ASSERT_OK(
            QMXLcreateTypedDataset(file, "/g", name, compression, 0, 0, QMXL_FLOAT64, n, v.data()));
    }
    std::vector<double> readAll(const char* name) {
        long long count = -1;
        int type = -1;
        EXPECT_OK(QMXLgetDatasetInfo(file, "/g", name, &count, &type));
        std::vector<double> back(static_cast<size_t>(std::max(0LL, count)));
        EXPECT_OK(QMXLreadTypedDataset(file, "/g", name, QMXL_FLOAT64, back.data()));
        return back;
    }
    std::vector<double> range(const char* name, long long first, long long count) {
        std::vector<double> back(static_cast<size_t>(count), -1.0);
        EXPECT_OK(
            QMXLreadTypedDatasetRange(file, "/g", name, QMXL_FLOAT64, first, count, back.data()));
        return back;
    }
    int layoutOf(const char* name, long long* chunk = nullptr) {
        int layout = -1;
        long long elements = -1;
        EXPECT_OK(QMXLgetDatasetLayout(file, "/g", name, &layout, &elements));
        if (chunk)
            *chunk = elements;
        return layout;
    }
};

}  // namespace

// ---- Range reads ----------------------------------------------------------------------------

TEST_F(RangeAppend, RangesOfALargeItemMatchTheWholeReadWhereverTheyFall) {
    makeDoubles("d", kLarge);
    const long long last = kLarge - kLarge % kPerSlice;  // first element of the partial slice
    const std::pair<long long, long long> ranges[] = {
        {0, 10},                             // first slice
        {5 * kPerSlice + 3, 100},            // middle slice
        {kLarge - 7, 7},                     // end of the last, partial slice
        {kPerSlice - 5, 10},                 // across one boundary
        {kPerSlice - 1, 2 * kPerSlice + 2},  // across three slices
        {last - 1, 2},                       // into the partial slice
        {0, kLarge},                         // everything
    };
    for (const auto& [first, count] : ranges)
        EXPECT_EQ(range("d", first, count), counting(count, first)) << first << "+" << count;
}

TEST_F(RangeAppend, RangesConvertAsWholeReadsDo) {
    makeDoubles("big", kLarge);
    std::vector<std::int32_t> ints(50, -1);
    ASSERT_OK(QMXLreadTypedDatasetRange(file, "/g", "big", QMXL_INT32, 123456, 50, ints.data()));
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(ints[static_cast<size_t>(i)], 123456 + i);
    std::vector<float> floats(3, -1.0f);
    ASSERT_OK(
        QMXLreadTypedDatasetRange(file, "/g", "big", QMXL_FLOAT32, kLarge - 3, 3, floats.data()));
    EXPECT_EQ(floats, (std::vector<float>{299997.0f, 299998.0f, 299999.0f}));
    // As stored: the native form of the stored type.
    std::vector<double> stored(4, -1.0);
    ASSERT_OK(QMXLreadTypedDatasetRange(file, "/g", "big", QMXL_AS_STORED, 10, 4, stored.data()));
    EXPECT_EQ(stored, counting(4, 10));

    // A small item (one checksum over all of it) and a stored type narrower than the read.
    const std::vector<std::int16_t> small = {1, -2, 3, -4, 5};
    ASSERT_EQ(QMXLcreateTypedDataset(file, "/g", "small", 0, 0, 0, QMXL_INT16, 5, small.data()), 1);
    std::vector<double> wide(3, 0.0);
    ASSERT_OK(QMXLreadTypedDatasetRange(file, "/g", "small", QMXL_FLOAT64, 1, 3, wide.data()));
    EXPECT_EQ(wide, (std::vector<double>{-2, 3, -4}));
}

TEST_F(RangeAppend, RecordRangesMatchMembersByName) {
    const int type = recordType();
    const auto all = records(200000);  // 3.2 MB: large
    ASSERT_OK(QMXLcreateObjectDataset(file, "/g", "r", 0, 0, 0, type, 0, 200000, all.data()));
    for (const auto& [first, count] : {std::pair<int, int>{0, 3}, {4090, 20}, {199990, 10}}) {
        std::vector<Record> back(static_cast<size_t>(count));
        ASSERT_OK(QMXLreadObjectDatasetRange(file, "/g", "r", type, first, count, back.data()));
        EXPECT_TRUE(sameRecords(back, records(count, first))) << first;
    }
    // A record type with only some members, in another order, fills only those.
    struct Part {
        double value;
        std::int32_t id;
    };
    const int part = QMXLcreateCompoundType(0, sizeof(Part), 0);
    QMXLaddField(part, "value", offsetof(Part, value), QMXL_FLOAT64);
    QMXLaddField(part, "id", offsetof(Part, id), QMXL_INT32);
    std::vector<Part> parts(2);
    ASSERT_OK(QMXLreadObjectDatasetRange(file, "/g", "r", part, 7, 2, parts.data()));
    EXPECT_EQ(parts[1].id, 8);
    EXPECT_EQ(parts[1].value, 12.0);
    QMXLcloseObject(part);
    QMXLcloseObject(type);
}

TEST_F(RangeAppend, EmptyRangesReadNothingEvenAtTheEnd) {
    makeDoubles("d", 10);
    double untouched = 42.0;
    EXPECT_OK(QMXLreadTypedDatasetRange(file, "/g", "d", QMXL_FLOAT64, 10, 0, &untouched));
    EXPECT_OK(QMXLreadTypedDatasetRange(file, "/g", "d", QMXL_FLOAT64, 0, 0, nullptr));
    EXPECT_EQ(untouched, 42.0);
}

TEST_F(RangeAppend, RangesOutsideTheItemFailNamingRangeAndCountWithTheBufferZeroed) {
    makeDoubles("d", 100);
    struct Case {
        long long first, count;
    };
    for (const Case c : {Case{-1, 2}, Case{99, 2}, Case{101, 0}, Case{0, 101}, Case{50, -1}}) {
        std::vector<double> back(static_cast<size_t>(std::max(0LL, c.count)), 7.0);
        EXPECT_EQ(
            QMXLreadTypedDatasetRange(file, "/g", "d", QMXL_FLOAT64, c.first, c.count, back.data()),
            -1);
        const std::string message = lastError();
        EXPECT_NE(message.find("/g/d"), std::string::npos) << message;
        EXPECT_NE(message.find("[" + std::to_string(c.first) + ", "), std::string::npos) << message;
        EXPECT_NE(message.find("100 elements"), std::string::npos) << message;
        for (double x : back)
            EXPECT_EQ(x, 0.0) << message;
    }
    double one = 0;
    EXPECT_EQ(QMXLreadTypedDatasetRange(file, "/g", "d", QMXL_FLOAT64, 0, 1, nullptr), -1);
    EXPECT_EQ(QMXLreadTypedDatasetRange(file, "/g", "missing", QMXL_FLOAT64, 0, 1, &one), -1);
    EXPECT_EQ(QMXLgetLastFailureKind(), QMXL_FAILED_MISSING);
}

TEST_F(RangeAppend, RangesOfAnotherKindOfDatasetFail) {
    const int type = recordType();
    const auto r = records(3);
    ASSERT_EQ(QMXLcreateObjectDataset(file, "/g", "r", 0, 0, 0, type, 0, 3, r.data()), 1);
    ASSERT_EQ(QMXLcreateCompressedOpaqueData(file, "/g", "blob", 0, 0, 4, "abcd"), 1);
    makeDoubles("d", 3);
    double x = 0;
    EXPECT_EQ(QMXLreadTypedDatasetRange(file, "/g", "r", QMXL_FLOAT64, 0, 1, &x), -1);
    EXPECT_EQ(QMXLgetLastFailureKind(), QMXL_FAILED_OTHER_KIND);
    EXPECT_EQ(QMXLreadTypedDatasetRange(file, "/g", "blob", QMXL_FLOAT64, 0, 1, &x), -1);
    Record rec{};
    EXPECT_EQ(QMXLreadObjectDatasetRange(file, "/g", "d", type, 0, 1, &rec), -1);
    EXPECT_EQ(QMXLgetLastFailureKind(), QMXL_FAILED_OTHER_KIND);
    EXPECT_EQ(QMXLreadObjectDatasetRange(file, "/g", "r", file, 0, 1, &rec), -1)
        << "a file handle is no record type";
    QMXLcloseObject(type);
}

// ---- Appends --------------------------------------------------------------------------------

// Chunks are stored whole: an item's chunks are sized for what it holds after its first
// append, from 8 KiB up to 64 KiB, so that many small appended items stay small on disk.
TEST_F(RangeAppend, AppendedItemsGetChunksSizedForThem) {
    // A hundred short series, each appended to once, stay a few KiB each.
    for (int i = 0; i < 100; ++i) {
        const std::string name = "s" + std::to_string(i);
        makeDoubles(name.c_str(), 4);
        const auto more = counting(4, 4);
        ASSERT_OK(QMXLappendTypedDataset(file, "/g", name.c_str(), QMXL_FLOAT64, 4, more.data()));
    }
    reopen();
    EXPECT_EQ(readAll("s99"), counting(8));
    EXPECT_LT(readFile(path).size(), size_t{2} << 20);  // 64 KiB chunks made 6.5 MB of them

    struct Case {
        const char* name;
        long long stored, appended, chunk;
    } cases[] = {{"tiny", 3, 2, 1024},      {"under8", 500, 523, 1024},
                 {"over8", 500, 525, 2048}, {"mid", 1000, 3000, 4096},
                 {"big", 100, 10000, 8192}, {"large", kLarge, 10, 8192}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        makeDoubles(c.name, c.stored);
        const auto more = counting(c.appended, c.stored);
        ASSERT_OK(
            QMXLappendTypedDataset(file, "/g", c.name, QMXL_FLOAT64, c.appended, more.data()));
        long long chunk = 0;
        EXPECT_EQ(layoutOf(c.name, &chunk), QMXL_LAYOUT_EXTENDIBLE);
        EXPECT_EQ(chunk, c.chunk);
        EXPECT_EQ(readAll(c.name), counting(c.stored + c.appended));
    }
    // Four-byte elements: 8 KiB is 2,048 of them.
    const std::int32_t values[] = {1, 2, 3, 4, 5};
    ASSERT_EQ(QMXLcreateTypedDataset(file, "/g", "ints", 0, 0, 0, QMXL_INT32, 3, values), 1);
    ASSERT_OK(QMXLappendTypedDataset(file, "/g", "ints", QMXL_INT32, 2, values + 3));
    long long chunk = 0;
    EXPECT_EQ(layoutOf("ints", &chunk), QMXL_LAYOUT_EXTENDIBLE);
    EXPECT_EQ(chunk, 2048);
}

TEST_F(RangeAppend, ManyAppendsReadBackAsTheirConcatenation) {
    makeDoubles("t", 5);  // compact to begin with
    EXPECT_EQ(layoutOf("t"), QMXL_LAYOUT_COMPACT);
    std::vector<double> expected = counting(5);
    for (int k = 0; k < 60; ++k) {
        const long long n = 997 + k * 13;  // slices end inside appends and between them
        const auto more = counting(n, static_cast<long long>(expected.size()));
        ASSERT_OK(QMXLappendTypedDataset(file, "/g", "t", QMXL_FLOAT64, n, more.data()));
        expected.insert(expected.end(), more.begin(), more.end());
    }
    // 5 + 997 doubles when it moved: the smallest chunks, 8 KiB, that far more appends fill.
    long long chunk = 0;
    EXPECT_EQ(layoutOf("t", &chunk), QMXL_LAYOUT_EXTENDIBLE);
    EXPECT_EQ(chunk, 1024);
    EXPECT_EQ(readAll("t"), expected);
    reopen(true);
    EXPECT_EQ(readAll("t"), expected);
    const long long n = static_cast<long long>(expected.size());
    EXPECT_EQ(range("t", n - 5000, 5000), counting(5000, n - 5000));
    EXPECT_EQ(range("t", kPerSlice - 2, 4), counting(4, kPerSlice - 2));
    double x = 0;
    EXPECT_EQ(QMXLappendTypedDataset(file, "/g", "t", QMXL_FLOAT64, 1, &x), -1) << "read-only file";
}

// Every append that adds slices gives its item a longer checksum table. HDF5 forgets freed
// room when the file closes, so a table replaced after the new chunks were placed stayed
// unused in the file, a table's worth per append.
TEST_F(RangeAppend, AppendsInSessionsOfTheirOwnLeaveNoOldTablesBehind) {
    makeDoubles("t", 3000);
    constexpr int kAppends = 200;
    for (int k = 0; k < kAppends; ++k) {
        reopen();
        const auto more = counting(3000, 3000LL * (k + 1));
        ASSERT_OK(QMXLappendTypedDataset(file, "/g", "t", QMXL_FLOAT64, 3000, more.data()));
    }
    reopen(true);
    EXPECT_EQ(range("t", 3000LL * kAppends, 3000), counting(3000, 3000LL * kAppends));
    close();
    // 4,824,000 bytes of doubles: 205 KB more in the file while every replaced table stayed
    // behind, 60 KB more (headers, chunk index) without them.
    const auto data = static_cast<std::uintmax_t>(3000LL * (kAppends + 1) * sizeof(double));
    const std::uintmax_t size = std::filesystem::file_size(path);
    EXPECT_LT(size, data + data / 50) << "file of " << size << " bytes for " << data;
}

TEST_F(RangeAppend, AppendsConvertTheirElementsAndKeepTheAttributes) {
    makeDoubles("t", kLarge);
    int handle = QMXLopenDataset(file, "/g/t");
    ASSERT_GT(handle, 0);
    const int unit = 7;
    ASSERT_EQ(QMXLcreateAttribute(handle, "Unit", &unit), 1);
    ASSERT_EQ(QMXLsetStringAttribute(handle, "Label", "pressure"), 1);
    QMXLcloseObject(handle);

    const std::vector<std::int32_t> ints = {-1, -2, -3};
    ASSERT_OK(QMXLappendTypedDataset(file, "/g", "t", QMXL_INT32, 3, ints.data()));
    EXPECT_EQ(QMXLappendTypedDataset(file, "/g", "t", QMXL_FLOAT64, 0, nullptr), 1)
        << "nothing to append";
    auto expected = counting(kLarge);
    expected.insert(expected.end(), {-1.0, -2.0, -3.0});
    EXPECT_EQ(readAll("t"), expected);

    handle = QMXLopenDataset(file, "/g/t");
    int back = 0;
    EXPECT_OK(QMXLreadAttribute(handle, "Unit", &back));
    EXPECT_EQ(back, 7);
    char* label = nullptr;
    ASSERT_OK(QMXLgetStringAttribute(handle, "Label", &label));
    EXPECT_STREQ(label, "pressure");
    free(label);
    QMXLcloseObject(handle);
}

TEST_F(RangeAppend, RecordAppendsRoundTripAndNeedEveryStoredMember) {
    const int type = recordType();
    const auto first = records(10);
    ASSERT_EQ(QMXLcreateObjectDataset(file, "/g", "r", 0, 0, 0, type, 1, 10, first.data()), 1);
    const auto more = records(5000, 10);
    ASSERT_OK(QMXLappendObjectDataset(file, "/g", "r", type, 5000, more.data()));
    std::vector<Record> back(5010);
    ASSERT_OK(QMXLreadObjectDataset(file, "/g", "r", type, back.data()));
    EXPECT_TRUE(sameRecords(back, records(5010)));

    // Records without "position" would leave it undefined in the stored ones.
    struct Part {
        std::int32_t id;
        double value;
    };
    const int part = QMXLcreateCompoundType(0, sizeof(Part), 0);
    QMXLaddField(part, "id", offsetof(Part, id), QMXL_INT32);
    QMXLaddField(part, "value", offsetof(Part, value), QMXL_FLOAT64);
    const Part p{1, 2.0};
    EXPECT_EQ(QMXLappendObjectDataset(file, "/g", "r", part, 1, &p), -1);
    EXPECT_NE(lastError().find("'position'"), std::string::npos) << lastError();
    // A typed item is not one of records, and records are not typed elements.
    makeDoubles("d", 3);
    EXPECT_EQ(QMXLappendObjectDataset(file, "/g", "d", type, 1, more.data()), -1);
    double x = 1;
    EXPECT_EQ(QMXLappendTypedDataset(file, "/g", "r", QMXL_FLOAT64, 1, &x), -1);
    EXPECT_EQ(QMXLgetLastFailureKind(), QMXL_FAILED_OTHER_KIND);
    QMXLcloseObject(part);
    QMXLcloseObject(type);
}

TEST_F(RangeAppend, AppendsToOtherKindsAndBadArgumentsChangeNothing) {
    ASSERT_EQ(QMXLcreateCompressedOpaqueData(file, "/g", "blob", 0, 0, 4, "abcd"), 1);
    ASSERT_EQ(QMXLcreateCompressedStringDataset(file, "/g", "text", 0, 0, 3, "xyz"), 1);
    const char more[2] = {'e', 'f'};
    EXPECT_EQ(QMXLappendTypedDataset(file, "/g", "blob", QMXL_UINT8, 2, more), -1);
    EXPECT_EQ(QMXLappendTypedDataset(file, "/g", "text", QMXL_UINT8, 2, more), -1);
    EXPECT_EQ(QMXLappendTypedDataset(file, "/g", "none", QMXL_UINT8, 2, more), -1);
    EXPECT_EQ(QMXLgetLastFailureKind(), QMXL_FAILED_MISSING);
    makeDoubles("d", 3);
    EXPECT_EQ(QMXLappendTypedDataset(file, "/g", "d", QMXL_FLOAT64, -1, more), -1);
    EXPECT_EQ(QMXLappendTypedDataset(file, "/g", "d", QMXL_FLOAT64, 2, nullptr), -1);
    EXPECT_EQ(QMXLappendTypedDataset(file, "/g", "d", 99, 1, more), -1) << "unknown type code";
    EXPECT_EQ(layoutOf("d"), QMXL_LAYOUT_COMPACT) << "no failed append moved the item";
    EXPECT_EQ(readAll("d"), counting(3));
    char blob[4];
    ASSERT_EQ(QMXLreadOpaqueData(file, "/g", "blob", blob), 1);
    EXPECT_EQ(std::string(blob, 4), "abcd");
}

TEST_F(RangeAppend, CompressedItemsStayCompressedWithTheirCompressor) {
    makeDoubles("z", 100000, 6);
    EXPECT_EQ(layoutOf("z"), QMXL_LAYOUT_CHUNKED);
    const auto more = counting(30000, 100000);
    ASSERT_OK(QMXLappendTypedDataset(file, "/g", "z", QMXL_FLOAT64, 30000, more.data()));
    EXPECT_EQ(layoutOf("z"), QMXL_LAYOUT_EXTENDIBLE);
    int compressor = -5, level = -5;
    ASSERT_EQ(QMXLgetDatasetCompression(file, "/g", "z", &compressor, &level), 1);
    EXPECT_EQ(compressor, QMXL_DEFLATE);
    EXPECT_EQ(level, 6);
    EXPECT_EQ(readAll("z"), counting(130000));

    if (QMXLcompressorAvailable(QMXL_BLOSC_ZSTD) == 1) {
        int previous = 0;
        ASSERT_EQ(QMXLsetThreadCompressor(QMXL_BLOSC_ZSTD, &previous), 1);
        makeDoubles("b", 100000, 5);
        // The item keeps its own compressor whatever the thread chooses later.
        QMXLsetThreadCompressor(QMXL_DEFLATE, nullptr);
        ASSERT_OK(QMXLappendTypedDataset(file, "/g", "b", QMXL_FLOAT64, 30000, more.data()));
        QMXLsetThreadCompressor(previous, nullptr);
        ASSERT_EQ(QMXLgetDatasetCompression(file, "/g", "b", &compressor, &level), 1);
        EXPECT_EQ(compressor, QMXL_BLOSC_ZSTD);
        EXPECT_EQ(level, 5);
        EXPECT_EQ(readAll("b"), counting(130000));
    }

    // An uncompressed item gets uncompressed chunks.
    makeDoubles("plain", kLarge);
    EXPECT_EQ(layoutOf("plain"), QMXL_LAYOUT_CONTIGUOUS);
    ASSERT_EQ(QMXLappendTypedDataset(file, "/g", "plain", QMXL_FLOAT64, 1, more.data()), 1);
    ASSERT_EQ(QMXLgetDatasetCompression(file, "/g", "plain", &compressor, &level), 1);
    EXPECT_EQ(compressor, QMXL_COMPRESSOR_FOLLOW);
    EXPECT_EQ(level, 0);
}

// ---- Truncation -----------------------------------------------------------------------------

TEST_F(RangeAppend, TruncationUndoesAppendsAndLaterAppendsContinue) {
    makeDoubles("t", 100);
    const auto more = counting(40000, 100);
    ASSERT_EQ(QMXLappendTypedDataset(file, "/g", "t", QMXL_FLOAT64, 40000, more.data()), 1);
    for (const long long to : {30000LL, 3 * kPerSlice, 100LL, 0LL}) {
        ASSERT_EQ(QMXLtruncateDataset(file, "/g", "t", to), 1) << to << lastError();
        EXPECT_EQ(readAll("t"), counting(to)) << to;
        EXPECT_EQ(layoutOf("t"), QMXL_LAYOUT_EXTENDIBLE);
    }
    ASSERT_EQ(QMXLappendTypedDataset(file, "/g", "t", QMXL_FLOAT64, 40000, more.data()), 1);
    EXPECT_EQ(range("t", 39990, 10), counting(10, 39990 + 100));

    // Not appended to: rewritten shorter.
    makeDoubles("fixed", kLarge);
    ASSERT_OK(QMXLtruncateDataset(file, "/g", "fixed", 12345));
    EXPECT_EQ(readAll("fixed"), counting(12345));
    EXPECT_EQ(QMXLtruncateDataset(file, "/g", "fixed", 12345), 1) << "same length: nothing to do";

    EXPECT_EQ(QMXLtruncateDataset(file, "/g", "fixed", 12346), -1);
    EXPECT_NE(lastError().find("12345 elements"), std::string::npos) << lastError();
    EXPECT_EQ(QMXLtruncateDataset(file, "/g", "fixed", -1), -1);
    EXPECT_EQ(QMXLtruncateDataset(file, "/g", "none", 0), -1);
    EXPECT_EQ(readAll("fixed"), counting(12345));
}

// Range reads that follow each other in a session skip looking up what an earlier one found
// (the item, its verified slice checksums); appends and truncations in between must not leave
// them reading what was stored before. A truncation followed by an append of other values
// brings back the old element count with other contents.
TEST_F(RangeAppend, RangesBetweenAppendsAndTruncationsReadWhatIsStoredNow) {
    makeDoubles("t", kLarge);
    EXPECT_EQ(range("t", kLarge - 10, 10), counting(10, kLarge - 10));
    const auto more = counting(5000, kLarge);
    ASSERT_OK(QMXLappendTypedDataset(file, "/g", "t", QMXL_FLOAT64, 5000, more.data()));
    EXPECT_EQ(range("t", kLarge - 10, 20), counting(20, kLarge - 10));
    EXPECT_EQ(range("t", kLarge + 4990, 10), counting(10, kLarge + 4990));
    ASSERT_OK(QMXLtruncateDataset(file, "/g", "t", kLarge));
    EXPECT_EQ(range("t", kLarge - 10, 10), counting(10, kLarge - 10));
    std::vector<double> beyond(10, 1.0);
    EXPECT_LT(QMXLreadTypedDatasetRange(file, "/g", "t", QMXL_FLOAT64, kLarge, 10, beyond.data()),
              0);
    ASSERT_OK(QMXLtruncateDataset(file, "/g", "t", kLarge - 1000));
    const auto other = counting(1000, 7000000);
    ASSERT_OK(QMXLappendTypedDataset(file, "/g", "t", QMXL_FLOAT64, 1000, other.data()));
    EXPECT_EQ(range("t", kLarge - 1000, 1000), other) << "same count, other values";
    EXPECT_EQ(range("t", kLarge - 1010, 10), counting(10, kLarge - 1010));
    reopen(true);
    EXPECT_EQ(range("t", kLarge - 1000, 1000), other);
}

// A size query keeps its item open for the call after it; an append takes it when it names
// the same item, and owns it while it moves and grows the item, so no later call finds it stale.
TEST_F(RangeAppend, AnAppendTakesTheItemASizeQueryKeptAndOnlyThatOne) {
    makeDoubles("a", 3);
    makeDoubles("b", 2);
    long long count = -1;
    int type = -1;
    const auto more = counting(2, 3);
    ASSERT_OK(QMXLgetDatasetInfo(file, "/g", "a", &count, &type));
    ASSERT_OK(QMXLappendTypedDataset(file, "/g", "b", QMXL_FLOAT64, 2, more.data()));
    for (int round = 0; round < 3; ++round) {  // the first append moves "a" to a new layout
        ASSERT_OK(QMXLgetDatasetInfo(file, "/g", "a", &count, &type));
        const auto next = counting(2, count);
        ASSERT_OK(QMXLappendTypedDataset(file, "/g", "a", QMXL_FLOAT64, 2, next.data()));
        EXPECT_EQ(range("a", count, 2), next) << round;
    }
    EXPECT_EQ(readAll("a"), counting(9));
    EXPECT_EQ(readAll("b"), (std::vector<double>{0, 1, 3, 4}));
    reopen();
    EXPECT_EQ(readAll("a"), counting(9));
    EXPECT_OK(QMXLverifyObject(file, "/g"));
}

TEST_F(RangeAppend, LayoutOfEveryKind) {
    makeDoubles("small", 10);
    makeDoubles("large", kLarge);
    makeDoubles("packed", kLarge, 4);
    long long chunk = -1;
    EXPECT_EQ(layoutOf("small", &chunk), QMXL_LAYOUT_COMPACT);
    EXPECT_EQ(chunk, 0);
    EXPECT_EQ(layoutOf("large", &chunk), QMXL_LAYOUT_CONTIGUOUS);
    EXPECT_EQ(chunk, 0);
    EXPECT_EQ(layoutOf("packed", &chunk), QMXL_LAYOUT_CHUNKED);
    EXPECT_EQ(chunk, 131072);  // 1 MiB of doubles
    int layout = 0;
    EXPECT_EQ(QMXLgetDatasetLayout(file, "/g", "none", &layout, &chunk), -1);
    EXPECT_EQ(QMXLgetDatasetLayout(file, "/g", "small", nullptr, &chunk), -1);
}

// A process without the Blosc plugin: reading an appended Blosc item, whole or a range, and
// appending to it name the plugin instead of HDF5's generic filter failure.
TEST_F(RangeAppend, AMissingPluginIsNamedForAppendedItems) {
    if (QMXLcompressorAvailable(QMXL_BLOSC_LZ4) != 1)
        GTEST_SKIP() << "the Blosc plugin is not installed";
    int previous = 0;
    ASSERT_EQ(QMXLsetThreadCompressor(QMXL_BLOSC_LZ4, &previous), 1);
    makeDoubles("b", 20000, 5);
    QMXLsetThreadCompressor(previous, nullptr);
    const auto more = counting(20000, 20000);
    ASSERT_EQ(QMXLappendTypedDataset(file, "/g", "b", QMXL_FLOAT64, 20000, more.data()), 1);
    QMXLcloseAllFileHandlesForFile(file);
    const std::string name = path;
    const int status = runInChild(
        [&] {
            H5Zunregister(32001);
            H5PLset_loading_state(0);
            const int f = QMXLopenFileReadOnly(name.c_str());
            if (f <= 0)
                return 64;
            const std::string needs =
                "the item needs the HDF5 filter plugin Blosc (id 32001), which is not installed";
            int failures = 0;
            std::vector<double> back(40000, 1.0);
            if (QMXLreadTypedDatasetRange(f, "/g", "b", QMXL_FLOAT64, 30000, 10, back.data()) !=
                    -1 ||
                lastError().find(needs) == std::string::npos || back[0] != 0.0)
                failures |= 1;
            if (QMXLreadTypedDataset(f, "/g", "b", QMXL_FLOAT64, back.data()) != -1 ||
                lastError().find(needs) == std::string::npos)
                failures |= 2;
            QMXLcloseAllFileHandlesForFile(f);
            // An append reads the last chunk back: it is refused, naming the plugin, and the
            // item keeps its count.
            const int w = QMXLopenFile(name.c_str());
            long long count = 0;
            int type = 0;
            if (w <= 0 ||
                QMXLappendTypedDataset(w, "/g", "b", QMXL_FLOAT64, 10, more.data()) != -1 ||
                lastError().find(needs) == std::string::npos ||
                QMXLgetDatasetInfo(w, "/g", "b", &count, &type) != 1 || count != 40000)
                failures |= 4;
            return failures;
        },
        ChildEnd::QuickExit);
    EXPECT_EQ(status, 0);
}
