// Workloads measured in processes of their own: their rows must come back exactly, and a
// child that fails must fail the run, never pass as an empty result.
#include "ChildProcess.h"
#include "Harness.h"
#include "RowCodec.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <limits>
#include <stdexcept>

namespace Quellmar::bench {
namespace {

ResultRow awkwardRow() {
    ResultRow r;
    r.workload = "W7";
    r.name = "range: 1000 rows\tof 8\nand a colon: 12:";
    r.unit = "reads/s";
    r.isSpeedup = true;
    r.values[kLibrary] = 1.0 / 3.0;
    r.values[kRawHdf5] = std::nullopt;
    r.values["plain file"] = std::numeric_limits<double>::denorm_min();
    r.seconds[kLibrary] = 123456.789e-9;
    r.baseline = kRawHdf5;
    r.target = 0.8;
    r.ratio = std::nullopt;
    r.failed = "";
    return r;
}

TEST(BenchRowCodec, RowsComeBackExactly) {
    ResultRow size;
    size.workload = "W1";
    size.name = "bytes per object";
    size.unit = "bytes";
    size.isSize = true;
    size.values[kLibrary] = 481;
    size.target = 1.1;
    size.ratio = 1.0;
    size.failed = "SQLite, plain file";
    const std::vector<ResultRow> rows{awkwardRow(), size, ResultRow{}};
    const std::vector<ResultRow> back = decodeRows(encodeRows(rows));
    ASSERT_EQ(back.size(), rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(back[i].workload, rows[i].workload);
        EXPECT_EQ(back[i].name, rows[i].name);
        EXPECT_EQ(back[i].unit, rows[i].unit);
        EXPECT_EQ(back[i].isSize, rows[i].isSize);
        EXPECT_EQ(back[i].isSpeedup, rows[i].isSpeedup);
        EXPECT_EQ(back[i].values, rows[i].values);  // bit for bit, missing values included
        EXPECT_EQ(back[i].seconds, rows[i].seconds);
        EXPECT_EQ(back[i].baseline, rows[i].baseline);
        EXPECT_EQ(back[i].target, rows[i].target);
        EXPECT_EQ(back[i].ratio, rows[i].ratio);
        EXPECT_EQ(back[i].failed, rows[i].failed);
    }
    EXPECT_TRUE(decodeRows(encodeRows({})).empty());
    // A whole workload: its outcome and title with them.
    const Measured failed{"W7: 1000 rows\n of 8: ranges", rows, false};
    const Measured back2 = decodeMeasured(encodeMeasured(failed));
    EXPECT_FALSE(back2.ok);
    EXPECT_EQ(back2.title, failed.title);
    ASSERT_EQ(back2.rows.size(), rows.size());
    EXPECT_EQ(back2.rows[0].values, rows[0].values);
    EXPECT_TRUE(decodeMeasured(encodeMeasured(Measured{})).ok);
}

TEST(BenchRowCodec, CutOrForeignTextIsRefused) {
    const std::string text = encodeRows({awkwardRow()});
    for (size_t cut : {size_t{0}, size_t{1}, text.size() / 2, text.size() - 1})
        EXPECT_THROW(decodeRows(text.substr(0, cut)), BenchFailure) << "cut at " << cut;
    EXPECT_THROW(decodeRows(text + "x"), BenchFailure);
    EXPECT_THROW(decodeRows("1\n999:W7\n"), BenchFailure);
    EXPECT_THROW(decodeRows("one\n"), BenchFailure);
    EXPECT_THROW(decodeMeasured("2\n0:\n0\n"), BenchFailure);
    EXPECT_THROW(decodeMeasured(encodeMeasured(Measured{}) + "0\n"), BenchFailure);
}

TEST(BenchChildProcess, AnswersAndFailuresReachTheParent) {
    int touched = 0;
    EXPECT_EQ(runInChild([&] {
                  touched = 1;  // the child's copy: the parent's stays as it was
                  return std::string("rows\n\0after a zero byte", 23);
              }),
              std::string("rows\n\0after a zero byte", 23));
    EXPECT_EQ(touched, 0);
    EXPECT_EQ(runInChild([] { return std::string(1 << 20, 'x'); }).size(), size_t{1} << 20);
    try {
        runInChild([]() -> std::string { throw BenchFailure("W5: SQLite failed"); });
        ADD_FAILURE() << "a child's exception was lost";
    } catch (const BenchFailure& e) {
        EXPECT_STREQ(e.what(), "W5: SQLite failed");
    }
    try {
        runInChild([]() -> std::string {
            std::signal(SIGABRT, SIG_DFL);
            std::abort();
        });
        ADD_FAILURE() << "a child that died passed";
    } catch (const BenchFailure& e) {
        EXPECT_NE(std::string(e.what()).find("signal 6"), std::string::npos) << e.what();
    }
    try {
        runInChild([]() -> std::string { std::_Exit(0); });
        ADD_FAILURE() << "a child that left without an answer passed";
    } catch (const BenchFailure& e) {
        EXPECT_NE(std::string(e.what()).find("no answer"), std::string::npos) << e.what();
    }
}

}  // namespace
}  // namespace Quellmar::bench
