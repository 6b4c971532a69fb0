// Appended items as other HDF5 readers see them: h5py reads an extendible item, one compressed
// with Blosc and one of records, written by many appends.
#include "TestFiles.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace Quellmar::testing;

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
    ASSERT_EQ(QMXLsetThreadCompressor(QMXL_BLOSC_LZ4, &previous), 1);
    for (const auto& [name, level] : {std::pair<const char*, int>{"plain", 0}, {"blosc", 5}}) {
        if (level > 0 && !blosc)
            continue;
        // The first 100,000 as one item (compressed: chunked), then appends of 10,000.
        ASSERT_EQ(QMXLcreateTypedDataset(file, "/a", name, level, 0, 0, QMXL_FLOAT64, 100000,
                                         values.data()),
                  1)
            << lastError();
        const int handle = QMXLopenDataset(file, (std::string("/a/") + name).c_str());
        const int unit = 3;
        ASSERT_EQ(QMXLcreateAttribute(handle, "Unit", &unit), 1);
        QMXLcloseObject(handle);
        for (std::size_t at = 100000; at < values.size(); at += 10000)
            ASSERT_EQ(QMXLappendTypedDataset(file, "/a", name, QMXL_FLOAT64, 10000, &values[at]),
                      1)
                << lastError();
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
    ASSERT_EQ(QMXLcreateObjectDataset(file, "/a", "records", 0, 0, 0, type, 0, 1, records.data()),
              1);
    ASSERT_EQ(QMXLappendObjectDataset(file, "/a", "records", type, 19999, &records[1]), 1)
        << lastError();
    QMXLcloseObject(type);
    ASSERT_EQ(QMXLcloseFile(file), 1);
    if (!blosc)
        GTEST_SKIP() << "the Blosc plugin is not installed";
    const std::string command =
        std::string(QMX_PYTHON) + " " + QMX_APPENDED_INTEROP_SCRIPT + " " + path;
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
}
