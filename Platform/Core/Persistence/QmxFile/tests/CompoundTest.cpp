#include "TestFiles.h"

#include <cstddef>
#include <cstdint>

using namespace Quellmar::testing;

using Compounds = ContainerTest;

namespace {

struct Record {
    std::int32_t id;
    double value;
    float position[3];
    std::uint8_t flag;
};

int recordType() {
    const int type = QMXLcreateCompoundType(0, sizeof(Record), 0);
    if (type <= 0)
        return type;
    QMXLaddField(type, "id", offsetof(Record, id), QMXL_INT32);
    QMXLaddField(type, "value", offsetof(Record, value), QMXL_FLOAT64);
    QMXLaddArray(type, "position", offsetof(Record, position), QMXL_FLOAT32, 3);
    QMXLaddField(type, "flag", offsetof(Record, flag), QMXL_UINT8);
    return type;
}

std::vector<Record> records(int n) {
    std::vector<Record> out(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        out[static_cast<size_t>(i)] = {
            i, i * 1.5, {float(i), float(i) + 0.25f, -float(i)}, std::uint8_t(i % 2)};
    return out;
}

}  // namespace

TEST_F(Compounds, RecordsWithArrayMembersRoundTrip) {
    const int type = recordType();
    ASSERT_GT(type, 0) << lastError();
    const auto data = records(25);
    ASSERT_EQ(
        QMXLcreateObjectDataset(file, "/r", "records", 0, 100000, 1, type, 1, 25, data.data()), 1)
        << lastError();
    reopen(true);
    std::vector<Record> back(25);
    ASSERT_EQ(QMXLreadObjectDataset(file, "/r", "records", type, back.data()), 1) << lastError();
    for (int i = 0; i < 25; ++i) {
        EXPECT_EQ(back[i].id, i);
        EXPECT_EQ(back[i].value, i * 1.5);
        EXPECT_EQ(back[i].position[1], float(i) + 0.25f);
        EXPECT_EQ(back[i].flag, i % 2);
    }
    long long count = 0;
    int code = 0;
    ASSERT_EQ(QMXLgetDatasetInfo(file, "/r", "records", &count, &code), 1);
    EXPECT_EQ(count, 25);
    EXPECT_EQ(code, -1);
    long long bytes = 0;
    ASSERT_EQ(QMXLgetSizeOfDataset(file, "/r", "records", &bytes), 1);
    // Packed on disk: 4 + 8 + 12 + 1 bytes per record.
    EXPECT_EQ(bytes, 25 * 25);
    QMXLcloseObject(type);
}

TEST_F(Compounds, MembersAreMatchedByName) {
    const int full = recordType();
    const auto data = records(4);
    ASSERT_EQ(QMXLcreateObjectDataset(file, "/", "r", 3, 2, 1, full, 1, 4, data.data()), 1)
        << lastError();
    struct Partial {
        double value;
        std::int64_t id;
    };
    const int partial = QMXLcreateCompoundType(0, sizeof(Partial), 0);
    ASSERT_EQ(QMXLaddField(partial, "value", offsetof(Partial, value), QMXL_FLOAT64), 1);
    ASSERT_EQ(QMXLaddField(partial, "id", offsetof(Partial, id), QMXL_INT64), 1);
    Partial back[4] = {};
    ASSERT_EQ(QMXLreadObjectDataset(file, "/", "r", partial, back), 1) << lastError();
    EXPECT_EQ(back[3].id, 3);
    EXPECT_EQ(back[3].value, 4.5);
    // Updates of another count keep the stored record type.
    const auto more = records(9);
    ASSERT_EQ(QMXLupdateObjectDataset(file, "/", "r", full, 9, more.data()), 1) << lastError();
    std::vector<Record> all(9);
    ASSERT_EQ(QMXLreadObjectDataset(file, "/", "r", full, all.data()), 1);
    EXPECT_EQ(all[8].position[2], -8.0f);
    QMXLcloseObject(partial);
    QMXLcloseObject(full);
}

TEST_F(Compounds, BadDefinitionsAreRefused) {
    EXPECT_LT(QMXLcreateCompoundType(0, 0, 0), 0);
    EXPECT_LT(QMXLcreateCompoundType(1, 8, 0), 0);
    EXPECT_LT(QMXLcreateCompoundType(0, 8, 1), 0);
    const int type = QMXLcreateCompoundType(0, 8, 0);
    ASSERT_GT(type, 0);
    // Nothing to store yet.
    EXPECT_LT(QMXLcreateObjectDataset(file, "/", "x", 0, 0, 1, type, 1, 0, nullptr), 0);
    EXPECT_NE(lastError().find("no members"), std::string::npos) << lastError();
    EXPECT_EQ(QMXLaddField(type, "a", 0, QMXL_INT32), 1);
    EXPECT_LT(QMXLaddField(type, "a", 4, QMXL_INT32), 0);
    EXPECT_LT(QMXLaddField(type, "b", 6, QMXL_INT32), 0);
    EXPECT_NE(lastError().find("does not fit"), std::string::npos) << lastError();
    EXPECT_LT(QMXLaddField(type, "c", 100, QMXL_INT8), 0);
    EXPECT_LT(QMXLaddField(type, "d", 4, 6), 0);
    EXPECT_LT(QMXLaddField(type, "e", 4, QMXL_AS_STORED), 0);
    EXPECT_LT(QMXLaddField(type, nullptr, 4, QMXL_INT32), 0);
    EXPECT_LT(QMXLaddField(type, "", 4, QMXL_INT32), 0);
    EXPECT_LT(QMXLaddArray(type, "f", 4, QMXL_INT8, 0), 0);
    EXPECT_LT(QMXLaddArray(type, "g", 4, QMXL_INT8, 5), 0);
    EXPECT_EQ(QMXLaddArray(type, "h", 4, QMXL_INT8, 4), 1);
    EXPECT_LT(QMXLaddField(file, "x", 0, QMXL_INT8), 0);
    EXPECT_LT(QMXLaddField(-1, "x", 0, QMXL_INT8), 0);
    const unsigned char data[16] = {};
    EXPECT_LT(QMXLcreateObjectDataset(file, "/", "x", 0, 0, 1, file, 1, 2, data), 0);
    EXPECT_LT(QMXLcreateObjectDataset(file, "/", "x", 0, 0, 1, type, 1, -2, data), 0);
    ASSERT_EQ(QMXLcreateObjectDataset(file, "/", "x", 0, 0, 1, type, 1, 2, data), 1);
    EXPECT_LT(QMXLreadObjectDataset(file, "/", "x", type, nullptr), 0);
    ASSERT_EQ(QMXLcreateTypedDataset(file, "/", "t", 0, 0, 1, QMXL_INT32, 1, data), 1);
    unsigned char out[8];
    EXPECT_LT(QMXLreadObjectDataset(file, "/", "t", type, out), 0);
    EXPECT_NE(lastError().find("typed dataset"), std::string::npos) << lastError();
    QMXLcloseObject(type);
}
