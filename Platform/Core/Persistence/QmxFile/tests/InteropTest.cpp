// Other readers: h5py and h5dump must read what the library writes, appended items (extendible,
// compressed with Blosc, records) included.
#include "TestFiles.h"

#include <cstddef>
#include <cstdlib>

using namespace Quellmar::testing;

namespace {

struct Record {
    std::int32_t id;
    double value;
    float position[3];
    std::uint8_t flag;
};

template <typename T>
void vector(int file, const char* name, int code, bool isSigned) {
    T values[10];
    for (int i = 0; i < 10; ++i)
        values[i] = static_cast<T>(i * 3 - (isSigned ? 5 : 0));
    ASSERT_OK(QMXLcreateTypedDataset(file, "/vectors", name, 0, 100000, 1, code, 10, values));
}

void writeContainer(const std::string& path) {
    const int file = QMXLcreateFile(path.c_str());
    ASSERT_GT(file, 0);
    const int group = QMXLcreateOpaqueDataGroup(file, "//objects");
    const int version = 3;
    const unsigned long long big = ~0ull;
    ASSERT_OK(QMXLcreateAttribute(group, "Version", &version));
    ASSERT_OK(QMXLcreateUInt64Attribute(group, "MaximumIdentifierValue", &big));
    ASSERT_OK(QMXLsetStringAttribute(group, "Id", "identifier"));
    QMXLcloseGroup(group);

    std::string bytes(300, '\0');
    for (int i = 0; i < 300; ++i)
        bytes[static_cast<size_t>(i)] = static_cast<char>(i % 256);
    ASSERT_OK(
        QMXLcreateCompressedOpaqueData(file, "//objects", "blob", 0, 100000, 300, bytes.data()));
    ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "//objects", "empty", 0, 100000, 0, nullptr));
    std::string zipped(5000, '\0');
    for (int i = 0; i < 5000; ++i)
        zipped[static_cast<size_t>(i)] = static_cast<char>(i % 7);
    ASSERT_OK(
        QMXLcreateCompressedOpaqueData(file, "//objects", "zipped", 5, 1024, 5000, zipped.data()));
    ASSERT_OK(
        QMXLcreateCompressedStringDataset(file, "//objects", "text", 0, 0, 11, "hello\nworld"));

    vector<std::int32_t>(file, "int32", QMXL_INT32, true);
    vector<std::uint32_t>(file, "uint32", QMXL_UINT32, false);
    vector<float>(file, "float32", QMXL_FLOAT32, true);
    vector<double>(file, "float64", QMXL_FLOAT64, true);
    vector<std::int16_t>(file, "int16", QMXL_INT16, true);
    vector<std::int64_t>(file, "int64", QMXL_INT64, true);
    vector<std::uint64_t>(file, "uint64", QMXL_UINT64, false);
    vector<std::uint16_t>(file, "uint16", QMXL_UINT16, false);
    vector<std::uint8_t>(file, "uint8", QMXL_UINT8, false);
    vector<std::int8_t>(file, "int8", QMXL_INT8, true);
    std::vector<double> quarters(1000);
    for (int i = 0; i < 1000; ++i)
        quarters[static_cast<size_t>(i)] = i / 4.0;
    ASSERT_OK(QMXLcreateTypedDataset(file, "/vectors", "zipped", 1, 100, 1, QMXL_FLOAT64, 1000,
                                     quarters.data()));
    const int dataset = QMXLopenDataset(file, "/vectors/zipped");
    const int rows = 1000;
    ASSERT_OK(QMXLsetAttribute(dataset, "Rows", &rows));
    QMXLcloseObject(dataset);

    const int type = QMXLcreateCompoundType(0, sizeof(Record), 0);
    QMXLaddField(type, "id", offsetof(Record, id), QMXL_INT32);
    QMXLaddField(type, "value", offsetof(Record, value), QMXL_FLOAT64);
    QMXLaddArray(type, "position", offsetof(Record, position), QMXL_FLOAT32, 3);
    QMXLaddField(type, "flag", offsetof(Record, flag), QMXL_UINT8);
    Record records[4];
    for (int i = 0; i < 4; ++i)
        records[i] = {i, i * 1.5, {float(i), float(i) + 0.25f, 0.0f}, 1};
    ASSERT_OK(
        QMXLcreateObjectDataset(file, "/vectors", "records", 0, 100000, 1, type, 1, 4, records));
    QMXLcloseObject(type);
    QMXLcloseFile(file);
}

int run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str());
}

}  // namespace

TEST(Interop, H5pyReadsBlobsVectorsRecordsAndAttributes) {
    TempDir dir;
    const std::string path = dir.file("interop.qmz");
    writeContainer(path);
    const std::string command = std::string(QMX_PYTHON) + " " + QMX_INTEROP_SCRIPT + " " + path;
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
}

TEST(Interop, H5dumpParsesEveryKindOfFile) {
    TempDir dir;
    const std::string container = dir.file("c.qmz");
    writeContainer(container);
    const std::string native = dir.file("n.h5");
    int file = QMXLcreateNativeHDF5(native.c_str());
    ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/a/b", "x", 0, 0, 1, "x"));
    QMXLcloseFile(file);
    const std::string compacted = dir.file("d.qmz");
    writeContainer(compacted);
    file = QMXLopenFile(compacted.c_str());
    ASSERT_OK(QMXLremoveGroup(file, "/vectors"));
    QMXLcloseFile(file);
    ASSERT_OK(QMXLdeflate(compacted.c_str(), 100));

    for (const std::string& path : {container, native, compacted})
        EXPECT_EQ(run(std::string(QMX_H5DUMP) + " " + path), 0) << path;
    const std::string out = dir.file("dump.txt");
    ASSERT_EQ(std::system((std::string(QMX_H5DUMP) + " -A " + container + " > " + out).c_str()), 0);
    const std::string dump = readFile(out);
    EXPECT_NE(dump.find("QMZ_FORMAT_VERSION"), std::string::npos);
    EXPECT_NE(dump.find("H5T_OPAQUE"), std::string::npos);
    EXPECT_NE(dump.find("H5T_COMPOUND"), std::string::npos);
}

TEST(AppendedInterop, H5pyReadsAppendedItems) {
    TempDir dir;
    const std::string path = dir.file("appended.qmz");
    const int file = QMXLcreateFile(path.c_str());
    ASSERT_GT(file, 0) << lastError();
    std::vector<double> values(250000);
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = static_cast<double>(i) * 0.25;
    const bool blosc = QMXLcompressorAvailable(QMXL_BLOSC_LZ4) == 1;
    int previous = QMXL_COMPRESSOR_FOLLOW;
    ASSERT_OK(QMXLsetThreadCompressor(QMXL_BLOSC_LZ4, &previous));
    for (const auto& [name, level] : {std::pair<const char*, int>{"plain", 0}, {"blosc", 5}}) {
        if (level > 0 && !blosc)
            continue;
        // The first 100,000 as one item (compressed: chunked), then appends of 10,000.
        ASSERT_OK(QMXLcreateTypedDataset(file, "/a", name, level, 0, 0, QMXL_FLOAT64, 100000,
                                         values.data()));
        const int handle = QMXLopenDataset(file, (std::string("/a/") + name).c_str());
        const int unit = 3;
        ASSERT_OK(QMXLcreateAttribute(handle, "Unit", &unit));
        QMXLcloseObject(handle);
        for (std::size_t at = 100000; at < values.size(); at += 10000)
            ASSERT_OK(QMXLappendTypedDataset(file, "/a", name, QMXL_FLOAT64, 10000, &values[at]));
    }
    QMXLsetThreadCompressor(previous, nullptr);

    struct Record {
        std::int64_t id;
        double value;
    };
    const int type = QMXLcreateCompoundType(0, sizeof(Record), 0);
    QMXLaddField(type, "id", offsetof(Record, id), QMXL_INT64);
    QMXLaddField(type, "value", offsetof(Record, value), QMXL_FLOAT64);
    std::vector<Record> records(20000);
    for (int i = 0; i < 20000; ++i)
        records[static_cast<std::size_t>(i)] = {i, i * 2.0};
    ASSERT_OK(QMXLcreateObjectDataset(file, "/a", "records", 0, 0, 0, type, 0, 1, records.data()));
    ASSERT_OK(QMXLappendObjectDataset(file, "/a", "records", type, 19999, &records[1]));
    QMXLcloseObject(type);
    ASSERT_OK(QMXLcloseFile(file));
    if (!blosc)
        GTEST_SKIP() << "the Blosc plugin is not installed";
    const std::string command =
        std::string(QMX_PYTHON) + " " + QMX_APPENDED_INTEROP_SCRIPT + " " + path;
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
}
