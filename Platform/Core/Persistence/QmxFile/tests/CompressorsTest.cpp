// The compressors besides deflate: what they store, that it reads back and stays checked, and
// what a process without their plugin is told.
#include "ChildProcess.h"
#include "TestFiles.h"

#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

using namespace Quellmar::testing;

namespace {

constexpr int kCompressors[] = {QMXL_DEFLATE, QMXL_BLOSC_LZ4, QMXL_BLOSC_ZSTD, QMXL_LZ4};
constexpr H5Z_filter_t kBlosc = 32001;
constexpr H5Z_filter_t kLz4 = 32004;
constexpr H5Z_filter_t kBzip2 = 307;  // another program's choice

struct Record {
    std::int32_t id;
    double position[3];
    float weight;
    std::uint8_t flag;
};

std::vector<double> smooth(std::size_t n) {
    std::vector<double> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = std::sin(static_cast<double>(i) * 1e-3) * 100.0;
    return v;
}

// Sets the calling thread's compressor for the life of the object.
class ThreadCompressor {
public:
    explicit ThreadCompressor(int compressor) {
        EXPECT_OK(QMXLsetThreadCompressor(compressor, &m_previous));
    }
    ~ThreadCompressor() { QMXLsetThreadCompressor(m_previous, nullptr); }
    ThreadCompressor(const ThreadCompressor&) = delete;
    ThreadCompressor& operator=(const ThreadCompressor&) = delete;

private:
    int m_previous = QMXL_COMPRESSOR_FOLLOW;
};

struct Filter {
    H5Z_filter_t id;
    unsigned flags;
    std::vector<unsigned> values;
};

// The filter pipeline of a dataset in a closed file, read with HDF5 itself.
std::vector<Filter> pipeline(const std::string& path, const char* dataset) {
    H5Id file(H5Fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT));
    H5Id data(H5Dopen2(file.id, dataset, H5P_DEFAULT));
    const hid_t dcpl = H5Dget_create_plist(data.id);
    std::vector<Filter> filters;
    for (int i = 0; i < H5Pget_nfilters(dcpl); ++i) {
        Filter f{};
        std::size_t count = 8;
        f.values.resize(count);
        f.id = H5Pget_filter2(dcpl, static_cast<unsigned>(i), &f.flags, &count, f.values.data(), 0,
                              nullptr, nullptr);
        f.values.resize(count);
        filters.push_back(f);
    }
    H5Pclose(dcpl);
    return filters;
}

Record record(int i) {
    return {i,
            {i * 0.5, i * 1.5, -i * 2.0},
            static_cast<float>(i) / 8.0f,
            static_cast<std::uint8_t>(i % 3)};
}

int recordType() {
    const int type = QMXLcreateCompoundType(0, sizeof(Record), 0);
    QMXLaddField(type, "id", offsetof(Record, id), QMXL_INT32);
    QMXLaddArray(type, "position", offsetof(Record, position), QMXL_FLOAT64, 3);
    QMXLaddField(type, "weight", offsetof(Record, weight), QMXL_FLOAT32);
    QMXLaddField(type, "flag", offsetof(Record, flag), QMXL_UINT8);
    return type;
}

bool sameRecords(const std::vector<Record>& a, const std::vector<Record>& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i].id != b[i].id || a[i].position[0] != b[i].position[0] ||
            a[i].position[2] != b[i].position[2] || a[i].weight != b[i].weight ||
            a[i].flag != b[i].flag)
            return false;
    return true;
}

class Compressors : public ContainerTest {};

}  // namespace

TEST_F(Compressors, EveryCompressorRoundTripsNumbersRecordsBytesAndNoise) {
    const auto doubles = smooth(200000);
    std::vector<std::int32_t> ints(50000);
    for (std::size_t i = 0; i < ints.size(); ++i)
        ints[i] = static_cast<std::int32_t>(i / 7) - 1000;
    std::vector<Record> records(3000);
    for (int i = 0; i < 3000; ++i)
        records[static_cast<std::size_t>(i)] = record(i);
    // Random bytes do not compress: a mandatory filter must still store them.
    const std::string noise = pattern(300000, 7);
    const int type = recordType();
    for (int c : kCompressors) {
        ThreadCompressor choice(c);
        const std::string group = "/c" + std::to_string(c);
        ASSERT_OK(QMXLcreateTypedDataset(file, group.c_str(), "doubles", 6, 0, 1, QMXL_FLOAT64,
                                         static_cast<long long>(doubles.size()), doubles.data()));
        ASSERT_OK(QMXLcreateTypedDataset(file, group.c_str(), "ints", 9, 10000, 1, QMXL_INT32,
                                         static_cast<long long>(ints.size()), ints.data()));
        ASSERT_OK(QMXLcreateObjectDataset(file, group.c_str(), "records", 3, 1000, 1, type, 1,
                                          static_cast<long long>(records.size()), records.data()));
        ASSERT_OK(QMXLcreateCompressedOpaqueData(file, group.c_str(), "noise", 1, 65536,
                                                 static_cast<long long>(noise.size()),
                                                 noise.data()));
    }
    QMXLcloseObject(type);
    reopen(true);
    const int readType = recordType();
    for (int c : kCompressors) {
        SCOPED_TRACE(c);
        const std::string group = "/c" + std::to_string(c);
        std::vector<double> d(doubles.size());
        ASSERT_OK(QMXLreadTypedDataset(file, group.c_str(), "doubles", QMXL_FLOAT64, d.data()));
        EXPECT_EQ(d, doubles);
        // Converted on the way out, as uncompressed items are.
        std::vector<std::int64_t> wide(ints.size());
        ASSERT_OK(QMXLreadTypedDataset(file, group.c_str(), "ints", QMXL_INT64, wide.data()));
        EXPECT_EQ(wide.front(), -1000);
        EXPECT_EQ(wide.back(), ints.back());
        std::vector<Record> r(records.size());
        ASSERT_OK(QMXLreadObjectDataset(file, group.c_str(), "records", readType, r.data()));
        EXPECT_TRUE(sameRecords(r, records));
        std::string bytes(noise.size(), '\0');
        ASSERT_OK(QMXLreadOpaqueData(file, group.c_str(), "noise", bytes.data()));
        EXPECT_EQ(bytes, noise);
        int stored = -9, level = -9;
        ASSERT_OK(QMXLgetDatasetCompression(file, group.c_str(), "ints", &stored, &level));
        EXPECT_EQ(stored, c);
        EXPECT_EQ(level, c == QMXL_LZ4 ? 1 : 9);  // LZ4 has no levels
    }
    QMXLcloseObject(readType);
}

TEST_F(Compressors, PipelinesAreTheOnesOtherReadersKnow) {
    const auto doubles = smooth(10000);
    for (int c : kCompressors) {
        ThreadCompressor choice(c);
        ASSERT_OK(QMXLcreateTypedDataset(file, "/p", ("d" + std::to_string(c)).c_str(), 4, 0, 1,
                                         QMXL_FLOAT64, 10000, doubles.data()));
    }
    std::vector<std::uint8_t> bytes(10000, 5);
    {
        ThreadCompressor choice(QMXL_LZ4);
        ASSERT_OK(
            QMXLcreateTypedDataset(file, "/p", "bytes", 4, 0, 1, QMXL_UINT8, 10000, bytes.data()));
    }
    QMXLcloseAllFileHandlesForFile(file);

    auto deflate = pipeline(path, "/p/d0");
    ASSERT_EQ(deflate.size(), 2u);
    EXPECT_EQ(deflate[0].id, H5Z_FILTER_SHUFFLE);
    EXPECT_EQ(deflate[1].id, H5Z_FILTER_DEFLATE);
    EXPECT_EQ(deflate[1].values, std::vector<unsigned>{4});
    for (int c : {QMXL_BLOSC_LZ4, QMXL_BLOSC_ZSTD}) {
        auto blosc = pipeline(path, ("/p/d" + std::to_string(c)).c_str());
        ASSERT_EQ(blosc.size(), 1u);  // Blosc shuffles by itself
        EXPECT_EQ(blosc[0].id, kBlosc);
        // Optional: Blosc declines chunks it cannot shrink, which are then stored as they are.
        EXPECT_NE(blosc[0].flags & H5Z_FLAG_OPTIONAL, 0u);
        ASSERT_EQ(blosc[0].values.size(), 7u);
        EXPECT_EQ(blosc[0].values[2], 8u);  // element size, filled in by the plugin
        EXPECT_EQ(blosc[0].values[4], 4u);  // level
        EXPECT_EQ(blosc[0].values[5], 1u);  // byte shuffle
        EXPECT_EQ(blosc[0].values[6], c == QMXL_BLOSC_LZ4 ? 1u : 5u);
    }
    auto lz4 = pipeline(path, "/p/d3");
    ASSERT_EQ(lz4.size(), 2u);
    EXPECT_EQ(lz4[0].id, H5Z_FILTER_SHUFFLE);
    EXPECT_EQ(lz4[1].id, kLz4);
    // Nothing to shuffle in single bytes.
    auto plain = pipeline(path, "/p/bytes");
    ASSERT_EQ(plain.size(), 1u);
    EXPECT_EQ(plain[0].id, kLz4);
}

TEST_F(Compressors, ProcessChoiceThreadChoiceAndUpdates) {
    const auto doubles = smooth(20000);
    ASSERT_OK(QMXLsetCompressor(QMXL_BLOSC_ZSTD));
    EXPECT_EQ(QMXLgetCompressor(), QMXL_BLOSC_ZSTD);
    ASSERT_OK(
        QMXLcreateTypedDataset(file, "/", "process", 5, 0, 1, QMXL_FLOAT64, 20000, doubles.data()));
    {
        // Another thread's own choice is its own.
        std::thread other([&] {
            ThreadCompressor choice(QMXL_LZ4);
            EXPECT_OK(QMXLcreateTypedDataset(file, "/", "thread", 5, 0, 1, QMXL_FLOAT64, 20000,
                                             doubles.data()));
        });
        other.join();
    }
    ASSERT_OK(
        QMXLcreateTypedDataset(file, "/", "small", 5, 0, 1, QMXL_FLOAT64, 10, doubles.data()));
    ASSERT_OK(QMXLsetCompressor(QMXL_DEFLATE));

    int c = -9, level = -9;
    ASSERT_OK(QMXLgetDatasetCompression(file, "/", "process", &c, &level));
    EXPECT_EQ(c, QMXL_BLOSC_ZSTD);
    EXPECT_EQ(level, 5);
    ASSERT_OK(QMXLgetDatasetCompression(file, "/", "thread", &c, &level));
    EXPECT_EQ(c, QMXL_LZ4);
    // Small: stored plain, waiting with its level for the compressor of the update that grows it.
    ASSERT_OK(QMXLgetDatasetCompression(file, "/", "small", &c, &level));
    EXPECT_EQ(c, QMXL_COMPRESSOR_FOLLOW);
    EXPECT_EQ(level, 5);

    // An update laid out anew keeps the item's compressor, whatever the process chose since.
    const auto longer = smooth(30000);
    ASSERT_OK(QMXLupdateTypedDataset(file, "/", "process", QMXL_FLOAT64, 30000, longer.data()));
    ASSERT_OK(QMXLgetDatasetCompression(file, "/", "process", &c, &level));
    EXPECT_EQ(c, QMXL_BLOSC_ZSTD);
    EXPECT_EQ(level, 5);
    {
        ThreadCompressor choice(QMXL_BLOSC_LZ4);
        ASSERT_OK(QMXLupdateTypedDataset(file, "/", "small", QMXL_FLOAT64, 30000, longer.data()));
        // The same count rewrites in place through the item's own filter.
        ASSERT_OK(QMXLupdateTypedDataset(file, "/", "thread", QMXL_FLOAT64, 20000, longer.data()));
    }
    ASSERT_OK(QMXLgetDatasetCompression(file, "/", "small", &c, &level));
    EXPECT_EQ(c, QMXL_BLOSC_LZ4);
    EXPECT_EQ(level, 5);
    reopen(true);
    std::vector<double> back(30000);
    for (const char* name : {"process", "small"}) {
        ASSERT_OK(QMXLreadTypedDataset(file, "/", name, QMXL_FLOAT64, back.data()));
        EXPECT_EQ(back, longer) << name;
    }
    back.resize(20000);
    ASSERT_OK(QMXLreadTypedDataset(file, "/", "thread", QMXL_FLOAT64, back.data()));
    EXPECT_EQ(back, std::vector<double>(longer.begin(), longer.begin() + 20000));
}

TEST_F(Compressors, CompactionKeepsCompressedItemsAsTheyAre) {
    const auto doubles = smooth(50000);
    for (int c : {QMXL_BLOSC_LZ4, QMXL_LZ4}) {
        ThreadCompressor choice(c);
        ASSERT_OK(QMXLcreateTypedDataset(file, "/k", ("d" + std::to_string(c)).c_str(), 5, 0, 1,
                                         QMXL_FLOAT64, 50000, doubles.data()));
        ASSERT_OK(QMXLcreateTypedDataset(file, "/gone", ("d" + std::to_string(c)).c_str(), 5, 0, 1,
                                         QMXL_FLOAT64, 50000, doubles.data()));
    }
    ASSERT_OK(QMXLremoveGroup(file, "/gone"));
    QMXLcloseAllFileHandlesForFile(file);
    ASSERT_OK(QMXLdeflate(path.c_str(), 100));
    EXPECT_EQ(pipeline(path, "/k/d1")[0].id, kBlosc);
    file = QMXLopenFileReadOnly(path.c_str());
    std::vector<double> back(50000);
    for (const char* name : {"d1", "d3"}) {
        ASSERT_OK(QMXLreadTypedDataset(file, "/k", name, QMXL_FLOAT64, back.data()));
        EXPECT_EQ(back, doubles);
    }
}

TEST_F(Compressors, UnknownCompressorsAndBadArgumentsAreRefused) {
    EXPECT_EQ(QMXLsetCompressor(4), -1);
    EXPECT_ERROR("compressor 4 is unknown");
    EXPECT_EQ(QMXLsetCompressor(QMXL_COMPRESSOR_FOLLOW), -1);  // the process has nothing to follow
    EXPECT_EQ(QMXLgetCompressor(), QMXL_DEFLATE);
    int previous = -9;
    EXPECT_EQ(QMXLsetThreadCompressor(-2, &previous), -1);
    EXPECT_EQ(previous, -9);
    EXPECT_EQ(QMXLcompressorAvailable(17), -1);
    for (int c : kCompressors)
        EXPECT_EQ(QMXLcompressorAvailable(c), 1) << c;

    int c = 0, level = 0;
    EXPECT_EQ(QMXLgetDatasetCompression(file, "/", "none", &c, &level), -1);
    EXPECT_EQ(QMXLgetLastFailureKind(), QMXL_FAILED_MISSING);
    ASSERT_OK(QMXLcreateTypedDataset(file, "/", "x", 0, 0, 1, QMXL_INT32, 1, &c));
    EXPECT_EQ(QMXLgetDatasetCompression(file, "/", "x", nullptr, &level), -1);
    EXPECT_OK(QMXLgetDatasetCompression(file, "/", "x", &c, &level));
    EXPECT_EQ(c, QMXL_COMPRESSOR_FOLLOW);
    EXPECT_EQ(level, 0);
}

// Damage under compression, in an item read whole and in one read in slices of whole chunks
// (2 MiB and more), each slice summed on the checksum thread while the next is decompressed.
TEST_F(Compressors, DamageUnderCompressionIsStillCaught) {
    for (const std::size_t count : {std::size_t{100000}, std::size_t{400000}}) {
        SCOPED_TRACE(count);
        reopen(false);
        const auto doubles = smooth(count);
        const std::string size = std::to_string(count);
        for (int c : {QMXL_BLOSC_LZ4, QMXL_BLOSC_ZSTD, QMXL_LZ4}) {
            ThreadCompressor choice(c);
            const std::string name = "d" + std::to_string(c) + "_" + size;
            ASSERT_OK(QMXLcreateTypedDataset(file, "/", name.c_str(), 5, 0, 1, QMXL_FLOAT64,
                                             static_cast<long long>(count), doubles.data()));
            const std::string torn = "t" + std::to_string(c) + "_" + size;
            ASSERT_OK(QMXLcreateTypedDataset(file, "/", torn.c_str(), 5, 0, 1, QMXL_FLOAT64,
                                             static_cast<long long>(count), doubles.data()));
        }
        QMXLcloseAllFileHandlesForFile(file);
        {
            // Another program rewrites the values through the filter: the stream is sound, the
            // checksum is not. Then a compressed chunk (the last one) loses bytes in its middle.
            H5Id h5(H5Fopen(path.c_str(), H5F_ACC_RDWR, H5P_DEFAULT));
            auto changed = doubles;
            changed[count - 5] += 1.0;
            for (int c : {QMXL_BLOSC_LZ4, QMXL_BLOSC_ZSTD, QMXL_LZ4}) {
                H5Id d(H5Dopen2(h5.id, ("d" + std::to_string(c) + "_" + size).c_str(),
                                H5P_DEFAULT));
                ASSERT_GE(H5Dwrite(d.id, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT,
                                   changed.data()),
                          0);
                H5Id t(H5Dopen2(h5.id, ("t" + std::to_string(c) + "_" + size).c_str(),
                                H5P_DEFAULT));
                const hid_t dcpl = H5Dget_create_plist(t.id);
                hsize_t chunk = 0;
                ASSERT_EQ(H5Pget_chunk(dcpl, 1, &chunk), 1);
                H5Pclose(dcpl);
                const hsize_t origin = (count - 1) / chunk * chunk;
                hsize_t stored = 0;
                ASSERT_GE(H5Dget_chunk_storage_size(t.id, &origin, &stored), 0);
                std::vector<unsigned char> bytes(stored);
                std::uint32_t mask = 0;
                ASSERT_GE(H5Dread_chunk(t.id, H5P_DEFAULT, &origin, &mask, bytes.data()), 0);
                for (std::size_t i = stored / 2; i < stored / 2 + 16; ++i)
                    bytes[i] ^= 0x5a;
                ASSERT_GE(H5Dwrite_chunk(t.id, H5P_DEFAULT, mask, &origin, stored, bytes.data()),
                          0);
            }
        }
        reopen(true);
        std::vector<double> back(count);
        for (int c : {QMXL_BLOSC_LZ4, QMXL_BLOSC_ZSTD, QMXL_LZ4}) {
            SCOPED_TRACE(c);
            back.assign(count, 1.0);
            EXPECT_EQ(QMXLreadTypedDataset(file, "/", ("d" + std::to_string(c) + "_" + size).c_str(),
                                           QMXL_FLOAT64, back.data()),
                      -1);
            EXPECT_ERROR("checksum mismatch");
            EXPECT_EQ(back[count - 5], 0.0) << "the buffer is zeroed";
            // Either the decompressor notices or the checksum does; the values never pass as good.
            back.assign(count, 1.0);
            EXPECT_EQ(QMXLreadTypedDataset(file, "/", ("t" + std::to_string(c) + "_" + size).c_str(),
                                           QMXL_FLOAT64, back.data()),
                      -1);
            EXPECT_EQ(lastError().find("not installed"), std::string::npos) << lastError();
            EXPECT_EQ(back[0], 0.0) << "the buffer is zeroed";
        }
    }
}

// A process that cannot load a plugin: the filters this process may have loaded already are
// dropped and HDF5 may not look for them again.
namespace {

int withoutPlugins(const std::function<int()>& work) {
    return runInChild(
        [&] {
            H5Zunregister(kBlosc);
            H5Zunregister(kLz4);
            H5Zunregister(kBzip2);
            H5PLset_loading_state(0);
            return work();
        },
        ChildEnd::QuickExit);
}

bool says(const std::string& text) {
    const std::string message = lastError();
    if (message.find(text) != std::string::npos)
        return true;
    std::fprintf(stderr, "expected \"%s\" in \"%s\"\n", text.c_str(), message.c_str());
    return false;
}

}  // namespace

TEST_F(Compressors, AMissingPluginIsNamedOnCreateReadAndRewrite) {
    const auto doubles = smooth(20000);
    for (int c : {QMXL_BLOSC_LZ4, QMXL_BLOSC_ZSTD, QMXL_LZ4}) {
        ThreadCompressor choice(c);
        ASSERT_OK(QMXLcreateTypedDataset(file, "/", ("d" + std::to_string(c)).c_str(), 5, 0, 1,
                                         QMXL_FLOAT64, 20000, doubles.data()));
    }
    ASSERT_OK(QMXLcreateTypedDataset(file, "/", "deflated", 5, 0, 1, QMXL_FLOAT64, 20000,
                                     doubles.data()));
    {
        ThreadCompressor choice(QMXL_BLOSC_LZ4);
        const auto many = smooth(400000);
        ASSERT_OK(QMXLcreateTypedDataset(file, "/", "large", 5, 0, 1, QMXL_FLOAT64, 400000,
                                         many.data()));
    }
    // The child works on the file alone: it commits its changes when it closes the file.
    QMXLcloseAllFileHandlesForFile(file);
    const std::string blosc =
        "needs the HDF5 filter plugin Blosc (id 32001), which is not installed";
    const std::string lz4 = "needs the HDF5 filter plugin LZ4 (id 32004), which is not installed";
    const int status = withoutPlugins([&] {
        const int file = QMXLopenFile(path.c_str());
        int failures = file > 0 ? 0 : 64;
        std::vector<double> back(20000);
        // Reading.
        if (QMXLreadTypedDataset(file, "/", "d1", QMXL_FLOAT64, back.data()) != -1 ||
            !says("cannot read") || !says("the item " + blosc))
            failures |= 1;
        if (QMXLreadTypedDataset(file, "/", "d3", QMXL_FLOAT64, back.data()) != -1 ||
            !says("the item " + lz4))
            failures |= 2;
        std::vector<double> large(400000);  // read in slices of whole chunks
        if (QMXLreadTypedDataset(file, "/", "large", QMXL_FLOAT64, large.data()) != -1 ||
            !says("the item " + blosc))
            failures |= 256;
        // Rewriting in place needs no plugin: the filters are optional, so HDF5 stores the
        // chunks as they are and marks them so.
        const std::vector<double> zeros(20000, 0.0);
        if (QMXLupdateTypedDataset(file, "/", "d2", QMXL_FLOAT64, 20000, zeros.data()) != 1)
            failures |= 4;
        // Laying an item out anew makes a new dataset with the item's compressor.
        if (QMXLupdateTypedDataset(file, "/", "d1", QMXL_FLOAT64, 10000, doubles.data()) != -1 ||
            !says("cannot update") || !says("Blosc LZ4 compression " + blosc))
            failures |= 128;
        // Creating.
        if (QMXLcompressorAvailable(QMXL_BLOSC_ZSTD) != 0 ||
            !says("Blosc Zstandard compression " + blosc))
            failures |= 8;
        int previous = 0;
        QMXLsetThreadCompressor(QMXL_LZ4, &previous);
        if (QMXLcreateTypedDataset(file, "/", "new", 5, 0, 1, QMXL_FLOAT64, 20000,
                                   doubles.data()) != -1 ||
            !says("cannot create dataset") || !says(lz4) || QMXLexistsDataset(file, "/new") != 0)
            failures |= 16;
        // Small items and level 0 need no plugin; deflate is HDF5's own.
        if (QMXLcreateTypedDataset(file, "/", "small", 5, 0, 1, QMXL_FLOAT64, 10, doubles.data()) !=
                1 ||
            QMXLcreateTypedDataset(file, "/", "plain", 0, 0, 1, QMXL_FLOAT64, 20000,
                                   doubles.data()) != 1 ||
            QMXLreadTypedDataset(file, "/", "deflated", QMXL_FLOAT64, back.data()) != 1 ||
            back != doubles)
            failures |= 32;
        if (QMXLcloseFile(file) != 1)
            failures |= 64;
        return failures;
    });
    EXPECT_EQ(status, 0);
    file = QMXLopenFile(path.c_str());
    ASSERT_GT(file, 0) << lastError();
    // This process still has its plugins and reads everything, the chunks rewritten without
    // the plugin too.
    std::vector<double> back(20000);
    for (const char* name : {"d1", "d3"}) {
        ASSERT_OK(QMXLreadTypedDataset(file, "/", name, QMXL_FLOAT64, back.data()));
        EXPECT_EQ(back, doubles);
    }
    ASSERT_OK(QMXLreadTypedDataset(file, "/", "d2", QMXL_FLOAT64, back.data()));
    EXPECT_EQ(back, std::vector<double>(20000, 0.0));
    QMXLcloseAllFileHandlesForFile(file);
    const auto d2 = pipeline(path, "/d2");
    ASSERT_EQ(d2.size(), 1u);
    EXPECT_EQ(d2[0].id, kBlosc);
}

TEST_F(Compressors, AnotherProgramsMissingFilterIsNamedByItsStoredName) {
    QMXLcloseAllFileHandlesForFile(file);
    {
        // bzip2, from the same Debian package as LZ4.
        ASSERT_GT(H5Zfilter_avail(kBzip2), 0);
        H5Id h5(H5Fopen(path.c_str(), H5F_ACC_RDWR, H5P_DEFAULT));
        const hsize_t n = 5000;
        H5Id space(H5Screate_simple(1, &n, nullptr));
        const hid_t dcpl = H5Pcreate(H5P_DATASET_CREATE);
        const unsigned blockSize = 9;
        H5Pset_chunk(dcpl, 1, &n);
        H5Pset_filter(dcpl, kBzip2, H5Z_FLAG_OPTIONAL, 1, &blockSize);
        H5Id d(H5Dcreate2(h5.id, "bz", H5T_STD_I32LE, space.id, H5P_DEFAULT, dcpl, H5P_DEFAULT));
        H5Pclose(dcpl);
        std::vector<std::int32_t> values(n, 7);
        ASSERT_GE(H5Dwrite(d.id, H5T_NATIVE_INT32, H5S_ALL, H5S_ALL, H5P_DEFAULT, values.data()),
                  0);
    }
    file = QMXLopenFile(path.c_str());
    ASSERT_OK(QMXLsealObject(file, "/bz"));
    QMXLcloseAllFileHandlesForFile(file);
    const int status = withoutPlugins([&] {
        const int file = QMXLopenFileReadOnly(path.c_str());
        std::vector<std::int32_t> back(5000);
        const bool named = QMXLreadTypedDataset(file, "/", "bz", QMXL_INT32, back.data()) == -1 &&
                           says("the item needs the HDF5 filter plugin \"HDF5 bzip2 filter") &&
                           says("(id 307), which is not installed");
        QMXLcloseFile(file);
        return named ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
}

TEST(CompressorsInterop, H5pyWithHdf5pluginReadsBloscAndLz4Items) {
    TempDir dir;
    const std::string path = dir.file("compressed.qmz");
    const int file = QMXLcreateFile(path.c_str());
    ASSERT_GT(file, 0) << lastError();
    // Values numpy computes bit for bit alike.
    std::vector<double> doubles(100000);
    for (std::size_t i = 0; i < doubles.size(); ++i)
        doubles[i] = static_cast<double>(i / 8) * 0.5 + (i % 16) * 0.125;
    std::vector<Record> records(3000);
    for (int i = 0; i < 3000; ++i)
        records[static_cast<std::size_t>(i)] = record(i);
    std::string blob(100000, '\0');
    for (std::size_t i = 0; i < blob.size(); ++i)
        blob[i] = static_cast<char>(i % 251);
    const int type = recordType();
    const std::pair<int, const char*> groups[] = {
        {QMXL_BLOSC_LZ4, "/blosc_lz4"}, {QMXL_BLOSC_ZSTD, "/blosc_zstd"}, {QMXL_LZ4, "/lz4"}};
    for (const auto& [c, group] : groups) {
        ThreadCompressor choice(c);
        EXPECT_OK(QMXLcreateTypedDataset(file, group, "doubles", 5, 16384, 1, QMXL_FLOAT64, 100000,
                                         doubles.data()));
        EXPECT_OK(QMXLcreateObjectDataset(file, group, "records", 5, 0, 1, type, 1, 3000,
                                          records.data()));
        EXPECT_OK(QMXLcreateCompressedOpaqueData(file, group, "blob", 5, 0, 100000, blob.data()));
    }
    QMXLcloseObject(type);
    ASSERT_OK(QMXLcloseFile(file));
    const std::string command =
        std::string(QMX_PYTHON) + " " + QMX_COMPRESSED_INTEROP_SCRIPT + " " + path;
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
}

// HDF5_PLUGIN_PATH replaces HDF5's own plugin directory when a process starts; the library
// keeps the distribution's in reach. The test runs its own binary again with the variable set.
TEST(CompressorsPluginPath, DistributionPluginsAreFoundWhateverHdf5PluginPathNames) {
    if (const char* item = std::getenv("QMX_TEST_READ_BLOSC")) {
        const int file = QMXLopenFileReadOnly(item);
        ASSERT_GT(file, 0) << lastError();
        std::vector<double> back(20000);
        EXPECT_OK(QMXLreadTypedDataset(file, "/", "d", QMXL_FLOAT64, back.data()));
        EXPECT_EQ(back, smooth(20000));
        QMXLcloseFile(file);
        return;
    }
    TempDir dir;
    const std::string path = dir.file("blosc.qmz");
    const int file = QMXLcreateFile(path.c_str());
    ASSERT_GT(file, 0) << lastError();
    {
        ThreadCompressor choice(QMXL_BLOSC_LZ4);
        ASSERT_OK(QMXLcreateTypedDataset(file, "/", "d", 5, 0, 1, QMXL_FLOAT64, 20000,
                                         smooth(20000).data()));
    }
    QMXLcloseFile(file);
    const std::string empty = dir.file("no-plugins");
    ASSERT_EQ(std::system(("mkdir " + empty).c_str()), 0);
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    const std::string command = "HDF5_PLUGIN_PATH=" + empty + " QMX_TEST_READ_BLOSC=" + path + " " +
                                self + " --gtest_filter=CompressorsPluginPath.* >/dev/null";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
}
