#include "ChildProcess.h"
#include "Machine.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace Quellmar::bench {
namespace {

TEST(BenchMachine, CpuLineParsing) {
    // user nice system idle iowait irq softirq steal guest guest_nice
    const auto t = parseCpuLine("cpu  100 5 20 800 30 1 2 3 50 0");
    ASSERT_TRUE(t);
    EXPECT_DOUBLE_EQ(t->busy, 100 + 5 + 20 + 1 + 2 + 3);
    EXPECT_DOUBLE_EQ(t->total, 100 + 5 + 20 + 800 + 30 + 1 + 2 + 3);
    EXPECT_FALSE(parseCpuLine("cpu0 1 2 3 4 5 6 7 8"));
    EXPECT_FALSE(parseCpuLine("intr 1 2 3 4"));
    EXPECT_FALSE(parseCpuLine("cpu 1 2 3"));
    EXPECT_FALSE(parseCpuLine(""));
}

CpuSample sample(double busy, double total, double own, double wall) {
    CpuSample s;
    s.machine = {busy, total};
    s.ownSeconds = own;
    s.wallSeconds = wall;
    return s;
}

TEST(BenchMachine, OtherCoresIsTheMachineLessThisProcess) {
    // 150 of 200 jiffies busy on 2 cores: 1.5 cores; this process used 1 core of it.
    EXPECT_DOUBLE_EQ(otherCores(sample(0, 0, 0, 0), sample(150, 200, 1.0, 1.0), 2), 0.5);
    // This process alone: nothing left for others, never below zero.
    EXPECT_DOUBLE_EQ(otherCores(sample(0, 0, 0, 0), sample(50, 200, 1.0, 1.0), 2), 0.0);
    // No time passed: no answer but zero.
    EXPECT_DOUBLE_EQ(otherCores(sample(5, 9, 0, 3), sample(5, 9, 0, 3), 2), 0.0);
}

TEST(BenchMachine, TheBusyCoreSpinsAndStops) {
    const CpuSample from = sampleCpu();
    {
        BusyCore spinner;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (spinner.spins() < 100 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_GE(spinner.spins(), 100u);
    }  // joins: a hang here fails the test by its timeout
    EXPECT_GT(sampleCpu().ownSeconds, from.ownSeconds);
}

TEST(BenchMachine, AWorkloadsProcessCountsAsOurOwn) {
    // Each workload runs in a child: its CPU time must not be reported as another program's.
    const CpuSample from = sampleCpu();
    runInChild([] {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
        volatile unsigned long long spins = 0;
        while (std::chrono::steady_clock::now() < until)
            spins = spins + 1;
        return std::string();
    });
    EXPECT_GE(sampleCpu().ownSeconds - from.ownSeconds, 0.15);
}

}  // namespace
}  // namespace Quellmar::bench
