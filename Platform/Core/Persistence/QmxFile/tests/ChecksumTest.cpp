// Checksums of data items: what is stored, and that damaged or missing ones are handled.
#include "TestFiles.h"

#include <cstddef>
#include <cstring>

using namespace Quellmar;
using namespace Quellmar::testing;

namespace {

constexpr const char* kAttribute = "QMZ_CRC32C";
constexpr const char* kMarker = "QMZ_CHECKSUMS";

struct Record {
    std::int32_t id;  // followed by 4 bytes of padding
    double value;
};

class Checksums : public ContainerTest {
protected:
    // Rewrites or removes the checksum attribute with HDF5 directly.
    void tamperWithAttribute(const std::string& dataset, hid_t type, hid_t space,
                             const void* value) {
        withHdf5([&](hid_t f) {
            ASSERT_GE(H5Adelete_by_name(f, dataset.c_str(), kAttribute, H5P_DEFAULT), 0);
            if (!value)
                return;
            H5Id a(H5Acreate_by_name(f, dataset.c_str(), kAttribute, type, space, H5P_DEFAULT,
                                     H5P_DEFAULT, H5P_DEFAULT));
            ASSERT_GE(H5Awrite(a.id, type, value), 0);
        });
    }
};

int makeRecordType() {
    const int type = QMXLcreateCompoundType(0, sizeof(Record), 0);
    QMXLaddField(type, "id", offsetof(Record, id), QMXL_INT32);
    QMXLaddField(type, "value", offsetof(Record, value), QMXL_FLOAT64);
    return type;
}

}  // namespace

TEST_F(Checksums, EveryKindCarriesTheCrcOfItsStoredBytes) {
    const std::string small = pattern(100, 1), large = pattern(40000, 2), text = "some text";
    ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/g", "small", 0, 0, 100, small.data()));
    ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/g", "large", 0, 0, 40000, large.data()));
    ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/g", "deflated", 6, 1000, 40000, large.data()));
    ASSERT_OK(QMXLcreateCompressedStringDataset(file, "/g", "text", 0, 0, 9, text.data()));
    ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/g", "empty", 0, 0, 0, nullptr));
    const std::vector<std::int32_t> numbers = {1, -2, 3, 1 << 30};
    ASSERT_OK(
        QMXLcreateTypedDataset(file, "/g", "numbers", 0, 0, 0, QMXL_INT32, 4, numbers.data()));

    // Padding bytes must not make the checksum depend on the caller's stack garbage.
    Record records[2];
    std::memset(records, 0xEE, sizeof records);
    records[0].id = 7;
    records[0].value = 1.5;
    records[1].id = 8;
    records[1].value = -2.5;
    const int type = makeRecordType();
    ASSERT_OK(QMXLcreateObjectDataset(file, "/g", "padded", 0, 0, 0, type, 0, 2, records));
    ASSERT_OK(QMXLcreateObjectDataset(file, "/g", "packed", 0, 0, 0, type, 1, 2, records));
    QMXLcloseObject(type);

    close();  // the expected sums read the stored types from the closed file
    expectItemSum("/g/small", small.data(), small.size());
    expectItemSum("/g/large", large.data(), large.size());
    expectItemSum("/g/deflated", large.data(), large.size());
    expectItemSum("/g/text", text.data(), text.size());
    EXPECT_EQ(storedChecksum("/g/empty"), itemSum(path, 0, "/g/empty"));
    expectItemSum("/g/numbers", numbers.data(), 16);
    expectItemSum("/g/padded", records, sizeof records);
    // Packed: id then value, 12 bytes a record.
    std::string packed;
    for (const Record& r : records) {
        packed.append(reinterpret_cast<const char*>(&r.id), 4);
        packed.append(reinterpret_cast<const char*>(&r.value), 8);
    }
    expectItemSum("/g/packed", packed.data(), packed.size());
}

TEST_F(Checksums, DamagedRawDataFailsTheReadAndLeavesNoBytes) {
    const std::string small = pattern(200, 6), large = pattern(50000, 7), text = pattern(300, 8);
    std::vector<std::int32_t> numbers(5000);
    for (std::size_t i = 0; i < numbers.size(); ++i)
        numbers[i] = static_cast<std::int32_t>(i * 2654435761u);
    ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/g", "compact", 0, 0, 200, small.data()));
    ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/g", "contiguous", 0, 0, 50000, large.data()));
    ASSERT_OK(QMXLcreateCompressedStringDataset(file, "/g", "text", 0, 0, 300, text.data()));
    ASSERT_OK(
        QMXLcreateTypedDataset(file, "/g", "numbers", 0, 0, 0, QMXL_INT32, 5000, numbers.data()));
    const std::string numberBytes(reinterpret_cast<const char*>(numbers.data()),
                                  numbers.size() * 4);
    flipByteOf(small, 17);
    flipByteOf(large, 40000);
    flipByteOf(text, 299);
    flipByteOf(numberBytes, 19999);
    reopen(true);

    std::string buffer(50000, '\x55');
    expectDamaged(QMXLreadOpaqueData(file, "/g", "compact", buffer.data()), "/g/compact");
    EXPECT_TRUE(allZero(buffer.data(), 200));
    buffer.assign(50000, '\x55');
    expectDamaged(QMXLreadOpaqueData(file, "/g", "contiguous", buffer.data()), "/g/contiguous");
    EXPECT_TRUE(allZero(buffer.data(), 50000));
    buffer.assign(300, '\x55');
    expectDamaged(QMXLreadStringDataset(file, "/g", "text", buffer.data()), "/g/text");
    EXPECT_TRUE(allZero(buffer.data(), 300));

    std::vector<std::int32_t> ints(5000, 0x55);
    expectDamaged(QMXLreadTypedDataset(file, "/g", "numbers", QMXL_INT32, ints.data()),
                  "/g/numbers");
    EXPECT_TRUE(allZero(ints.data(), ints.size() * 4));
    // Read converted to another type, the stored bytes are still checked first.
    std::vector<double> doubles(5000, 1.0);
    expectDamaged(QMXLreadTypedDataset(file, "/g", "numbers", QMXL_FLOAT64, doubles.data()),
                  "/g/numbers");
    EXPECT_TRUE(allZero(doubles.data(), doubles.size() * 8));
}

TEST_F(Checksums, WrongOrMalformedChecksumAttributeFailsTheRead) {
    const std::string data = pattern(64, 10);
    for (const char* name : {"wrong", "text", "pair"})
        ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/g", name, 0, 0, 64, data.data()));
    const std::uint32_t wrong = crc32c::Value(data.data(), data.size()) ^ 1u;
    H5Id scalar(H5Screate(H5S_SCALAR));
    tamperWithAttribute("/g/wrong", H5T_NATIVE_UINT32, scalar.id, &wrong);
    H5Id text(H5Tcopy(H5T_C_S1));
    H5Tset_size(text.id, 4);
    tamperWithAttribute("/g/text", text.id, scalar.id, "abcd");
    const hsize_t two = 2;
    H5Id pairSpace(H5Screate_simple(1, &two, nullptr));
    const std::uint32_t pair[2] = {1, 2};
    tamperWithAttribute("/g/pair", H5T_NATIVE_UINT32, pairSpace.id, pair);
    reopen(true);
    for (const char* name : {"wrong", "text", "pair"}) {
        std::string buffer(64, '\x55');
        expectDamaged(QMXLreadOpaqueData(file, "/g", name, buffer.data()),
                      std::string("/g/") + name);
        EXPECT_TRUE(allZero(buffer.data(), buffer.size())) << name;
    }
}

TEST_F(Checksums, ItemsWithoutChecksumInAnUnmarkedFileStillReadAndGainOneOnUpdate) {
    const std::string data = pattern(1000, 11);
    ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/g", "old", 0, 0, 1000, data.data()));
    tamperWithAttribute("/g/old", H5T_NATIVE_UINT32, H5S_ALL, nullptr);
    withHdf5([](hid_t f) { ASSERT_GE(H5Adelete(f, kMarker), 0); });
    reopen(true);
    std::string buffer(1000, '\0');
    ASSERT_OK(QMXLreadOpaqueData(file, "/g", "old", buffer.data()));
    EXPECT_EQ(buffer, data);
    reopen();
    ASSERT_OK(QMXLupdateOpaqueData(file, "/g", "old", 1000, data.data()));
    EXPECT_EQ(storedChecksum("/g/old"), crc32c::Value(data.data(), data.size()));
}

// The checksum marker is remembered from one open of the unchanged file to the next; a marker
// written through the library holds from the next read on, in this session and the next.
TEST_F(Checksums, AMarkerWrittenThroughTheLibraryHoldsAtOnceAndAfterReopening) {
    const std::string data = pattern(200, 13);
    ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/g", "b", 0, 0, 200, data.data()));
    std::string buffer(200, '\0');
    const auto read = [&] { return QMXLreadOpaqueData(file, "/g", "b", buffer.data()); };
    reopen();
    reopen();
    ASSERT_OK(read());
    // Checksums of contents alone: the item's, which covers its path and type too, no longer
    // matches.
    const int plain = 1;
    ASSERT_OK(QMXLupdateAttribute(file, kMarker, &plain));
    expectDamaged(read(), "/g/b");
    reopen();
    expectDamaged(read(), "/g/b");
    reopen();
    expectDamaged(read(), "/g/b");
    const int typed = 3;
    ASSERT_OK(QMXLupdateAttribute(file, kMarker, &typed));
    ASSERT_OK(read());
    reopen();
    ASSERT_OK(read());
    EXPECT_EQ(buffer, data);
}

// A damaged type message that still names a type this library writes (a flipped sign bit makes
// unsigned numbers signed) reads the same stored bytes as other numbers: HDF5 converts them
// without complaint. New files cover each item's type with its checksum, whole or sliced.
TEST_F(Checksums, AnItemWhoseStoredTypeLostItsSignIsDamaged) {
    const std::vector<std::uint16_t> small = {1, 40000, 65535};
    std::vector<std::uint64_t> large(100000);
    for (std::size_t i = 0; i < large.size(); ++i)
        large[i] = (std::uint64_t{1} << 63) + i;
    ASSERT_OK(QMXLcreateTypedDataset(file, "/g", "small", 0, 0, 0, QMXL_UINT16, 3, small.data()));
    ASSERT_OK(QMXLcreateTypedDataset(file, "/g", "large", 0, 0, 0, QMXL_UINT64,
                                     static_cast<long long>(large.size()), large.data()));
    // Version 1, fixed-point, little-endian unsigned; size; offset 0 and precision.
    const std::string u16("\x10\x00\x00\x00\x02\x00\x00\x00\x00\x00\x10\x00", 12);
    const std::string u64("\x10\x00\x00\x00\x08\x00\x00\x00\x00\x00\x40\x00", 12);
    for (const std::string& type : {u16, u64}) {
        std::string signedType = type;
        signedType[1] = '\x08';
        patch(type, signedType);
    }
    reopen(true);
    std::vector<std::int64_t> back(large.size(), 7);
    expectDamaged(QMXLreadTypedDataset(file, "/g", "small", QMXL_INT64, back.data()), "/g/small");
    EXPECT_TRUE(allZero(back.data(), 3 * sizeof back[0]));
    expectDamaged(QMXLreadTypedDataset(file, "/g", "large", QMXL_INT64, back.data()), "/g/large");
    expectDamaged(
        QMXLreadTypedDatasetRange(file, "/g", "large", QMXL_INT64, 50000, 10, back.data()),
        "/g/large");
}

// In a marked file a lost checksum is damage (the attribute's header message was hit), not an
// old item: reading it unchecked would hand out whatever the same damage did to the data.
TEST_F(Checksums, InAMarkedFileAnItemWithoutChecksumIsDamaged) {
    const std::string data = pattern(300, 12);
    const std::vector<double> values = {1.5, 2.5};
    ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/g", "blob", 0, 0, 300, data.data()));
    ASSERT_OK(QMXLcreateTypedDataset(file, "/g", "v", 0, 0, 0, QMXL_FLOAT64, 2, values.data()));
    ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/g", "empty", 0, 0, 0, nullptr));
    ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/g", "emptyWrong", 0, 0, 0, nullptr));
    for (const char* item : {"/g/blob", "/g/v", "/g/empty"})
        tamperWithAttribute(item, H5T_NATIVE_UINT32, H5S_ALL, nullptr);
    // An empty item's value depends on its path alone; any other value means it was hit.
    const std::uint32_t seven = 7;
    H5Id scalar(H5Screate(H5S_SCALAR));
    tamperWithAttribute("/g/emptyWrong", H5T_NATIVE_UINT32, scalar.id, &seven);
    reopen(true);

    std::string buffer(300, '\x55');
    expectDamaged(QMXLreadOpaqueData(file, "/g", "blob", buffer.data()), "/g/blob");
    EXPECT_ERROR("checksum attribute is missing");
    EXPECT_TRUE(allZero(buffer.data(), buffer.size()));
    std::vector<double> back(2, 9.0);
    expectDamaged(QMXLreadTypedDataset(file, "/g", "v", QMXL_FLOAT64, back.data()), "/g/v");
    EXPECT_TRUE(allZero(back.data(), 16));
    expectDamaged(QMXLreadTypedDataset(file, "/g", "v", QMXL_INT32, back.data()), "/g/v");
    expectDamaged(QMXLreadOpaqueData(file, "/g", "empty", buffer.data()), "/g/empty");
    expectDamaged(QMXLreadOpaqueData(file, "/g", "emptyWrong", buffer.data()), "/g/emptyWrong");
}

// A damaged header can claim more elements than the item stores; HDF5 would copy past the
// stored bytes, and a caller sizes its buffer by the claim. Built by patching the dimensions
// (current and maximum) of a written item: the size query refuses the claim, and a read
// fails before it writes a byte of a buffer sized by it.
TEST_F(Checksums, AnItemClaimingMoreThanItStoresFailsWithoutReadingPastIt) {
    const std::string small = pattern(100, 13), large = pattern(20000, 14);
    ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/g", "compact", 0, 0, 100, small.data()));
    ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/g", "contiguous", 0, 0, 20000, large.data()));
    auto dims = [](std::uint64_t n) {
        std::string bytes(reinterpret_cast<const char*>(&n), 8);
        return bytes + bytes;
    };
    patch(dims(100), dims(4000));
    patch(dims(20000), dims(90000));
    reopen(true);
    // A compact item's header holds its data: the header check finds the mismatch at the
    // first look, before any size is handed out.
    long long claimed = 0;
    EXPECT_LT(QMXLgetSizeOfDataset(file, "/g", "compact", &claimed), 0);
    EXPECT_ERROR("'/g/compact' is damaged: the compact data's size does not match");
    std::string compact(4000, '\x55');
    EXPECT_LT(QMXLreadOpaqueData(file, "/g", "compact", compact.data()), 0);
    EXPECT_ERROR("'/g/compact' is damaged");
    for (const auto& [name, size] : {std::pair<const char*, std::size_t>{"contiguous", 90000}}) {
        long long claimed = 0;
        EXPECT_EQ(QMXLgetSizeOfDataset(file, "/g", name, &claimed), -1) << name;
        EXPECT_ERROR("claims " + std::to_string(size) +
                     " elements of 1 bytes, more than is stored");
        EXPECT_EQ(QMXLgetSizeOfOpaqueData(file, "/g", name, &claimed), -1) << name;
        std::string buffer(size, '\x55');
        expectDamaged(QMXLreadOpaqueData(file, "/g", name, buffer.data()),
                      std::string("/g/") + name);
        EXPECT_ERROR("shorter than the item's size");
        EXPECT_EQ(buffer, std::string(size, '\x55'));
    }
}

// An item that was appended to is chunked with no upper bound: its size is checked against
// the chunks stored, by looking up the last chunk the claim needs.
TEST_F(Checksums, AnAppendedItemClaimingMoreChunksThanItStoresIsRefused) {
    std::vector<std::int32_t> values(200000);
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = static_cast<std::int32_t>(i * 7);
    ASSERT_OK(QMXLcreateTypedDataset(file, "/g", "t", 0, 0, 0, QMXL_INT32, 100, values.data()));
    ASSERT_OK(QMXLappendTypedDataset(file, "/g", "t", QMXL_INT32, 199900, values.data() + 100));
    long long count = 0;
    int type = 0;
    ASSERT_OK(QMXLgetDatasetInfo(file, "/g", "t", &count, &type));
    ASSERT_EQ(count, 200000);
    auto dims = [](std::uint64_t n) {
        return std::string(reinterpret_cast<const char*>(&n), 8) + std::string(8, '\xff');
    };
    // Three chunks (64 KiB of elements each) past the last one stored.
    const long long claimed = 200000 + 3 * 16384;
    patch(dims(200000), dims(claimed));
    reopen(true);
    EXPECT_EQ(QMXLgetDatasetInfo(file, "/g", "t", &count, &type), -1);
    EXPECT_ERROR("claims " + std::to_string(claimed) + " elements of 4 bytes, more than is stored");
    std::vector<std::int32_t> back(1000, 5);
    EXPECT_LT(
        QMXLreadTypedDatasetRange(file, "/g", "t", QMXL_INT32, claimed - 1000, 1000, back.data()),
        0);
    EXPECT_ERROR("shorter than the item's size");
    EXPECT_EQ(back, std::vector<std::int32_t>(1000, 0));
}

// HDF5 converts from whatever type the header states: a damaged type turns bytes that match
// their checksum into other values. Built by patching the stored datatype messages.
TEST_F(Checksums, AStoredTypeThisLibraryNeverWritesIsDamage) {
    const std::vector<double> values = {1.5, -2.25, 1e10};
    const std::string text = pattern(40, 15);
    ASSERT_OK(QMXLcreateTypedDataset(file, "/g", "v", 0, 0, 0, QMXL_FLOAT64, 3, values.data()));
    ASSERT_OK(QMXLcreateCompressedStringDataset(file, "/g", "s", 0, 0, 40, text.data()));
    // IEEE float64: version 1 class 1, little-endian flags, 8 bytes; set the big-endian bit.
    patch(std::string("\x11\x20\x3f\x00\x08\x00\x00\x00", 8),
          std::string("\x11\x21\x3f\x00\x08\x00\x00\x00", 8));
    // One-byte string, null-padded ASCII; make it null-terminated, which reads as empty.
    patch(std::string("\x13\x01\x00\x00\x01\x00\x00\x00", 8),
          std::string("\x13\x00\x00\x00\x01\x00\x00\x00", 8));
    reopen(true);
    std::vector<double> back(3, 7.0);
    expectDamaged(QMXLreadTypedDataset(file, "/g", "v", QMXL_FLOAT64, back.data()), "/g/v");
    EXPECT_ERROR("the stored type is not one this library writes");
    EXPECT_TRUE(allZero(back.data(), 24));
    expectDamaged(QMXLreadTypedDataset(file, "/g", "v", QMXL_AS_STORED, back.data()), "/g/v");
    std::string buffer(40, '\x55');
    expectDamaged(QMXLreadStringDataset(file, "/g", "s", buffer.data()), "/g/s");
    EXPECT_TRUE(allZero(buffer.data(), buffer.size()));
}

// Records are matched by member name: a damaged name would leave that member zero.
TEST_F(Checksums, DamagedRecordTypeFailsTheRead) {
    std::vector<Record> records(10);
    for (int i = 0; i < 10; ++i)
        records[i] = {i + 1, i * 0.5};
    const int type = makeRecordType();
    ASSERT_OK(QMXLcreateObjectDataset(file, "/g", "r", 0, 0, 0, type, 1, 10, records.data()));
    QMXLcloseObject(type);
    patch(std::string("value\0", 6), std::string("valuf\0", 6));
    reopen(true);
    std::vector<Record> back(10);
    const int readType = makeRecordType();
    expectDamaged(QMXLreadObjectDataset(file, "/g", "r", readType, back.data()), "/g/r");
    EXPECT_ERROR("attribute checksum mismatch");
    QMXLcloseObject(readType);
    EXPECT_TRUE(allZero(back.data(), back.size() * sizeof(Record)));
}
