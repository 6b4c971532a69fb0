// Reads and writes that convert between the stored type and the caller's. The library moves and
// checksums the bytes itself, slice by slice, so what arrives must equal HDF5's own conversion.
#include "TestFiles.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

using namespace Quellmar;
using namespace Quellmar::testing;

namespace {

struct Padded {
    std::int32_t id;  // 4 bytes of padding follow
    double value;
    std::uint8_t kind;  // 7 bytes of padding follow
};

// Other order, a member the stored records lack, and no `kind`.
struct Reordered {
    double value;
    std::int64_t marker;
    std::int32_t id;
};

struct Widened {
    std::int64_t id;
    float value;
};

// Members next to each other in both layouts: stored packed they move as one run of 19 bytes.
struct Dense {
    std::int32_t a, b;
    double t;
    std::uint16_t f;
    std::uint8_t k;
};

// More records than fit in one slice of the conversion buffer.
constexpr std::size_t kRecords = 100003;

std::vector<Padded> makeRecords() {
    std::vector<Padded> records(kRecords);
    std::memset(records.data(), 0, records.size() * sizeof(Padded));
    for (std::size_t i = 0; i < kRecords; ++i)
        records[i] = {static_cast<std::int32_t>(i * 2654435761u), static_cast<double>(i) * -0.37,
                      static_cast<std::uint8_t>(i * 7)};
    return records;
}

struct TypeCloser {
    void operator()(hid_t* id) const {
        H5Tclose(*id);
        delete id;
    }
};
using RawType = std::unique_ptr<hid_t, TypeCloser>;

// The same compound layout as a raw HDF5 type, for reading with HDF5 alone.
struct Field {
    const char* name;
    std::size_t offset;
    hid_t rawType;
    int qmxType;
};

RawType rawCompound(std::size_t size, const std::vector<Field>& fields) {
    RawType type(new hid_t(H5Tcreate(H5T_COMPOUND, size)));
    for (const Field& f : fields)
        EXPECT_GE(H5Tinsert(*type, f.name, f.offset, f.rawType), 0);
    return type;
}

int qmxCompound(std::size_t size, const std::vector<Field>& fields) {
    const int type = QMXLcreateCompoundType(0, size, 0);
    EXPECT_GT(type, 0) << lastError();
    for (const Field& f : fields)
        EXPECT_OK(QMXLaddField(type, f.name, f.offset, f.qmxType));
    return type;
}

const std::vector<Field> kPaddedFields = {
    {"id", offsetof(Padded, id), H5T_NATIVE_INT32, QMXL_INT32},
    {"value", offsetof(Padded, value), H5T_NATIVE_DOUBLE, QMXL_FLOAT64},
    {"kind", offsetof(Padded, kind), H5T_NATIVE_UINT8, QMXL_UINT8}};
const std::vector<Field> kReorderedFields = {
    {"value", offsetof(Reordered, value), H5T_NATIVE_DOUBLE, QMXL_FLOAT64},
    {"marker", offsetof(Reordered, marker), H5T_NATIVE_INT64, QMXL_INT64},
    {"id", offsetof(Reordered, id), H5T_NATIVE_INT32, QMXL_INT32}};
const std::vector<Field> kWidenedFields = {
    {"id", offsetof(Widened, id), H5T_NATIVE_INT64, QMXL_INT64},
    {"value", offsetof(Widened, value), H5T_NATIVE_FLOAT, QMXL_FLOAT32}};

const std::vector<Field> kDenseFields = {{"a", offsetof(Dense, a), H5T_NATIVE_INT32, QMXL_INT32},
                                         {"b", offsetof(Dense, b), H5T_NATIVE_INT32, QMXL_INT32},
                                         {"t", offsetof(Dense, t), H5T_NATIVE_DOUBLE, QMXL_FLOAT64},
                                         {"f", offsetof(Dense, f), H5T_NATIVE_UINT16, QMXL_UINT16},
                                         {"k", offsetof(Dense, k), H5T_NATIVE_UINT8, QMXL_UINT8}};

class Conversions : public ContainerTest {
protected:
    // Reads the whole dataset with HDF5 alone, converting into `memoryType`.
    void rawRead(const char* dataset, hid_t memoryType, void* out) {
        H5Id f(H5Fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT));
        H5Id d(H5Dopen2(f.id, dataset, H5P_DEFAULT));
        EXPECT_GE(H5Dread(d.id, memoryType, H5S_ALL, H5S_ALL, H5P_DEFAULT, out), 0) << dataset;
    }

    // The stored bytes of a dataset of the closed file, in the stored type.
    std::vector<unsigned char> storedBytes(const char* dataset) {
        H5Id f(H5Fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT));
        H5Id d(H5Dopen2(f.id, dataset, H5P_DEFAULT));
        H5Id type(H5Dget_type(d.id));
        H5Id space(H5Dget_space(d.id));
        std::vector<unsigned char> bytes(
            static_cast<std::size_t>(H5Sget_simple_extent_npoints(space.id)) *
            H5Tget_size(type.id));
        EXPECT_GE(H5Dread(d.id, type.id, H5S_ALL, H5S_ALL, H5P_DEFAULT, bytes.data()), 0);
        return bytes;
    }

    // Writes kRecords padded records stored packed, under /g/r.
    void writePackedRecords(const std::vector<Padded>& records) {
        const int type = qmxCompound(sizeof(Padded), kPaddedFields);
        ASSERT_OK(QMXLcreateObjectDataset(file, "/g", "r", 0, 0, 0, type, 1,
                                          static_cast<long long>(records.size()), records.data()));
        QMXLcloseObject(type);
    }
};

}  // namespace

// Packed records read into padded, reordered, partial and widened layouts: each equals what
// HDF5's own conversion gives, and members the stored records lack keep the caller's bytes.
TEST_F(Conversions, RecordsReadAsHdf5ConvertsThem) {
    const std::vector<Padded> records = makeRecords();
    writePackedRecords(records);
    reopen(true);

    std::vector<Padded> same(kRecords);
    const int sameType = qmxCompound(sizeof(Padded), kPaddedFields);
    ASSERT_OK(QMXLreadObjectDataset(file, "/g", "r", sameType, same.data()));
    QMXLcloseObject(sameType);

    std::vector<Reordered> reordered(kRecords, Reordered{1.5, 0x5A5A5A5A5A5A5A5A, 7});
    const int reorderedType = qmxCompound(sizeof(Reordered), kReorderedFields);
    ASSERT_OK(QMXLreadObjectDataset(file, "/g", "r", reorderedType, reordered.data()));
    QMXLcloseObject(reorderedType);

    std::vector<Widened> widened(kRecords);
    const int widenedType = qmxCompound(sizeof(Widened), kWidenedFields);
    ASSERT_OK(QMXLreadObjectDataset(file, "/g", "r", widenedType, widened.data()));
    QMXLcloseObject(widenedType);
    close();

    std::vector<Padded> rawSame(kRecords);
    std::vector<Reordered> rawReordered(kRecords, Reordered{1.5, 0x5A5A5A5A5A5A5A5A, 7});
    std::vector<Widened> rawWidened(kRecords);
    rawRead("/g/r", *rawCompound(sizeof(Padded), kPaddedFields), rawSame.data());
    rawRead("/g/r", *rawCompound(sizeof(Reordered), kReorderedFields), rawReordered.data());
    rawRead("/g/r", *rawCompound(sizeof(Widened), kWidenedFields), rawWidened.data());

    for (std::size_t i = 0; i < kRecords; ++i) {
        ASSERT_EQ(same[i].id, records[i].id) << i;
        ASSERT_EQ(same[i].value, records[i].value) << i;
        ASSERT_EQ(same[i].kind, records[i].kind) << i;
        ASSERT_EQ(rawSame[i].value, same[i].value) << i;
        ASSERT_EQ(rawSame[i].kind, same[i].kind) << i;
        ASSERT_EQ(reordered[i].id, rawReordered[i].id) << i;
        ASSERT_EQ(reordered[i].value, rawReordered[i].value) << i;
        ASSERT_EQ(reordered[i].marker, 0x5A5A5A5A5A5A5A5A) << i;
        ASSERT_EQ(rawReordered[i].marker, 0x5A5A5A5A5A5A5A5A) << i;
        ASSERT_EQ(widened[i].id, rawWidened[i].id) << i;
        ASSERT_EQ(widened[i].value, rawWidened[i].value) << i;
        ASSERT_EQ(widened[i].id, records[i].id) << i;
    }
}

// Records written from a padded layout are stored packed, padding left out, with the checksum
// of exactly those bytes; the same holds when the caller's layout lists members in another order.
TEST_F(Conversions, PackedRecordsStoreTheirBytesAndTheirChecksum) {
    std::vector<Padded> records = makeRecords();
    // Garbage in the padding must not reach the file.
    for (auto& r : records)
        std::memset(reinterpret_cast<unsigned char*>(&r) + 4, 0xEE, 4);
    writePackedRecords(records);
    std::vector<Reordered> other(kRecords);
    for (std::size_t i = 0; i < kRecords; ++i)
        other[i] = {records[i].value, -1, records[i].id};
    const int otherType = qmxCompound(sizeof(Reordered), kReorderedFields);
    ASSERT_OK(QMXLcreateObjectDataset(file, "/g", "o", 0, 0, 0, otherType, 1,
                                      static_cast<long long>(kRecords), other.data()));
    QMXLcloseObject(otherType);
    close();

    const std::vector<unsigned char> stored = storedBytes("/g/r");
    ASSERT_EQ(stored.size(), kRecords * 13);  // 4 + 8 + 1, no padding
    // New files: the CRC of the stored bytes continued over the path, a NUL and the type.
    expectItemSum("/g/r", stored.data(), stored.size());
    for (std::size_t i : {std::size_t{0}, kRecords / 2, kRecords - 1}) {
        const unsigned char* s = stored.data() + i * 13;
        std::int32_t id;
        double value;
        std::memcpy(&id, s, 4);
        std::memcpy(&value, s + 4, 8);
        EXPECT_EQ(id, records[i].id);
        EXPECT_EQ(value, records[i].value);
        EXPECT_EQ(s[12], records[i].kind);
    }
    const std::vector<unsigned char> storedOther = storedBytes("/g/o");
    expectItemSum("/g/o", storedOther.data(), storedOther.size());
    std::vector<Reordered> back(kRecords);
    rawRead("/g/o", *rawCompound(sizeof(Reordered), kReorderedFields), back.data());
    EXPECT_EQ(back[kRecords - 1].marker, -1);
    EXPECT_EQ(back[kRecords - 1].id, records[kRecords - 1].id);
}

// Records whose members lie back to back move as one run per record; every byte of every
// member must arrive, in both directions, and the stored form is the packed one.
TEST_F(Conversions, RecordsMovedAsOneRunRoundTrip) {
    std::vector<Dense> records(kRecords);
    for (std::size_t i = 0; i < kRecords; ++i)
        records[i] = {static_cast<std::int32_t>(i * 2654435761u), static_cast<std::int32_t>(~i),
                      i * 1.25, static_cast<std::uint16_t>(i * 40503u),
                      static_cast<std::uint8_t>(i * 13 + 1)};
    const int type = qmxCompound(sizeof(Dense), kDenseFields);
    ASSERT_OK(QMXLcreateObjectDataset(file, "/g", "d", 0, 0, 0, type, 1,
                                      static_cast<long long>(kRecords), records.data()));
    reopen(true);
    std::vector<Dense> back(kRecords);
    ASSERT_OK(QMXLreadObjectDataset(file, "/g", "d", type, back.data()));
    QMXLcloseObject(type);
    close();
    const std::vector<unsigned char> stored = storedBytes("/g/d");
    ASSERT_EQ(stored.size(), kRecords * 19);
    for (std::size_t i = 0; i < kRecords; ++i) {
        ASSERT_EQ(std::memcmp(&back[i], &records[i], 19), 0) << i;
        ASSERT_EQ(std::memcmp(stored.data() + i * 19, &records[i], 19), 0) << i;
    }
}

namespace {

// Large items convert on the checksum thread when a core is free and on the caller's otherwise;
// these tests take each way (kWays) in turn.
// Stored packed these take 3.25 MB: a large item, over three slices.
constexpr std::size_t kManyRecords = 250007;

std::vector<Padded> manyRecords() {
    std::vector<Padded> records(kManyRecords);
    std::memset(records.data(), 0xEE, records.size() * sizeof(Padded));  // garbage padding
    for (std::size_t i = 0; i < kManyRecords; ++i) {
        records[i].id = static_cast<std::int32_t>(i * 2654435761u);
        records[i].value = static_cast<double>(i) * 0.61;
        records[i].kind = static_cast<std::uint8_t>(i * 11);
    }
    return records;
}

}  // namespace

TEST_F(Conversions, LargeRecordsTakeEitherWayAlike) {
    const std::vector<Padded> records = manyRecords();
    for (auto way : kWays) {
        Way taken(way);
        const std::string name = "r" + std::to_string(static_cast<int>(way));
        const int type = qmxCompound(sizeof(Padded), kPaddedFields);
        ASSERT_OK(QMXLcreateObjectDataset(file, "/g", name.c_str(), 0, 0, 0, type, 1,
                                          static_cast<long long>(kManyRecords), records.data()));
        QMXLcloseObject(type);
        reopen(true);
        std::vector<Reordered> back(kManyRecords, Reordered{1.5, 0x5A5A5A5A5A5A5A5A, 7});
        const int reorderedType = qmxCompound(sizeof(Reordered), kReorderedFields);
        ASSERT_OK(QMXLreadObjectDataset(file, "/g", name.c_str(), reorderedType, back.data()));
        QMXLcloseObject(reorderedType);
        close();

        const std::string where = "/g/" + name;
        // Large: one checksum per slice of 16 KiB / 13 bytes = 1260 records.
        const std::vector<std::uint32_t> slices = storedSlices(path, where);
        const std::vector<unsigned char> stored = storedBytes(where.c_str());
        ASSERT_EQ(stored.size(), kManyRecords * 13);
        const std::size_t sliceBytes = 1260 * 13;
        ASSERT_EQ(slices.size(), 2 + (stored.size() + sliceBytes - 1) / sliceBytes);
        EXPECT_EQ(slices[0], 1260u);
        for (std::size_t k = 2, at = 0; k < slices.size(); ++k, at += sliceBytes)
            EXPECT_EQ(slices[k],
                      crc32c::Value(stored.data() + at, std::min(sliceBytes, stored.size() - at)))
                << k;
        std::vector<Reordered> raw(kManyRecords, Reordered{1.5, 0x5A5A5A5A5A5A5A5A, 7});
        rawRead(where.c_str(), *rawCompound(sizeof(Reordered), kReorderedFields), raw.data());
        for (std::size_t i = 0; i < kManyRecords; ++i) {
            ASSERT_EQ(back[i].value, raw[i].value) << i;
            ASSERT_EQ(back[i].marker, raw[i].marker) << i;
            ASSERT_EQ(back[i].id, raw[i].id) << i;
            ASSERT_EQ(back[i].marker, 0x5A5A5A5A5A5A5A5A)
                << i;  // a member the file lacks keeps its bytes
            ASSERT_EQ(back[i].id, records[i].id) << i;
            ASSERT_EQ(back[i].value, records[i].value) << i;
            ASSERT_EQ(std::memcmp(stored.data() + i * 13 + 12, &records[i].kind, 1), 0) << i;
        }
        file = QMXLopenFile(path.c_str());
        ASSERT_GT(file, 0) << lastError();
    }
}

// Damage in the last slice of packed records fails the whole read and leaves nothing, not even
// the members the stored records lack: below the checksum thread's size and above it, either way.
TEST_F(Conversions, DamageInALaterSliceLeavesNothing) {
    for (const std::vector<Padded>& records : {makeRecords(), manyRecords()}) {
        SCOPED_TRACE(records.size());
        writePackedRecords(records);
        close();
        std::string bytes = Quellmar::testing::readFile(path);
        std::string last(13, '\0');
        std::memcpy(last.data(), &records.back().id, 4);
        std::memcpy(last.data() + 4, &records.back().value, 8);
        last[12] = static_cast<char>(records.back().kind);
        const auto at = bytes.find(last);
        ASSERT_NE(at, std::string::npos);
        bytes[at + 6] = static_cast<char>(bytes[at + 6] ^ 0x01);
        Quellmar::testing::writeFile(path, bytes);

        file = QMXLopenFileReadOnly(path.c_str());
        ASSERT_GT(file, 0) << lastError();
        for (auto way : kWays) {
            Way taken(way);
            std::vector<Reordered> out(records.size(), Reordered{1.5, 0x5A5A5A5A5A5A5A5A, 7});
            const int type = qmxCompound(sizeof(Reordered), kReorderedFields);
            EXPECT_LT(QMXLreadObjectDataset(file, "/g", "r", type, out.data()), 0);
            QMXLcloseObject(type);
            EXPECT_ERROR("damaged");
            const auto* p = reinterpret_cast<const unsigned char*>(out.data());
            EXPECT_TRUE(std::all_of(p, p + out.size() * sizeof(Reordered),
                                    [](unsigned char c) { return c == 0; }));
        }
        // A fresh file for the next size.
        close();
        std::remove(path.c_str());
        file = QMXLcreateFile(path.c_str());
        ASSERT_GT(file, 0) << lastError();
    }
}
