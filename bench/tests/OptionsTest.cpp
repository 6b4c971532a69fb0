#include "Options.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

namespace Quellmar::bench {
namespace {

Options parse(std::vector<std::string> args) {
    args.insert(args.begin(), "qmx_bench");
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    return parseOptions(static_cast<int>(argv.size()), argv.data());
}

TEST(BenchOptions, DefaultsAreThePublishedWorkloads) {
    const Options o = parse({});
    EXPECT_FALSE(o.smoke);
    EXPECT_EQ(o.reps, 5);
    EXPECT_EQ(o.w1Count, 10000);
    EXPECT_EQ(o.w1Size, 100);
    EXPECT_EQ(o.w2Bytes, 256LL << 20);
    EXPECT_EQ(o.w3Count, 10'000'000);
    EXPECT_EQ(o.w4Count, 1000);
    EXPECT_EQ(o.w5Count, 1000);
    EXPECT_EQ(o.w6Records, 1'000'000);
    EXPECT_TRUE(o.wants("W6"));
}

TEST(BenchOptions, SmokeShrinksEverythingAndLaterFlagsStillApply) {
    const Options o = parse({"--smoke", "--w1-count", "7", "--only", "W1,W5,"});
    EXPECT_TRUE(o.smoke);
    EXPECT_EQ(o.reps, 1);
    EXPECT_EQ(o.warmup, 0);
    EXPECT_EQ(o.w1Count, 7);
    EXPECT_LT(o.w2Bytes, 16LL << 20);
    EXPECT_LT(o.w3Count, 1'000'000);
    EXPECT_TRUE(o.wants("W1"));
    EXPECT_TRUE(o.wants("W5"));
    EXPECT_FALSE(o.wants("W2"));
    EXPECT_FALSE(o.wants(""));
}

TEST(BenchOptions, SizesInMebibytesAndRanges) {
    EXPECT_EQ(parse({"--w2-mib", "3"}).w2Bytes, 3LL << 20);
    EXPECT_EQ(parse({"--reps", "9", "--warmup", "0"}).reps, 9);
    EXPECT_EQ(parse({"--out", "some/dir", "--dir", "/tmp/x"}).outDir, "some/dir");
}

TEST(BenchOptions, TheBusyCorePhase) {
    EXPECT_EQ(parse({}).busy, Options::Busy::On);
    EXPECT_FALSE(parse({}).secondCoreBusy);
    EXPECT_EQ(parse({"--busy", "off"}).busy, Options::Busy::Off);
    EXPECT_EQ(parse({"--busy", "only"}).busy, Options::Busy::Only);
    EXPECT_EQ(parse({"--busy", "off", "--busy", "on"}).busy, Options::Busy::On);
    EXPECT_THROW(parse({"--busy", "yes"}), std::invalid_argument);
    EXPECT_TRUE(Options::isLargeData("W2"));
    EXPECT_TRUE(Options::isLargeData("W6"));
    EXPECT_FALSE(Options::isLargeData("W1"));
}

TEST(BenchOptions, BadInputIsRefused) {
    EXPECT_THROW(parse({"--reps"}), std::invalid_argument);
    EXPECT_THROW(parse({"--reps", "0"}), std::invalid_argument);
    EXPECT_THROW(parse({"--reps", "5x"}), std::invalid_argument);
    EXPECT_THROW(parse({"--w1-count", "-1"}), std::invalid_argument);
    EXPECT_THROW(parse({"--w6-rows", "50000"}), std::invalid_argument);
    EXPECT_THROW(parse({"--w2-mib", "99999999999999999999"}), std::invalid_argument);
    EXPECT_THROW(parse({"--fast"}), std::invalid_argument);
}

}  // namespace
}  // namespace Quellmar::bench
