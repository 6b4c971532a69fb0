// Describing stored compound types: names, type codes and element counts in stored order.
#include "TestFiles.h"

#include <cstddef>
#include <cstdint>

using namespace Quellmar::testing;

namespace {

struct Record {
    std::int8_t tag;  // padding follows
    double xyz[3];
    std::uint16_t id;
};

struct Members {
    int count = 0;
    char** names = nullptr;
    int* types = nullptr;
    long long* counts = nullptr;
    ~Members() {
        if (names) {
            QMXLreleaseStrings(count, names);
            QMXLreleaseArray(&names);
        }
        if (types)
            QMXLreleaseArray(&types);
        if (counts)
            QMXLreleaseArray(&counts);
    }
};

class CompoundMembers : public ContainerTest {
protected:
    void writeRecords() {
        const int type = QMXLcreateCompoundType(0, sizeof(Record), 0);
        ASSERT_GT(type, 0) << lastError();
        ASSERT_EQ(QMXLaddField(type, "tag", offsetof(Record, tag), QMXL_INT8), 1) << lastError();
        ASSERT_EQ(QMXLaddArray(type, "xyz", offsetof(Record, xyz), QMXL_FLOAT64, 3), 1)
            << lastError();
        ASSERT_EQ(QMXLaddField(type, "id", offsetof(Record, id), QMXL_UINT16), 1) << lastError();
        const Record records[2] = {{-1, {1, 2, 3}, 7}, {2, {4, 5, 6}, 65535}};
        ASSERT_GE(QMXLcreateObjectDataset(file, "/r", "records", 0, 100, 1, type, 1, 2, records), 0)
            << lastError();
        QMXLcloseObject(type);
    }
};

TEST_F(CompoundMembers, ListsScalarAndArrayMembersInStoredOrder) {
    writeRecords();
    Members m;
    ASSERT_EQ(
        QMXLgetCompoundMembers(file, "/r", "records", &m.count, &m.names, &m.types, &m.counts), 1)
        << lastError();
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
    Members again;
    ASSERT_EQ(QMXLgetCompoundMembers(file, "//r", "records", &again.count, &again.names,
                                     &again.types, &again.counts),
              1)
        << lastError();
    EXPECT_EQ(again.count, 3);
}

TEST_F(CompoundMembers, RefusesWhatIsNoCompoundDatasetAndBadArguments) {
    writeRecords();
    const double values[2] = {1, 2};
    ASSERT_GE(QMXLcreateTypedDataset(file, "/r", "plain", 0, 100, 1, QMXL_FLOAT64, 2, values), 0);
    Members m;
    EXPECT_LT(QMXLgetCompoundMembers(file, "/r", "plain", &m.count, &m.names, &m.types, &m.counts),
              0);
    EXPECT_NE(lastError().find("plain"), std::string::npos) << lastError();
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
