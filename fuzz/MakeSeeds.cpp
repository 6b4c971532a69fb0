// Writes small containers with one data item of every kind into a directory: the seed corpus of
// the fuzz target, and the originals the damaged-file tests start from.
#include "QMXL.h"

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Record {
    int id;
    double value;
    char tag[8];
};

bool fill(int file, int compression) {
    bool ok = QMXLcreatePathToGroup(file, "/Data") >= 0;
    const int objects = QMXLcreateOpaqueDataGroup(file, "/Data/Objects");
    ok = ok && objects > 0;
    if (objects > 0) {
        const int version = 3;
        ok = QMXLsetAttribute(objects, "Version", &version) >= 0 && ok;
        ok = QMXLsetStringAttribute(objects, "CreationRevisionString", "1.2.3") >= 0 && ok;
        QMXLcloseObject(objects);
    }
    std::string blob;
    for (int i = 0; i < 700; ++i)
        blob += static_cast<char>('a' + i % 26);
    ok =
        ok && QMXLcreateCompressedOpaqueData(file, "/Data/Objects", "blob", compression, 256,
                                             static_cast<long long>(blob.size()), blob.data()) >= 0;
    const std::string text = "<design name=\"seed\">text of a string item</design>";
    ok = ok &&
         QMXLcreateCompressedStringDataset(file, "/Data/Objects", "text", compression, 64,
                                           static_cast<long long>(text.size()), text.data()) >= 0;
    std::vector<double> values(100);
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = 0.5 * static_cast<double>(i);
    ok = ok && QMXLcreateTypedDataset(file, "/Data", "values", compression, 32, 0, QMXL_FLOAT64,
                                      static_cast<long long>(values.size()), values.data()) >= 0;
    std::vector<int> counts(40);
    for (std::size_t i = 0; i < counts.size(); ++i)
        counts[i] = static_cast<int>(i * i);
    ok = ok && QMXLcreateTypedDataset(file, "/Data", "counts", 0, 0, 1, QMXL_INT32,
                                      static_cast<long long>(counts.size()), counts.data()) >= 0;

    const int type = QMXLcreateCompoundType(0, sizeof(Record), 0);
    ok = ok && type > 0 && QMXLaddField(type, "id", offsetof(Record, id), QMXL_INT32) >= 0 &&
         QMXLaddField(type, "value", offsetof(Record, value), QMXL_FLOAT64) >= 0 &&
         QMXLaddArray(type, "tag", offsetof(Record, tag), QMXL_INT8, 8) >= 0;
    std::vector<Record> records(10);
    for (int i = 0; i < 10; ++i) {
        records[i].id = i;
        records[i].value = i * 1.25;
        std::snprintf(records[i].tag, sizeof records[i].tag, "r%d", i);
    }
    ok = ok && QMXLcreateObjectDataset(file, "/Data", "records", compression, 4, 0, type, 0,
                                       static_cast<long long>(records.size()), records.data()) >= 0;
    if (type > 0)
        QMXLcloseObject(type);
    return ok;
}

// A group whose member index spans several symbol-table nodes, created out of name order.
bool fillIndex(int file) {
    bool ok = QMXLcreatePathToGroup(file, "/Index") >= 0;
    for (int i = 0; i < 40 && ok; ++i) {
        const int value = i;
        const std::string name = "m" + std::to_string(i * 17 % 40);
        ok = QMXLcreateTypedDataset(file, "/Index", name.c_str(), 0, 0, 1, QMXL_INT32, 1, &value) >=
             0;
    }
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
        return 2;
    }
    QMXLregister();
    int failures = 0;
    for (int compression : {0, 6}) {
        const std::string path =
            std::string(argv[1]) + "/seed-" + std::to_string(compression) + ".qmz";
        std::remove(path.c_str());
        const int file = QMXLcreateFile(path.c_str());
        if (file <= 0 || !fill(file, compression) || (compression == 0 && !fillIndex(file))) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            ++failures;
        }
        if (file > 0)
            QMXLcloseFile(file);
    }
    return failures == 0 ? 0 : 1;
}
