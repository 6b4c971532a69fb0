#include "Harness.h"
#include "Report.h"

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>

namespace Quellmar::bench {
namespace {

Sample timed(const std::string& phase, double seconds) {
    Sample s;
    s.seconds[phase] = seconds;
    return s;
}

TEST(BenchStatistics, MedianOfOddEvenAndNone) {
    EXPECT_DOUBLE_EQ(median({3, 1, 2}), 2);
    EXPECT_DOUBLE_EQ(median({4, 1, 3, 2}), 2.5);
    EXPECT_DOUBLE_EQ(median({7}), 7);
    EXPECT_THROW(median({}), std::invalid_argument);
}

TEST(BenchStatistics, PairedRatioIsTheMedianOfPerRepetitionRatios) {
    // Repetition 2 ran on a loaded machine: both slow, the ratio still 0.5.
    const std::vector<Sample> lib{timed("p", 2), timed("p", 20), timed("p", 4)};
    const std::vector<Sample> base{timed("p", 1), timed("p", 10), timed("p", 1)};
    EXPECT_DOUBLE_EQ(*pairedRatio(lib, base, "p"), 0.5);
    // The ratio of medians would be 0.25 here; pairing keeps the loaded rep in its pair.
}

TEST(BenchStatistics, PairedRatioSkipsRepetitionsWithoutBothSides) {
    const std::vector<Sample> lib{timed("p", 2), timed("q", 1), timed("p", 1)};
    const std::vector<Sample> base{timed("p", 1), timed("p", 1), timed("p", 1)};
    EXPECT_DOUBLE_EQ(*pairedRatio(lib, base, "p"), 0.75);
    EXPECT_FALSE(pairedRatio(lib, base, "missing"));
    EXPECT_FALSE(pairedRatio({}, base, "p"));
    // A contender with fewer samples (it failed later) pairs only what it has.
    EXPECT_DOUBLE_EQ(*pairedRatio({timed("p", 4)}, base, "p"), 0.25);
}

TEST(BenchStatistics, MediansOfSecondsAndSizes) {
    Sample a = timed("p", 3), b = timed("p", 1);
    a.sizes["bytes"] = 500;
    EXPECT_DOUBLE_EQ(*medianSeconds({a, b}, "p"), 2);
    EXPECT_DOUBLE_EQ(*medianSize({a, b}, "bytes"), 500);
    EXPECT_FALSE(medianSeconds({a, b}, "q"));
    EXPECT_FALSE(medianSize({b}, "bytes"));
}

Workload twoContenders(std::vector<std::string>* order, int* libRuns) {
    Workload w;
    w.id = "WX";
    w.phases = {{"op", "objects/s", 100, kRawHdf5, 0.8}};
    w.sizes = {{"bytes per object", "bytes", kRawHdf5, 1.10}};
    w.contenders.push_back({kLibrary, [order, libRuns](Sample& s) {
                                order->push_back(kLibrary);
                                ++*libRuns;
                                s.seconds["op"] = 2;
                                s.sizes["bytes per object"] = 540;
                            }});
    w.contenders.push_back({kRawHdf5, [order](Sample& s) {
                                order->push_back(kRawHdf5);
                                s.seconds["op"] = 1;
                                s.sizes["bytes per object"] = 500;
                            }});
    return w;
}

TEST(BenchRunner, WarmupIsDiscardedAndTheOrderRotates) {
    std::vector<std::string> order;
    int libRuns = 0;
    const Workload w = twoContenders(&order, &libRuns);
    const WorkloadRun run = runWorkload(w, 3, 1);
    EXPECT_EQ(libRuns, 4);
    EXPECT_EQ(run.samples.at(kLibrary).size(), 3u);
    EXPECT_EQ(run.samples.at(kRawHdf5).size(), 3u);
    const std::vector<std::string> expected{kLibrary, kRawHdf5, kRawHdf5, kLibrary,
                                            kLibrary, kRawHdf5, kRawHdf5, kLibrary};
    EXPECT_EQ(order, expected);
    EXPECT_TRUE(run.failures.empty());
}

TEST(BenchRunner, AFailingContenderIsDroppedAndNamed) {
    std::vector<std::string> order;
    int libRuns = 0;
    Workload w = twoContenders(&order, &libRuns);
    int calls = 0;
    w.contenders[1].run = [&calls](Sample& s) {
        if (++calls == 2)
            throw BenchFailure("read-back differs");
        s.seconds["op"] = 1;
    };
    w.contenders.push_back({kSqlite, [](Sample&) { throw 42; }});
    const WorkloadRun run = runWorkload(w, 4, 0);
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(run.samples.at(kRawHdf5).size(), 1u);
    EXPECT_EQ(run.failures.at(kRawHdf5), "read-back differs");
    EXPECT_EQ(run.failures.at(kSqlite), "an exception of unknown type");
    EXPECT_EQ(run.samples.count(kSqlite), 0u);
    EXPECT_EQ(libRuns, 4);
}

TEST(BenchReport, SummaryHoldsThroughputsRatiosAndTargets) {
    std::vector<std::string> order;
    int libRuns = 0;
    const Workload w = twoContenders(&order, &libRuns);
    const auto rows = summarize(runWorkload(w, 3, 0));
    ASSERT_EQ(rows.size(), 2u);
    const ResultRow& op = rows[0];
    EXPECT_FALSE(op.isSize);
    EXPECT_DOUBLE_EQ(*op.values.at(kLibrary), 50);
    EXPECT_DOUBLE_EQ(*op.values.at(kRawHdf5), 100);
    EXPECT_FALSE(op.values.at(kSqlite));
    EXPECT_DOUBLE_EQ(*op.ratio, 0.5);
    EXPECT_EQ(op.met(), std::optional<bool>(false));
    const ResultRow& size = rows[1];
    EXPECT_TRUE(size.isSize);
    EXPECT_DOUBLE_EQ(*size.ratio, 1.08);
    EXPECT_EQ(size.met(), std::optional<bool>(true));
}

TEST(BenchReport, SecondCoreBusyRowsAreNamedComparedAndWithoutTarget) {
    std::vector<std::string> order;
    int libRuns = 0;
    const Workload w = twoContenders(&order, &libRuns);
    auto rows = summarize(runWorkload(w, 1, 0));
    markSecondCoreBusy(rows);
    ASSERT_EQ(rows.size(), 1u);  // the size row is the quiet run's
    EXPECT_EQ(rows[0].name, "op, second core busy");
    EXPECT_DOUBLE_EQ(*rows[0].ratio, 0.5);
    EXPECT_FALSE(rows[0].met());
    std::ostringstream md;
    writeMarkdown(md, rows);
    EXPECT_NE(
        md.str().find("| WX | op, second core busy | objects/s | 50 | 100 | n/a | n/a | 0.50 | "
                      "(vs raw HDF5) |  |"),
        std::string::npos)
        << md.str();
}

TEST(BenchReport, RowsWithoutTargetOrLibraryHaveNoVerdict) {
    ResultRow r;
    r.baseline = kRawHdf5;
    r.target = 0.8;
    EXPECT_FALSE(r.met());  // no library value
    r.ratio = 0.9;
    EXPECT_EQ(r.met(), std::optional<bool>(true));
    r.target = 0;  // compared, no target
    EXPECT_FALSE(r.met());
    r.baseline.clear();
    r.target = 0.8;
    EXPECT_FALSE(r.met());
}

TEST(BenchReport, NumbersAreReadable) {
    EXPECT_EQ(formatNumber(47123.4), "47,123");
    EXPECT_EQ(formatNumber(1234567), "1,234,567");
    EXPECT_EQ(formatNumber(1000), "1,000");
    EXPECT_EQ(formatNumber(999.4), "999");
    EXPECT_EQ(formatNumber(999.6), "1,000");
    EXPECT_EQ(formatNumber(-999.6), "-1,000");
    EXPECT_EQ(formatNumber(12.345), "12.3");
    EXPECT_EQ(formatNumber(0.5), "0.5");
    EXPECT_EQ(formatNumber(-2500), "-2,500");
}

TEST(BenchReport, MarkdownCsvAndPlotData) {
    std::vector<std::string> order;
    int libRuns = 0;
    const Workload w = twoContenders(&order, &libRuns);
    const auto rows = summarize(runWorkload(w, 1, 0));

    std::ostringstream md;
    writeMarkdown(md, rows);
    EXPECT_NE(md.str().find("| Workload | Phase | Unit | library | raw HDF5 | SQLite | plain file"),
              std::string::npos);
    EXPECT_NE(md.str().find("| WX | op | objects/s | 50 | 100 | n/a | n/a | 0.50 | ≥ 0.80× raw "
                            "HDF5 | **no** |"),
              std::string::npos)
        << md.str();
    EXPECT_NE(md.str().find("| WX | bytes per object | bytes | 540 | 500 | n/a | n/a | 1.08 | ≤ "
                            "1.10× raw HDF5 | yes |"),
              std::string::npos)
        << md.str();

    std::ostringstream csv;
    writeCsv(csv, rows, 1);
    const std::string c = csv.str();
    EXPECT_EQ(c.rfind("workload,kind,name,unit,contender,value,", 0), 0u);
    EXPECT_NE(
        c.find("WX,throughput,\"op\",\"objects/s\",\"library\",50,2,1,\"raw HDF5\",0.5,0.8,no\n"),
        std::string::npos)
        << c;
    EXPECT_NE(c.find("WX,throughput,\"op\",\"objects/s\",\"raw HDF5\",100,1,1,\"raw HDF5\",,,\n"),
              std::string::npos)
        << c;
    EXPECT_EQ(c.find("SQLite"), std::string::npos);  // contenders without values have no line

    std::ostringstream dat;
    writePlotData(dat, rows);
    EXPECT_EQ(dat.str(),
              "label\t\"library\"\t\"raw HDF5\"\t\"SQLite\"\t\"plain file\"\n"
              "\"WX op\\n(objects/s)\"\t50\t100\t-\t-\n");
}

}  // namespace
}  // namespace Quellmar::bench
