// The process's checksum thread and the choice between it and the caller's thread.
#include "ChildProcess.h"
#include "ConcurrentCrc.h"
#include "Crc32c.h"
#include "SliceCrcs.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <sched.h>
#include <unistd.h>

#include <fstream>
#include <random>
#include <thread>
#include <vector>

using namespace Quellmar;
using qmxfile::ConcurrentCrc;

namespace {

std::vector<unsigned char> randomBytes(std::size_t n, unsigned seed) {
    std::vector<unsigned char> bytes(n);
    std::mt19937 random(seed);
    for (auto& b : bytes)
        b = static_cast<unsigned char>(random());
    return bytes;
}

// Sums `bytes` in pieces of the given sizes, cycling through them.
std::uint32_t sumInPieces(ConcurrentCrc& sum, const std::vector<unsigned char>& bytes,
                          const std::vector<std::size_t>& pieces) {
    for (std::size_t at = 0, i = 0; at < bytes.size(); ++i) {
        const std::size_t n = std::min(bytes.size() - at, pieces[i % pieces.size()]);
        sum.add(bytes.data() + at, n);
        at += n;
    }
    return sum.value();
}

// Keeps the calling thread on one CPU while it lives.
class OneCpu {
public:
    OneCpu() {
        sched_getaffinity(0, sizeof m_saved, &m_saved);
        cpu_set_t one;
        CPU_ZERO(&one);
        for (int c = 0; c < CPU_SETSIZE; ++c)
            if (CPU_ISSET(c, &m_saved)) {
                CPU_SET(c, &one);
                break;
            }
        sched_setaffinity(0, sizeof one, &one);
    }
    ~OneCpu() { sched_setaffinity(0, sizeof m_saved, &m_saved); }

private:
    cpu_set_t m_saved;
};

int usableCpus() {
    cpu_set_t cpus;
    return sched_getaffinity(0, sizeof cpus, &cpus) == 0 ? CPU_COUNT(&cpus) : 1;
}

}  // namespace

TEST(ConcurrentCrcModes, BothWaysGiveOneSequentialPass) {
    const auto bytes = randomBytes((2u << 20) + 333, 8);
    const std::uint32_t seed = 0xABCDEFu;
    const std::uint32_t whole = crc32c::Extend(seed, bytes.data(), bytes.size());
    for (auto mode : {ConcurrentCrc::Mode::Concurrent, ConcurrentCrc::Mode::Inline}) {
        EXPECT_EQ(ConcurrentCrc(seed, mode).value(), seed);  // nothing added
        ConcurrentCrc sum(seed, mode);
        EXPECT_EQ(sum.concurrent(), mode == ConcurrentCrc::Mode::Concurrent);
        EXPECT_EQ(sumInPieces(sum, bytes, {1u << 20, 0, 5, 65536}), whole);
        // More ranges after a value: the sum goes on from there.
        sum.add(bytes.data(), 100);
        EXPECT_EQ(sum.value(), crc32c::Extend(whole, bytes.data(), 100));
    }
}

TEST(ConcurrentCrcModes, ThreadsShareTheOneChecksumThread) {
    const auto bytes = randomBytes(3u << 20, 9);
    std::vector<std::uint32_t> results(4);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < results.size(); ++t)
        threads.emplace_back([&, t] {
            for (int round = 0; round < 5; ++round) {
                ConcurrentCrc sum(static_cast<std::uint32_t>(t), ConcurrentCrc::Mode::Concurrent);
                results[t] = sumInPieces(sum, bytes, {(1u << 20) - static_cast<std::size_t>(t)});
            }
        });
    for (auto& t : threads)
        t.join();
    for (std::size_t t = 0; t < results.size(); ++t)
        EXPECT_EQ(results[t],
                  crc32c::Extend(static_cast<std::uint32_t>(t), bytes.data(), bytes.size()));
}

TEST(ConcurrentCrcModes, AbandonedRangesAreDroppedAndTheThreadServesTheNext) {
    auto bytes = randomBytes(4u << 20, 10);
    {
        ConcurrentCrc abandoned(0, ConcurrentCrc::Mode::Concurrent);
        for (int i = 0; i < 64; ++i)
            abandoned.add(bytes.data(), bytes.size());
    }
    // The abandoned object's ranges are no longer read: the caller may change them now.
    std::fill(bytes.begin(), bytes.end(), 0x5A);
    ConcurrentCrc next(7, ConcurrentCrc::Mode::Concurrent);
    next.add(bytes.data(), bytes.size());
    EXPECT_EQ(next.value(), crc32c::Extend(7, bytes.data(), bytes.size()));
}

// The caller sums the last range itself while the thread may still be on earlier ones: the sums
// come out as one pass over the bytes in order, whether the last range starts inside a slice or
// spans several, and also when another range follows it after all.
TEST(ConcurrentCrcModes, ALastRangeSummedByTheCallerJoinsTheOthersInOrder) {
    const auto bytes = randomBytes((3u << 20) + 777, 13);
    const auto other = randomBytes(500, 14);
    for (auto mode : {ConcurrentCrc::Mode::Concurrent, ConcurrentCrc::Mode::Inline}) {
        for (const std::size_t lastSize : {std::size_t{1}, std::size_t{999}, std::size_t{1000},
                                           std::size_t{4321}, std::size_t{1} << 20}) {
            const std::size_t head = bytes.size() - lastSize;
            ConcurrentCrc sum(5, mode);
            sum.add(bytes.data(), head / 2);
            sum.add(bytes.data() + head / 2, head - head / 2);
            sum.addLast(bytes.data() + head, lastSize);
            EXPECT_EQ(sum.value(), crc32c::Extend(5, bytes.data(), bytes.size())) << lastSize;

            // Slice sums, from nothing and resumed in the middle of a slice.
            for (const std::size_t open : {std::size_t{0}, std::size_t{500}}) {
                const std::vector<std::uint32_t> before =
                    open ? std::vector<std::uint32_t>{crc32c::Value(other.data(), open)}
                         : std::vector<std::uint32_t>{};
                qmxfile::SliceCrcs expected(1000, before, open);
                expected.add(bytes.data(), bytes.size());
                expected.add(other.data(), other.size());
                qmxfile::SliceCrcs sliced(1000, before, open);
                ConcurrentCrc slices(0, mode);
                slices.sumSlicesInto(&sliced);
                slices.add(bytes.data(), head / 3);
                slices.add(bytes.data() + head / 3, head - head / 3);
                slices.addLast(bytes.data() + head, lastSize);
                slices.add(other.data(), other.size());  // after the last after all
                slices.value();
                EXPECT_EQ(sliced.crcs(), expected.crcs()) << lastSize << " " << open;
            }
        }
    }
}

// Between ranges the thread first spins, then sleeps: a range must be picked up in either state,
// and in the moment it passes from one to the other (a lost wake-up would hang value()).
TEST(ConcurrentCrcModes, RangesAfterAnyPauseAreSummed) {
    const auto bytes = randomBytes(64u << 10, 12);
    std::uint32_t expected = 3;
    ConcurrentCrc sum(3, ConcurrentCrc::Mode::Concurrent);
    for (int round = 0; round < 3; ++round)
        for (const int pauseMicros : {0, 50, 400, 500, 600, 2000, 20000}) {
            std::this_thread::sleep_for(std::chrono::microseconds(pauseMicros));
            sum.add(bytes.data(), bytes.size());
            expected = crc32c::Extend(expected, bytes.data(), bytes.size());
            if (pauseMicros % 400 == 0) {  // now and then wait for the thread to finish it
                EXPECT_EQ(sum.value(), expected);
            }
        }
    EXPECT_EQ(sum.value(), expected);
}

// A child forked while the parent's checksum thread runs has no such thread: it starts its own.
TEST(ConcurrentCrcModes, AForkedChildStartsItsOwnThread) {
#ifdef __SANITIZE_THREAD__
    GTEST_SKIP() << "ThreadSanitizer does not support threads started after a multi-threaded fork";
#endif
    const auto bytes = randomBytes(3u << 20, 11);
    const std::uint32_t whole = crc32c::Value(bytes.data(), bytes.size());
    {
        ConcurrentCrc warm(0, ConcurrentCrc::Mode::Concurrent);
        warm.add(bytes.data(), bytes.size());
        ASSERT_EQ(warm.value(), whole);
    }
    // A hang kills the child (its alarm), which fails the test.
    const int rc = Quellmar::testing::runInChild(
        [&] {
            // Each range waited for, so the child's thread is idle when the next one comes: the
            // parent's thread was idle too when it forked, and must not be the one woken.
            ConcurrentCrc sum(0, ConcurrentCrc::Mode::Concurrent);
            for (std::size_t at = 0; at < bytes.size(); at += 1u << 18) {
                sum.add(bytes.data() + at, std::min<std::size_t>(1u << 18, bytes.size() - at));
                sum.waitUntilPending(0);
            }
            return sum.value() == whole ? 0 : 1;
        },
        Quellmar::testing::ChildEnd::QuickExit);
    EXPECT_EQ(rc, 0) << "128 + n: ended by signal n";
}

TEST(IdleCore, DecidedByRunnableTasksAgainstUsableCpus) {
    if (usableCpus() < 2)
        GTEST_SKIP() << "one usable CPU: never idle, checked below";
    Quellmar::testing::TempDir dir;
    auto loadFile = [&](const std::string& name, const std::string& text) {
        const std::string path = dir.file(name);
        std::ofstream(path) << text;
        return path;
    };
    EXPECT_TRUE(qmxfile::idleCoreLikely(loadFile("quiet", "0.10 0.20 0.30 1/200 77\n").c_str()));
    EXPECT_FALSE(qmxfile::idleCoreLikely(loadFile("busy", "9.00 8.00 7.00 4096/200 77\n").c_str()));
    // Nothing to go by: assume room, as before the count was consulted.
    EXPECT_TRUE(qmxfile::idleCoreLikely(dir.file("missing").c_str()));
    EXPECT_TRUE(qmxfile::idleCoreLikely(loadFile("empty", "").c_str()));
    EXPECT_TRUE(qmxfile::idleCoreLikely(loadFile("garbage", "not a load file").c_str()));
    // The real file is readable and gives an answer either way.
    (void)qmxfile::idleCoreLikely();
}

TEST(IdleCore, OneUsableCpuIsNeverIdleAndSumsInline) {
    OneCpu pinned;
    Quellmar::testing::TempDir dir;
    const std::string quiet = dir.file("quiet");
    std::ofstream(quiet) << "0.00 0.00 0.00 1/100 5\n";
    EXPECT_FALSE(qmxfile::idleCoreLikely(quiet.c_str()));
    ConcurrentCrc sum(3);  // decided on its own: nothing to run beside
    EXPECT_FALSE(sum.concurrent());
    const auto bytes = randomBytes(1000, 12);
    sum.add(bytes.data(), bytes.size());
    EXPECT_EQ(sum.value(), crc32c::Extend(3, bytes.data(), bytes.size()));
}
