// Records: stored compound types, members matched by name, and the description of what is
// stored (names, type codes and element counts in stored order).
#include "QMXLLists.h"
#include "TestFiles.h"

#include <cstddef>

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
    ASSERT_OK(
        QMXLcreateObjectDataset(file, "/r", "records", 0, 100000, 1, type, 1, 25, data.data()));
    reopen(true);
    std::vector<Record> back(25);
    ASSERT_OK(QMXLreadObjectDataset(file, "/r", "records", type, back.data()));
    for (int i = 0; i < 25; ++i) {
        EXPECT_EQ(back[i].id, i);
        EXPECT_EQ(back[i].value, i * 1.5);
        EXPECT_EQ(back[i].position[1], float(i) + 0.25f);
        EXPECT_EQ(back[i].flag, i % 2);
    }
    long long count = 0;
    int code = 0;
    ASSERT_OK(QMXLgetDatasetInfo(file, "/r", "records", &count, &code));
    EXPECT_EQ(count, 25);
    EXPECT_EQ(code, -1);
    long long bytes = 0;
    ASSERT_OK(QMXLgetSizeOfDataset(file, "/r", "records", &bytes));
    // Packed on disk: 4 + 8 + 12 + 1 bytes per record.
    EXPECT_EQ(bytes, 25 * 25);
    QMXLcloseObject(type);
}

TEST_F(Compounds, MembersAreMatchedByName) {
    const int full = recordType();
    const auto data = records(4);
    ASSERT_OK(QMXLcreateObjectDataset(file, "/", "r", 3, 2, 1, full, 1, 4, data.data()));
    struct Partial {
        double value;
        std::int64_t id;
    };
    const int partial = QMXLcreateCompoundType(0, sizeof(Partial), 0);
    ASSERT_OK(QMXLaddField(partial, "value", offsetof(Partial, value), QMXL_FLOAT64));
    ASSERT_OK(QMXLaddField(partial, "id", offsetof(Partial, id), QMXL_INT64));
    Partial back[4] = {};
    ASSERT_OK(QMXLreadObjectDataset(file, "/", "r", partial, back));
    EXPECT_EQ(back[3].id, 3);
    EXPECT_EQ(back[3].value, 4.5);
    // Updates of another count keep the stored record type.
    const auto more = records(9);
    ASSERT_OK(QMXLupdateObjectDataset(file, "/", "r", full, 9, more.data()));
    std::vector<Record> all(9);
    ASSERT_OK(QMXLreadObjectDataset(file, "/", "r", full, all.data()));
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
    EXPECT_ERROR("no members");
    EXPECT_OK(QMXLaddField(type, "a", 0, QMXL_INT32));
    EXPECT_LT(QMXLaddField(type, "a", 4, QMXL_INT32), 0);
    EXPECT_LT(QMXLaddField(type, "b", 6, QMXL_INT32), 0);
    EXPECT_ERROR("does not fit");
    EXPECT_LT(QMXLaddField(type, "c", 100, QMXL_INT8), 0);
    EXPECT_LT(QMXLaddField(type, "d", 4, 6), 0);
    EXPECT_LT(QMXLaddField(type, "e", 4, QMXL_AS_STORED), 0);
    EXPECT_LT(QMXLaddField(type, nullptr, 4, QMXL_INT32), 0);
    EXPECT_LT(QMXLaddField(type, "", 4, QMXL_INT32), 0);
    EXPECT_LT(QMXLaddArray(type, "f", 4, QMXL_INT8, 0), 0);
    EXPECT_LT(QMXLaddArray(type, "g", 4, QMXL_INT8, 5), 0);
    EXPECT_OK(QMXLaddArray(type, "h", 4, QMXL_INT8, 4));
    EXPECT_LT(QMXLaddField(file, "x", 0, QMXL_INT8), 0);
    EXPECT_LT(QMXLaddField(-1, "x", 0, QMXL_INT8), 0);
    const unsigned char data[16] = {};
    EXPECT_LT(QMXLcreateObjectDataset(file, "/", "x", 0, 0, 1, file, 1, 2, data), 0);
    EXPECT_LT(QMXLcreateObjectDataset(file, "/", "x", 0, 0, 1, type, 1, -2, data), 0);
    ASSERT_OK(QMXLcreateObjectDataset(file, "/", "x", 0, 0, 1, type, 1, 2, data));
    EXPECT_LT(QMXLreadObjectDataset(file, "/", "x", type, nullptr), 0);
    ASSERT_OK(QMXLcreateTypedDataset(file, "/", "t", 0, 0, 1, QMXL_INT32, 1, data));
    unsigned char out[8];
    EXPECT_LT(QMXLreadObjectDataset(file, "/", "t", type, out), 0);
    EXPECT_ERROR("typed dataset");
    QMXLcloseObject(type);
}

namespace {

struct Tagged {
    std::int8_t tag;  // padding follows
    double xyz[3];
    std::uint16_t id;
};

class CompoundMembers : public ContainerTest {
protected:
    void writeRecords() {
        const int type = QMXLcreateCompoundType(0, sizeof(Tagged), 0);
        ASSERT_GT(type, 0) << lastError();
        ASSERT_OK(QMXLaddField(type, "tag", offsetof(Tagged, tag), QMXL_INT8));
        ASSERT_OK(QMXLaddArray(type, "xyz", offsetof(Tagged, xyz), QMXL_FLOAT64, 3));
        ASSERT_OK(QMXLaddField(type, "id", offsetof(Tagged, id), QMXL_UINT16));
        const Tagged records[2] = {{-1, {1, 2, 3}, 7}, {2, {4, 5, 6}, 65535}};
        ASSERT_GE(QMXLcreateObjectDataset(file, "/r", "records", 0, 100, 1, type, 1, 2, records), 0)
            << lastError();
        QMXLcloseObject(type);
    }
};

TEST_F(CompoundMembers, ListsScalarAndArrayMembersInStoredOrder) {
    writeRecords();
    QMXLCompoundMembers m;
    ASSERT_OK(
        QMXLgetCompoundMembers(file, "/r", "records", &m.count, &m.names, &m.types, &m.counts));
    ASSERT_EQ(m.count, 3);
    EXPECT_STREQ(m.names[0], "tag");
    EXPECT_EQ(m.types[0], QMXL_INT8);
    EXPECT_EQ(m.counts[0], 1);
    EXPECT_STREQ(m.names[1], "xyz");
    EXPECT_EQ(m.types[1], QMXL_FLOAT64);
    EXPECT_EQ(m.counts[1], 3);
    EXPECT_STREQ(m.names[2], "id");
    EXPECT_EQ(m.types[2], QMXL_UINT16);
    EXPECT_EQ(m.counts[2], 1);
    // The same after a read-only reopen, through a doubled separator.
    reopen(true);
    QMXLCompoundMembers again;
    ASSERT_OK(QMXLgetCompoundMembers(file, "//r", "records", &again.count, &again.names,
                                     &again.types, &again.counts));
    EXPECT_EQ(again.count, 3);
}

TEST_F(CompoundMembers, RefusesWhatIsNoCompoundDatasetAndBadArguments) {
    writeRecords();
    const double values[2] = {1, 2};
    ASSERT_GE(QMXLcreateTypedDataset(file, "/r", "plain", 0, 100, 1, QMXL_FLOAT64, 2, values), 0);
    QMXLCompoundMembers m;
    EXPECT_LT(QMXLgetCompoundMembers(file, "/r", "plain", &m.count, &m.names, &m.types, &m.counts),
              0);
    EXPECT_ERROR("plain");
    EXPECT_LT(
        QMXLgetCompoundMembers(file, "/r", "missing", &m.count, &m.names, &m.types, &m.counts), 0);
    EXPECT_LT(QMXLgetCompoundMembers(file, "/r", "records", nullptr, &m.names, &m.types, &m.counts),
              0);
    EXPECT_LT(QMXLgetCompoundMembers(file, "/r", "records", &m.count, &m.names, nullptr, &m.counts),
              0);
    EXPECT_LT(QMXLgetCompoundMembers(-1, "/r", "records", &m.count, &m.names, &m.types, &m.counts),
              0);
    EXPECT_EQ(m.names, nullptr);
    EXPECT_EQ(m.count, 0);
}

}  // namespace
