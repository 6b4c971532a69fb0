// Speedup rows: a contender's throughput in one phase as a multiple of its own in another,
// as W7 reports range reads against whole reads and W8 its last appends against its first.
#include "Harness.h"
#include "Report.h"

#include <gtest/gtest.h>

#include <sstream>

namespace Quellmar::bench {
namespace {

Sample two(double rangeSeconds, double wholeSeconds) {
    Sample s;
    s.seconds["range"] = rangeSeconds;
    s.seconds["whole"] = wholeSeconds;
    return s;
}

TEST(BenchSpeedup, IsTheMedianOfPerRepetitionMultiplesWithAmounts) {
    // 200 ranges against 2 whole reads: 200 / 0.1 s = 2000/s against 2 / 2 s = 1/s.
    const std::vector<Sample> samples{two(0.1, 2), two(1.0, 4), two(0.2, 2)};
    // Per repetition 2000, 100 and 1000: the median is 1000.
    EXPECT_DOUBLE_EQ(*speedupOf(samples, "range", 200, "whole", 2), 1000);
    // Repetitions missing either phase, or with a time of zero, are left out.
    Sample partial;
    partial.seconds["range"] = 1;
    EXPECT_DOUBLE_EQ(*speedupOf({partial, two(0.1, 2)}, "range", 200, "whole", 2), 2000);
    EXPECT_FALSE(speedupOf({partial}, "range", 200, "whole", 2));
    EXPECT_FALSE(speedupOf({two(0, 2)}, "range", 200, "whole", 2));
    EXPECT_FALSE(speedupOf(samples, "range", 200, "whole", 0));
    EXPECT_FALSE(speedupOf({}, "range", 200, "whole", 2));
}

TEST(BenchSpeedup, RowsCarryEveryContendersMultipleAndTheLibrarysTarget) {
    Workload w;
    w.id = "WX";
    w.phases.push_back({"range", "reads/s", 100, kRawHdf5, 0.8});
    w.phases.push_back({"whole", "reads/s", 1, kRawHdf5, 0});
    w.speedups.push_back({"range vs whole", "range", "whole", 100});
    WorkloadRun run;
    run.workload = &w;
    run.samples[kLibrary] = {two(1, 2), two(1, 2), two(1, 2)};  // 200x
    run.samples[kRawHdf5] = {two(1, 0.5), two(1, 0.5), two(1, 0.5)};  // 50x

    const std::vector<ResultRow> rows = summarize(run);
    ASSERT_EQ(rows.size(), 3u);
    const ResultRow& speedup = rows[2];
    EXPECT_TRUE(speedup.isSpeedup);
    EXPECT_EQ(speedup.unit, "×");
    EXPECT_DOUBLE_EQ(*speedup.values.at(kLibrary), 200);
    EXPECT_DOUBLE_EQ(*speedup.values.at(kRawHdf5), 50);
    EXPECT_FALSE(speedup.values.at(kSqlite));
    EXPECT_DOUBLE_EQ(*speedup.ratio, 200);
    ASSERT_TRUE(speedup.met());
    EXPECT_TRUE(*speedup.met());

    std::ostringstream table;
    writeMarkdown(table, rows);
    EXPECT_NE(table.str().find("| WX | range vs whole | × | 200 | 50 | n/a | n/a | 200.00 | "
                               "≥ 100.00× whole | yes |"),
              std::string::npos)
        << table.str();
    // Not a throughput: the chart leaves it out, the CSV marks it.
    std::ostringstream plot;
    writePlotData(plot, rows);
    EXPECT_EQ(plot.str().find("range vs whole"), std::string::npos) << plot.str();
    std::ostringstream csv;
    writeCsv(csv, rows, 3);
    EXPECT_NE(csv.str().find("WX,speedup,\"range vs whole\""), std::string::npos) << csv.str();

    // A slower library misses the target; busy-core rows drop the speedups.
    run.samples[kLibrary] = {two(1, 0.5), two(1, 0.5), two(1, 0.5)};
    std::vector<ResultRow> slower = summarize(run);
    ASSERT_TRUE(slower[2].met());
    EXPECT_FALSE(*slower[2].met());
    markSecondCoreBusy(slower);
    EXPECT_EQ(slower.size(), 2u);
}

// A size against another size of the same contender (one compressor's file against
// another's), held to a maximum.
TEST(BenchSpeedup, SizesAgainstAnotherSizeOfTheSameContender) {
    Workload w;
    w.id = "WZ";
    w.sizes.push_back({"size, fast", "MiB", kRawHdf5, 0});
    w.sizes.push_back({"size, small", "MiB", kRawHdf5, 0});
    w.sizesVersus.push_back({"size, fast vs small", "size, fast", "size, small", 1.25});
    auto sizes = [](double fast, double small) {
        Sample s;
        s.sizes["size, fast"] = fast;
        s.sizes["size, small"] = small;
        return s;
    };
    WorkloadRun run;
    run.workload = &w;
    run.samples[kLibrary] = {sizes(50, 40), sizes(50, 40)};  // 1.25: just within
    run.samples[kRawHdf5] = {sizes(60, 40)};                 // 1.5
    std::vector<ResultRow> rows = summarize(run);
    ASSERT_EQ(rows.size(), 3u);
    const ResultRow& versus = rows[2];
    EXPECT_TRUE(versus.isSize);
    EXPECT_DOUBLE_EQ(*versus.values.at(kLibrary), 1.25);
    EXPECT_DOUBLE_EQ(*versus.values.at(kRawHdf5), 1.5);
    EXPECT_FALSE(versus.values.at(kSqlite));
    ASSERT_TRUE(versus.met());
    EXPECT_TRUE(*versus.met());
    std::ostringstream table;
    writeMarkdown(table, rows);
    EXPECT_NE(table.str().find("| WZ | size, fast vs small | × | 1.25 | 1.5 | n/a | n/a | 1.25 | "
                               "≤ 1.25× size, small | yes |"),
              std::string::npos)
        << table.str();

    run.samples[kLibrary] = {sizes(51, 40)};
    rows = summarize(run);
    ASSERT_TRUE(rows[2].met());
    EXPECT_FALSE(*rows[2].met());
    run.samples[kLibrary] = {sizes(50, 0)};  // no size to compare with: no verdict
    EXPECT_FALSE(summarize(run)[2].met());
}

}  // namespace
}  // namespace Quellmar::bench
