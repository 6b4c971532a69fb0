// Checksums per slice of large and appended items: what is stored, damage found slice by slice,
// items written with one checksum over all of it, sealing, and appends under the journal.
#include "ChecksumPath.h"
#include "ChildProcess.h"
#include "FailingFileOps.h"
#include "SliceCrcs.h"
#include "TestFiles.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

using namespace Quellmar;
using namespace Quellmar::testing;

namespace {

constexpr const char* kSlices = "QMZ_SLICE_CRC32C";
constexpr const char* kWhole = "QMZ_CRC32C";
constexpr long long kCount = 300000;  // doubles: 147 slices of 2,048
constexpr long long kPerSlice = 2048;

// Doubles whose stored bytes occur once in the file.
std::vector<double> distinct(long long n, long long from = 0) {
    std::vector<double> v(static_cast<size_t>(n));
    for (long long i = 0; i < n; ++i)
        v[static_cast<size_t>(i)] = static_cast<double>(from + i) + 0.123456789;
    return v;
}

std::string bytesOf(const std::vector<double>& v, long long first, long long count) {
    return std::string(reinterpret_cast<const char*>(v.data() + first),
                       static_cast<size_t>(count) * sizeof(double));
}

class SliceChecksums : public ContainerTest {
protected:
    void SetUp() override {
        ContainerTest::SetUp();
        data = distinct(kCount);
        ASSERT_OK(
            QMXLcreateTypedDataset(file, "/g", "d", 0, 0, 0, QMXL_FLOAT64, kCount, data.data()));
    }
    // The stored slice attribute of /g/<name>, read with HDF5 itself.
    std::vector<std::uint32_t> stored(const char* name = "/g/d") {
        close();
        const std::vector<std::uint32_t> values = storedSlices(path, name);
        reopen();
        return values;
    }
    bool hasAttribute(const char* object, const char* attribute) {
        close();
        bool has = false;
        {
            H5Id f(H5Fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT));
            has = H5Aexists_by_name(f.id, object, attribute, H5P_DEFAULT) > 0;
        }
        reopen();
        return has;
    }
    // Replaces the slice attribute by `values` of `type` (or only removes it).
    void rewriteSlices(const std::vector<std::uint32_t>* values, hid_t type = H5T_STD_U32LE) {
        withHdf5([&](hid_t f) {
            ASSERT_GE(H5Adelete_by_name(f, "/g/d", kSlices, H5P_DEFAULT), 0);
            if (values) {
                const hsize_t n = values->size();
                H5Id s(H5Screate_simple(1, &n, nullptr));
                H5Id a(H5Acreate_by_name(f, "/g/d", kSlices, type, s.id, H5P_DEFAULT, H5P_DEFAULT,
                                         H5P_DEFAULT));
                ASSERT_GE(H5Awrite(a.id, H5T_NATIVE_UINT32, values->data()), 0);
            }
        });
        reopen();
    }
    // Gives /g/d one checksum over all its stored bytes and its path, as large items had
    // before they carried slice checksums.
    void wholeChecksumOnly() {
        rewriteSlices(nullptr);
        close();
        const std::uint32_t crc =
            itemSum(path, crc32c::Value(data.data(), kCount * sizeof(double)), "/g/d");
        withHdf5([&](hid_t f) {
            H5Id s(H5Screate(H5S_SCALAR));
            H5Id a(H5Acreate_by_name(f, "/g/d", kWhole, H5T_STD_U32LE, s.id, H5P_DEFAULT,
                                     H5P_DEFAULT, H5P_DEFAULT));
            ASSERT_GE(H5Awrite(a.id, H5T_NATIVE_UINT32, &crc), 0);
        });
        reopen();
    }
    void flipByteIn(const std::string& find, size_t index) {
        flipByteOf(find, index);
        reopen();
    }
    int readRange(long long first, long long count, std::vector<double>& back) {
        back.assign(static_cast<size_t>(count), 5.0);
        return QMXLreadTypedDatasetRange(file, "/g", "d", QMXL_FLOAT64, first, count, back.data());
    }
    void expectFails(int result, const char* what) {
        EXPECT_EQ(result, -1);
        const std::string message = lastError();
        EXPECT_NE(message.find(what), std::string::npos) << message;
        EXPECT_NE(message.find("/g/d"), std::string::npos) << message;
    }
    std::vector<double> data;
};

}  // namespace

// ---- Sums -----------------------------------------------------------------------------------

TEST(SliceSums, CombineAndSlicingAgreeWithOneCrcOverTheBytes) {
    const std::string bytes = pattern(200003, 9);
    for (size_t split : {size_t{0}, size_t{1}, size_t{7}, size_t{65539}, bytes.size()}) {
        const std::uint32_t a = crc32c::Value(bytes.data(), split);
        const std::uint32_t b = crc32c::Value(bytes.data() + split, bytes.size() - split);
        EXPECT_EQ(crc32c::Combine(a, b, bytes.size() - split),
                  crc32c::Value(bytes.data(), bytes.size()))
            << split;
    }
    // Fed in uneven pieces, resumed halfway from the stored sums, merged to twice the size:
    // always the sums of the slices taken one by one.
    auto direct = [&](size_t slice, size_t length) {
        std::vector<std::uint32_t> crcs;
        for (size_t at = 0; at < length; at += slice)
            crcs.push_back(crc32c::Value(bytes.data() + at, std::min(slice, length - at)));
        return crcs;
    };
    qmxfile::SliceCrcs pieces(1000);
    for (size_t at = 0; at < 20500; at += 333)
        pieces.add(bytes.data() + at, std::min<size_t>(333, 20500 - at));
    EXPECT_EQ(pieces.crcs(), direct(1000, 20500));
    qmxfile::SliceCrcs resumed(1000, direct(1000, 20500), 500);
    resumed.add(bytes.data() + 20500, 3000);
    EXPECT_EQ(resumed.crcs(), direct(1000, 23500));
    resumed.doubleSlices(23500);
    EXPECT_EQ(resumed.sliceBytes(), 2000u);
    EXPECT_EQ(resumed.crcs(), direct(2000, 23500));
    resumed.add(bytes.data() + 23500, 1700);  // fills the half-full last slice, starts another
    EXPECT_EQ(resumed.crcs(), direct(2000, 25200));
    qmxfile::SliceCrcs even(1000, direct(1000, 4000), 1000);
    even.doubleSlices(4000);
    EXPECT_EQ(even.crcs(), direct(2000, 4000));
}

// ---- The stored form ------------------------------------------------------------------------

TEST_F(SliceChecksums, LargeItemsCarrySealedSliceChecksumsAndSmallOnesOneChecksum) {
    const std::vector<double> few = {1, 2, 3};
    ASSERT_OK(QMXLcreateTypedDataset(file, "/g", "small", 0, 0, 0, QMXL_FLOAT64, 3, few.data()));
    const auto values = stored();
    ASSERT_EQ(values.size(), 2u + 147u);
    EXPECT_EQ(values[0], kPerSlice);
    EXPECT_EQ(values[2], crc32c::Value(data.data(), 16384));
    EXPECT_EQ(values.back(),
              crc32c::Value(data.data() + 146 * kPerSlice, (kCount - 146 * kPerSlice) * 8));
    // The seal: elements per slice, the element count, the slice sums, then the path and type.
    std::string sealed;
    auto put = [&](std::uint64_t v, int n) {
        for (int i = 0; i < n; ++i)
            sealed.push_back(static_cast<char>(v >> (8 * i)));
    };
    put(kPerSlice, 4);
    put(kCount, 8);
    for (size_t k = 2; k < values.size(); ++k)
        put(values[k], 4);
    close();
    EXPECT_EQ(values[1], itemSum(path, crc32c::Value(sealed.data(), sealed.size()), "/g/d"));
    EXPECT_FALSE(hasAttribute("/g/d", kWhole));
    EXPECT_TRUE(hasAttribute("/g/small", kWhole));
    EXPECT_FALSE(hasAttribute("/g/small", kSlices));

    // Rewritten small, the item goes back to one checksum; appended to, it gets slices.
    ASSERT_OK(QMXLupdateTypedDataset(file, "/g", "d", QMXL_FLOAT64, 3, few.data()));
    EXPECT_TRUE(hasAttribute("/g/d", kWhole));
    EXPECT_FALSE(hasAttribute("/g/d", kSlices));
    ASSERT_OK(QMXLappendTypedDataset(file, "/g", "small", QMXL_FLOAT64, 3, few.data()));
    EXPECT_FALSE(hasAttribute("/g/small", kWhole));
    const auto appended = stored("/g/small");
    ASSERT_EQ(appended.size(), 3u);
    const double six[] = {1, 2, 3, 1, 2, 3};
    EXPECT_EQ(appended[2], crc32c::Value(six, sizeof six));
}

// ---- Damage ---------------------------------------------------------------------------------

TEST_F(SliceChecksums, DamageFailsOnlyTheRangesThatTouchItsSlice) {
    // A byte in slice 5 of the stored doubles.
    const long long hit = 5 * kPerSlice + 100;
    flipByteIn(bytesOf(data, hit, 2), 3);
    std::vector<double> back;
    expectFails(readRange(hit - 10, 20, back), "checksum mismatch");
    for (double x : back)
        EXPECT_EQ(x, 0.0) << "the buffer is zeroed";
    expectFails(readRange(4 * kPerSlice + 10, kPerSlice, back), "checksum mismatch");
    EXPECT_OK(readRange(2 * kPerSlice, 100, back));
    EXPECT_EQ(back, distinct(100, 2 * kPerSlice));
    EXPECT_OK(readRange(6 * kPerSlice, 3 * kPerSlice, back));
    std::vector<double> all(kCount, 1.0);
    expectFails(QMXLreadTypedDataset(file, "/g", "d", QMXL_FLOAT64, all.data()),
                "checksum mismatch");
    EXPECT_EQ(all[0], 0.0);
    std::vector<float> converted(kCount, 1.0f);
    expectFails(QMXLreadTypedDataset(file, "/g", "d", QMXL_FLOAT32, converted.data()),
                "checksum mismatch");
    EXPECT_LT(QMXLappendTypedDataset(file, "/g", "d", QMXL_FLOAT64, 1, data.data()), 0)
        << "a damaged item does not move to another layout with new checksums";
}

// Whole reads (1 MiB slices) and range reads (the slices a range touches), as stored and
// converted: read-only sessions take the bytes from the file itself, others through HDF5.
// Either way damage in a slice read fails the read and zeroes the buffer. (Failing reads of the
// file: the read-side I/O-error loop of the DAO tests.)
TEST_F(SliceChecksums, WholeAndRangeReadsFindDamageInEverySliceTheyTouch) {
    constexpr long long kFirst = 3 * kPerSlice - 5, kRange = 2 * kPerSlice + 10;  // 4 slices
    std::vector<double> all(kCount, 1.0);
    std::vector<float> floats(kCount, 1.0f);
    std::vector<float> expectedFloats(data.begin(), data.end());
    enum class Read { Whole, WholeAsFloat, Range, RangeAsFloat };
    const auto read = [&](Read how) {
        switch (how) {
            case Read::Whole:
                return QMXLreadTypedDataset(file, "/g", "d", QMXL_FLOAT64, all.data());
            case Read::WholeAsFloat:
                return QMXLreadTypedDataset(file, "/g", "d", QMXL_FLOAT32, floats.data());
            case Read::Range:
                return QMXLreadTypedDatasetRange(file, "/g", "d", QMXL_FLOAT64, kFirst, kRange,
                                                 all.data());
            case Read::RangeAsFloat:
                return QMXLreadTypedDatasetRange(file, "/g", "d", QMXL_FLOAT32, kFirst, kRange,
                                                 floats.data());
        }
        return -1;
    };
    const auto expectRead = [&](Read how) {
        switch (how) {
            case Read::Whole:
                EXPECT_EQ(all, data);
                break;
            case Read::WholeAsFloat:
                EXPECT_EQ(floats, expectedFloats);
                break;
            case Read::Range:
                EXPECT_TRUE(std::equal(all.begin(), all.begin() + kRange, data.begin() + kFirst));
                break;
            case Read::RangeAsFloat:
                EXPECT_TRUE(std::equal(floats.begin(), floats.begin() + kRange,
                                       expectedFloats.begin() + kFirst));
                break;
        }
    };
    const Read every[] = {Read::Whole, Read::WholeAsFloat, Read::Range, Read::RangeAsFloat};
    for (const bool readOnly : {true, false}) {  // from the file itself, and through HDF5
        reopen(readOnly);
        for (const Read how : every) {
            ASSERT_OK(read(how));
            expectRead(how);
        }
    }
    // In the first slice, the last, and the first and last slice a range touches.
    for (const long long hit : {10LL, kCount - 3, kFirst - 3, kFirst + kRange + 2}) {
        const std::string original = bytesOf(data, hit, 2);
        flipByteIn(original, 3);
        reopen(true);
        const bool inRange = hit >= 2 * kPerSlice && hit < 6 * kPerSlice;
        for (const Read how : every) {
            const bool range = how == Read::Range || how == Read::RangeAsFloat;
            if (range && !inRange)
                continue;
            all.assign(kCount, 1.0);
            floats.assign(kCount, 1.0f);
            expectFails(read(how), "checksum mismatch");
            const bool asFloat = how == Read::WholeAsFloat || how == Read::RangeAsFloat;
            const size_t at = range ? 0 : static_cast<size_t>(hit);
            EXPECT_EQ(asFloat ? floats[at] : all[at], 0.0) << "the buffer is zeroed";
        }
        std::string damaged = original;
        damaged[3] = static_cast<char>(damaged[3] ^ 0x10);
        patch(damaged, original);
    }
}

// A damaged address of a large item's bytes (its layout message) is where a read-only read
// (whole or of a range) would take the bytes from without HDF5: past the file's end,
// overflowing, or at other bytes of the file, the read fails cleanly, and it reads again once
// the address is right.
TEST_F(SliceChecksums, ADamagedDataAddressFailsAReadOnlyReadCleanly) {
    close();
    haddr_t offset = HADDR_UNDEF;
    {
        H5Id f(H5Fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT));
        H5Id d(H5Dopen2(f.id, "/g/d", H5P_DEFAULT));
        offset = H5Dget_offset(d.id);
    }
    ASSERT_NE(offset, HADDR_UNDEF);
    const auto little = [](std::uint64_t value) {
        std::string bytes(8, '\0');
        for (int i = 0; i < 8; ++i)
            bytes[static_cast<size_t>(i)] = static_cast<char>(value >> (8 * i));
        return bytes;
    };
    const std::uint64_t length = std::filesystem::file_size(path);
    const std::string size = little(kCount * sizeof(double));
    const std::string right = little(offset) + size;  // address and size, as the layout stores them
    for (const std::uint64_t wrong :
         {length + 4096, length - 100, ~std::uint64_t{0} - 10, std::uint64_t{0}}) {
        patch(right, little(wrong) + size);
        reopen(true);
        std::vector<double> all(kCount, 1.0);
        EXPECT_EQ(QMXLreadTypedDataset(file, "/g", "d", QMXL_FLOAT64, all.data()), -1) << wrong;
        std::vector<float> floats(kCount, 1.0f);
        EXPECT_EQ(QMXLreadTypedDataset(file, "/g", "d", QMXL_FLOAT32, floats.data()), -1) << wrong;
        std::vector<double> back;
        EXPECT_EQ(readRange(kCount - 10, 10, back), -1) << wrong;
        EXPECT_EQ(back, std::vector<double>(10, 0.0)) << wrong;
        patch(little(wrong) + size, right);
    }
    reopen(true);
    std::vector<double> all(kCount);
    ASSERT_OK(QMXLreadTypedDataset(file, "/g", "d", QMXL_FLOAT64, all.data()));
    EXPECT_EQ(all, data);
    std::vector<double> back;
    ASSERT_OK(readRange(kCount - 10, 10, back));
    EXPECT_EQ(back, distinct(10, kCount - 10));
}

TEST_F(SliceChecksums, DamagedSliceChecksumsFailEveryRead) {
    auto values = stored();
    std::vector<double> back;
    std::vector<double> all(kCount);

    values[5] ^= 1;  // one slice sum: the seal no longer matches
    rewriteSlices(&values);
    expectFails(readRange(0, 10, back), "checksum mismatch");
    expectFails(QMXLreadTypedDataset(file, "/g", "d", QMXL_FLOAT64, all.data()), "damaged");

    values[5] ^= 1;
    values[0] = kPerSlice * 2;  // another slice size: the seal covers it too
    rewriteSlices(&values);
    expectFails(readRange(0, 10, back), "damaged");

    values[0] = kPerSlice;
    values.pop_back();  // one slice sum short
    rewriteSlices(&values);
    expectFails(readRange(0, 10, back), "damaged");

    rewriteSlices(&values, H5T_IEEE_F32LE);  // not the integers they must be
    expectFails(readRange(0, 10, back), "unreadable");
    expectFails(QMXLreadTypedDataset(file, "/g", "d", QMXL_FLOAT64, all.data()), "damaged");

    rewriteSlices(nullptr);
    expectFails(readRange(0, 10, back), "missing");
    expectFails(QMXLreadTypedDataset(file, "/g", "d", QMXL_FLOAT64, all.data()), "missing");
    // Sealing gives it slice checksums again (over the bytes as they are now).
    EXPECT_OK(QMXLsealObject(file, "/g/d"));
    EXPECT_EQ(QMXLsealObject(file, "/g/d"), 0) << "never rewritten";
    EXPECT_OK(readRange(kCount - 10, 10, back));
    EXPECT_EQ(back, distinct(10, kCount - 10));
    EXPECT_EQ(stored().size(), 2u + 147u);
}

// Sealing reads the whole item to sum it: a read of the file that fails there is reported with
// its reason, never as damage, and leaves the item to be sealed later.
TEST_F(SliceChecksums, ASealThatCannotReadTheItemSaysSo) {
    // A chunked item beside the contiguous one: appended to once.
    ASSERT_OK(QMXLcreateTypedDataset(file, "/g", "t", 0, 0, 0, QMXL_FLOAT64, 1000, data.data()));
    ASSERT_OK(QMXLappendTypedDataset(file, "/g", "t", QMXL_FLOAT64, kCount - 1000,
                                     data.data() + 1000));
    for (const char* item : {"/g/d", "/g/t"}) {
        const auto seal = [&](FailingFileOps& ops) {
            withHdf5([item](hid_t f) {  // unsealed again (a failed seal wrote nothing)
                if (H5Aexists_by_name(f, item, kSlices, H5P_DEFAULT) > 0) {
                    ASSERT_GE(H5Adelete_by_name(f, item, kSlices, H5P_DEFAULT), 0);
                }
            });
            reopen();
            ScopedFileOps layer(ops);
            return QMXLsealObject(file, item);
        };
        FailingFileOps counting(0, 0, false);
        ASSERT_OK(seal(counting)) << item;
        ASSERT_GE(counting.calls(), 3u) << item << ": the item is read in slices";
        std::size_t failed = 0;
        for (std::size_t n = 1; n <= counting.calls(); ++n) {
            FailingFileOps failing(n, EIO, false);
            if (seal(failing) >= 0)
                continue;
            ++failed;
            const std::string message = lastError();
            EXPECT_NE(message.find("Input/output error"), std::string::npos)
                << item << ", call " << n << ": " << message;
            EXPECT_EQ(message.find("damaged"), std::string::npos)
                << item << ", call " << n << ": " << message;
        }
        EXPECT_GT(failed, 0u) << item;
        reopen();
        EXPECT_GE(QMXLsealObject(file, item), 0) << item << ": " << lastError();
    }
    std::vector<double> back(kCount);
    ASSERT_OK(QMXLreadTypedDataset(file, "/g", "t", QMXL_FLOAT64, back.data()));
    EXPECT_EQ(back, data);
}

// Read-only sessions of an unchanged file skip verifying again what an earlier one verified.
// Nothing verified before a change may serve after it: neither a change from outside nor one
// a writer of this process made.
TEST_F(SliceChecksums, WhatReadOnlySessionsVerifiedNeverOutlivesAChange) {
    std::vector<double> back;
    reopen(true);
    ASSERT_OK(readRange(0, 10, back));

    const std::vector<double> changed = distinct(kCount, 7);
    reopen(false);
    ASSERT_OK(QMXLupdateTypedDataset(file, "/g", "d", QMXL_FLOAT64, kCount, changed.data()));
    reopen(true);
    ASSERT_OK(readRange(kCount - 10, 10, back)) << "the writer's new slice checksums";
    EXPECT_EQ(back, distinct(10, kCount - 3));

    auto values = stored();
    values[5] ^= 1;
    reopen(true);
    ASSERT_OK(readRange(0, 10, back));
    withHdf5([&](hid_t f) {
        // Replaced, not rewritten in place: HDF5 1.10 cannot write this attribute where it lies.
        ASSERT_GE(H5Adelete_by_name(f, "/g/d", kSlices, H5P_DEFAULT), 0);
        const hsize_t n = values.size();
        H5Id space(H5Screate_simple(1, &n, nullptr));
        H5Id a(H5Acreate_by_name(f, "/g/d", kSlices, H5T_STD_U32LE, space.id, H5P_DEFAULT,
                                 H5P_DEFAULT, H5P_DEFAULT));
        ASSERT_GE(H5Awrite(a.id, H5T_NATIVE_UINT32, values.data()), 0);
    });
    reopen(true);
    expectFails(readRange(0, 10, back), "checksum mismatch");
}

TEST_F(SliceChecksums, ASmallerElementCountCannotSkipVerification) {
    ASSERT_OK(QMXLappendTypedDataset(file, "/g", "d", QMXL_FLOAT64, 10, data.data()));
    // As if the count in the header had been hit: fewer elements than the sums cover.
    withHdf5([](hid_t f) {
        H5Id d(H5Dopen2(f, "/g/d", H5P_DEFAULT));
        const hsize_t fewer = kCount - kPerSlice;
        ASSERT_GE(H5Dset_extent(d.id, &fewer), 0);
    });
    reopen();
    std::vector<double> back;
    expectFails(readRange(0, 10, back), "checksum mismatch");
    std::vector<double> all(kCount);
    expectFails(QMXLreadTypedDataset(file, "/g", "d", QMXL_FLOAT64, all.data()),
                "checksum mismatch");
}

// Appends that stay inside the last slice rewrite the table where it stands; the table is
// checked against the bytes, and one stored in another integer type is replaced in ours.
TEST_F(SliceChecksums, AnAppendInsideTheLastSliceKeepsTheTableExact) {
    std::vector<double> all = data;
    const auto appendMore = [&](long long n) {
        const auto more = distinct(n, static_cast<long long>(all.size()));
        ASSERT_OK(QMXLappendTypedDataset(file, "/g", "d", QMXL_FLOAT64, n, more.data()));
        all.insert(all.end(), more.begin(), more.end());
    };
    const auto lastSliceSum = [&] {
        const size_t from = 146 * kPerSlice;
        return crc32c::Value(all.data() + from, (all.size() - from) * sizeof(double));
    };
    const auto storedType = [&] {
        close();
        bool ours = false;
        {
            H5Id f(H5Fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT));
            H5Id a(H5Aopen_by_name(f.id, "/g/d", kSlices, H5P_DEFAULT, H5P_DEFAULT));
            H5Id type(H5Aget_type(a.id));
            ours = H5Tequal(type.id, H5T_STD_U32LE) > 0;
        }
        reopen();
        return ours;
    };
    appendMore(5);  // moves to the extendible layout
    appendMore(7);  // in place: 147 slices still
    auto values = stored();
    ASSERT_EQ(values.size(), 2u + 147u);
    EXPECT_EQ(values.back(), lastSliceSum());
    EXPECT_TRUE(storedType());

    rewriteSlices(&values, H5T_STD_U32BE);  // the same numbers, as another writer might store them
    std::vector<double> back;
    ASSERT_OK(readRange(kCount, 12, back));
    appendMore(3);
    EXPECT_TRUE(storedType());
    values = stored();
    ASSERT_EQ(values.size(), 2u + 147u);
    EXPECT_EQ(values.back(), lastSliceSum());

    appendMore(kPerSlice);  // into a new slice: the table grows
    EXPECT_EQ(stored().size(), 2u + 148u);
    std::vector<double> whole(all.size());
    ASSERT_OK(QMXLreadTypedDataset(file, "/g", "d", QMXL_FLOAT64, whole.data()));
    EXPECT_EQ(whole, all);
}

// An append that adds slices drops the stored table before it writes the new chunks. Whatever
// call fails on the way, the session's own reads of the item give it as it was or say what
// failed (never damage), and the next session finds it as it was, or appended when the append
// and its commit said so. Each failing session runs in a child: HDF5 loses the buffer of a chunk
// it could not write out, which the leak checker would blame on this process.
TEST_F(SliceChecksums, AnAppendThatFailsAtAnyCallLeavesItsItemReadable) {
    ASSERT_OK(QMXLappendTypedDataset(file, "/g", "d", QMXL_FLOAT64, 5, data.data()));
    std::vector<double> before = data;
    before.insert(before.end(), data.begin(), data.begin() + 5);
    std::vector<double> after = before;
    const auto more = distinct(3 * kPerSlice, kCount + 5);  // three more slices
    after.insert(after.end(), more.begin(), more.end());
    close();
    const std::string saved = path + ".before";
    std::filesystem::copy_file(path, saved);
    const auto readAll = [](int f, std::vector<double>& out) {
        long long count = 0;
        int type = -1;
        if (QMXLgetDatasetInfo(f, "/g", "d", &count, &type) < 0)
            return -1;
        out.assign(static_cast<size_t>(count), 0.0);
        return QMXLreadTypedDataset(f, "/g", "d", QMXL_FLOAT64, out.data());
    };
    // What the child saw: the append and its commit held, or how the append failed.
    enum Outcome { kCommitted = 0, kNotCommitted, kFailedReadsAsBefore, kFailedReadFails };
    const auto session = [&](std::size_t failAt) {
        std::filesystem::copy_file(saved, path, std::filesystem::copy_options::overwrite_existing);
        std::filesystem::remove(path + "-journal");
        return runInChild(
            [&]() -> int {
                FailingFileOps ops(failAt, ENOSPC, false);
                const int f = QMXLopenFile(path.c_str());
                if (f <= 0)
                    return 20;
                int rc = 0;
                {
                    ScopedFileOps layer(ops);
                    rc = QMXLappendTypedDataset(f, "/g", "d", QMXL_FLOAT64, 3 * kPerSlice,
                                                more.data());
                }
                if (rc >= 0)
                    return QMXLcommitFile(f) >= 0 ? kCommitted : kNotCommitted;
                if (lastError().find("damaged") != std::string::npos)
                    return 21;
                std::vector<double> back;
                if (readAll(f, back) >= 0)
                    return back == before ? kFailedReadsAsBefore : 22;
                const std::string why = lastError();
                if (why.find("damaged") != std::string::npos ||
                    why.find("an earlier failure of this session") == std::string::npos)
                    return 23;
                return kFailedReadFails;
            },
            ChildEnd::QuickExit);
    };
    // An append that fails nothing, counting its calls; the child's append makes the same ones.
    ASSERT_EQ(session(0), kCommitted);
    reopen();
    std::vector<double> appended;
    ASSERT_OK(readAll(file, appended));
    EXPECT_EQ(appended, after);
    close();
    std::filesystem::copy_file(saved, path, std::filesystem::copy_options::overwrite_existing);
    reopen();
    FailingFileOps counting(0, 0, false);
    {
        ScopedFileOps layer(counting);
        ASSERT_OK(QMXLappendTypedDataset(file, "/g", "d", QMXL_FLOAT64, 3 * kPerSlice,
                                         more.data()));
    }
    close();
    const std::size_t calls = counting.calls();
    ASSERT_GE(calls, 2u);
    std::size_t failed = 0, readAsBefore = 0;
    for (std::size_t n = 1; n <= calls; ++n) {
        const int outcome = session(n);
        ASSERT_LE(outcome, kFailedReadFails) << "call " << n << ": child ended with " << outcome;
        failed += outcome >= kFailedReadsAsBefore;
        readAsBefore += outcome == kFailedReadsAsBefore;
        reopen();
        std::vector<double> back;
        ASSERT_OK(readAll(file, back)) << "call " << n << ", next session";
        EXPECT_TRUE(back == (outcome == kCommitted ? after : before))
            << "call " << n << ", next session";
        close();
    }
    EXPECT_GT(failed, 0u);
    // Failures before the session broke: the undo put the old table back.
    EXPECT_GT(readAsBefore, 0u);
}

// ---- Items with one checksum over all of it ------------------------------------------------

TEST_F(SliceChecksums, LargeItemsWithOneChecksumKeepReadingAndMoveToSlicesOnAppend) {
    wholeChecksumOnly();
    std::vector<double> back;
    ASSERT_OK(readRange(1000, 10, back));
    EXPECT_EQ(back, distinct(10, 1000));
    std::vector<double> all(kCount);
    ASSERT_OK(QMXLreadTypedDataset(file, "/g", "d", QMXL_FLOAT64, all.data()));
    EXPECT_EQ(all, data);
    EXPECT_EQ(QMXLsealObject(file, "/g/d"), 0) << "it has its checksum";

    ASSERT_OK(QMXLappendTypedDataset(file, "/g", "d", QMXL_FLOAT64, 5, data.data()));
    EXPECT_FALSE(hasAttribute("/g/d", kWhole));
    EXPECT_EQ(stored().size(), 2u + 147u);
    ASSERT_OK(readRange(kCount, 5, back));
    EXPECT_EQ(back, distinct(5));
}

TEST_F(SliceChecksums, DamageInAnItemWithOneChecksumFailsEveryRange) {
    wholeChecksumOnly();
    flipByteIn(bytesOf(data, kCount - 3, 2), 1);
    std::vector<double> back;
    expectFails(readRange(0, 10, back), "checksum mismatch");
}

// ---- The journal ----------------------------------------------------------------------------

TEST_F(SliceChecksums, AnAppendOfAWriterThatDiesBeforeCommittingIsRolledBack) {
    ASSERT_OK(QMXLcommitFile(file));
    close();
    const std::string name = path;
    const int rc = runInChild(
        [&] {
            const int f = QMXLopenFile(name.c_str());
            if (f <= 0)
                return 1;
            const auto more = distinct(50000, kCount);
            if (QMXLappendTypedDataset(f, "/g", "d", QMXL_FLOAT64, 50000, more.data()) != 1)
                return 2;
            if (QMXLappendTypedDataset(f, "/g", "d", QMXL_FLOAT64, 50000, more.data()) != 1)
                return 3;
            // Written through to the file; the journal holds what it replaced.
            return QMXLflushMetadata(f) == 1 ? 0 : 4;
        },
        ChildEnd::QuickExit);
    ASSERT_EQ(rc, 0);
    EXPECT_TRUE(std::filesystem::exists(name + "-journal")) << "nothing to roll back";
    reopen();
    long long count = 0;
    int type = -1;
    ASSERT_OK(QMXLgetDatasetInfo(file, "/g", "d", &count, &type));
    EXPECT_EQ(count, kCount);
    std::vector<double> all(kCount);
    ASSERT_OK(QMXLreadTypedDataset(file, "/g", "d", QMXL_FLOAT64, all.data()));
    EXPECT_EQ(all, data);
    int layout = -1;
    long long chunk = -1;
    ASSERT_OK(QMXLgetDatasetLayout(file, "/g", "d", &layout, &chunk));
    EXPECT_EQ(layout, QMXL_LAYOUT_CONTIGUOUS);
    EXPECT_EQ(stored().size(), 2u + 147u);
}
