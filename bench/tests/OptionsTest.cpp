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
    EXPECT_FALSE(o.inProcess);
    EXPECT_TRUE(parse({"--in-process", "--reps", "2"}).inProcess);
}

TEST(BenchOptions, BadInputIsRefused) {
    EXPECT_THROW(parse({"--reps"}), std::invalid_argument);
    EXPECT_THROW(parse({"--reps", "0"}), std::invalid_argument);
    EXPECT_THROW(parse({"--reps", "5x"}), std::invalid_argument);
    EXPECT_THROW(parse({"--w1-count", "-1"}), std::invalid_argument);
    EXPECT_THROW(parse({"--w6-rows", "50000"}), std::invalid_argument);
    EXPECT_THROW(parse({"--w2-mib", "99999999999999999999"}), std::invalid_argument);
    EXPECT_THROW(parse({"--fast"}), std::invalid_argument);
    EXPECT_THROW(parse({"--busy", "yes"}), std::invalid_argument);
}

}  // namespace
}  // namespace Quellmar::bench
