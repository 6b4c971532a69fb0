// The check in a child process: crashes, hangs and early exits of the reader become problems
// at the entry being read, and the walk goes on after them.
#include "IsolatedCheck.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <string>
#include <vector>

using namespace Quellmar::qmx;

namespace {

class Recorder : public CheckObserver {
public:
    void started(std::size_t entries) override { startedWith.push_back(entries); }
    void entering(std::size_t, const std::string& path) override { entered.push_back(path); }
    void found(const CheckFinding& finding) override {
        seen.push_back(finding.path + ": " + finding.message);
    }
    std::vector<std::size_t> startedWith;
    std::vector<std::string> entered;
    std::vector<std::string> seen;
};

std::vector<std::string> texts(const CheckResult& result) {
    std::vector<std::string> out;
    for (const auto& f : result.findings)
        out.push_back((f.warning ? "warning " : "") + f.path + ": " + f.message);
    return out;
}

// A walk over five entries "/e0".."/e4" that does `act` at each one.
template <typename Act>
CheckFunction walk(Act act) {
    return [act](std::size_t first, CheckObserver& observer) {
        CheckResult result;
        observer.started(5);
        for (std::size_t i = first; i < 5; ++i) {
            const std::string path = "/e" + std::to_string(i);
            observer.entering(i, path);
            act(i, path, observer);
            ++result.objects;
        }
        result.formatVersion = 3;
        result.bytesRead = 100;
        return result;
    };
}

IsolationLimits quick() {
    IsolationLimits limits;
    limits.stallSeconds = 2;
    return limits;
}

}  // namespace

TEST(IsolatedCheck, ACleanWalkReportsItsFindingsAndCounts) {
    Recorder recorder;
    const CheckResult result =
        runIsolated(walk([](std::size_t i, const std::string& path, CheckObserver& o) {
                        if (i == 1)
                            o.found({path, "odd but readable", true});
                        if (i == 3)
                            o.found({path, "bad\tdata\nwith \\ escapes", false});
                    }),
                    recorder, quick());
    EXPECT_EQ(texts(result), (std::vector<std::string>{"warning /e1: odd but readable",
                                                       "/e3: bad\tdata\nwith \\ escapes"}));
    EXPECT_EQ(result.objects, 5u);
    EXPECT_EQ(result.formatVersion, 3);
    EXPECT_FALSE(result.libraryVersion.has_value());
    EXPECT_EQ(result.bytesRead, 100u);
    EXPECT_EQ(recorder.startedWith, std::vector<std::size_t>{5});
    EXPECT_EQ(recorder.entered.size(), 5u);
    EXPECT_EQ(recorder.seen.size(), 2u);
}

TEST(IsolatedCheck, ACrashIsPlacedAtItsEntryAndTheRestIsStillChecked) {
    Recorder recorder;
    const CheckResult result =
        runIsolated(walk([](std::size_t i, const std::string& path, CheckObserver& o) {
                        if (i == 2)
                            ::raise(SIGSEGV);
                        if (i == 4)
                            o.found({path, "damaged", false});
                    }),
                    recorder, quick());
    ASSERT_EQ(result.findings.size(), 2u) << ::testing::PrintToString(texts(result));
    EXPECT_EQ(result.findings[0].path, "/e2");
    // Under a sanitizer the reader may die by the signal or by the sanitizer's own exit.
    const std::string& message = result.findings[0].message;
    EXPECT_TRUE(
        message.find("crashed (signal 11") != std::string::npos ||
        (!memoryLimitApplies() && message.find("ended without an answer") != std::string::npos))
        << message;
    EXPECT_FALSE(result.findings[0].warning);
    EXPECT_EQ(texts(result)[1], "/e4: damaged");
    EXPECT_EQ(result.formatVersion, 3);
    EXPECT_EQ(recorder.startedWith.size(), 1u);  // one progress display across both readers
}

TEST(IsolatedCheck, AHangIsStoppedAndPlaced) {
    Recorder recorder;
    const CheckResult result =
        runIsolated(walk([](std::size_t i, const std::string&, CheckObserver&) {
                        if (i == 1)
                            for (;;)
                                ::pause();
                    }),
                    recorder, quick());
    ASSERT_EQ(result.findings.size(), 1u);
    EXPECT_EQ(result.findings[0].path, "/e1");
    EXPECT_NE(result.findings[0].message.find("no progress for 2 s"), std::string::npos);
    EXPECT_EQ(result.objects, 3u);  // /e2../e4 by the second reader
}

TEST(IsolatedCheck, AFailureBeforeTheFirstEntryBlamesTheFile) {
    Recorder recorder;
    const CheckFunction dies = [](std::size_t, CheckObserver&) -> CheckResult { ::abort(); };
    const CheckResult result = runIsolated(dies, recorder, quick());
    ASSERT_EQ(result.findings.size(), 1u);
    EXPECT_EQ(result.findings[0].path, "/");
    EXPECT_NE(result.findings[0].message.find("while opening or listing the file"),
              std::string::npos);
    EXPECT_EQ(recorder.seen.size(), 1u);
}

TEST(IsolatedCheck, AnExitWithoutAnswerAndAnExceptionAreProblems) {
    Recorder recorder;
    CheckResult result = runIsolated(walk([](std::size_t i, const std::string&, CheckObserver&) {
                                         if (i == 0)
                                             ::_exit(3);
                                     }),
                                     recorder, quick());
    ASSERT_FALSE(result.findings.empty());
    EXPECT_EQ(texts(result)[0], "/e0: the reader ended without an answer (exit status 3)");

    const CheckFunction throws = [](std::size_t, CheckObserver&) -> CheckResult {
        throw std::runtime_error("out of luck");
    };
    result = runIsolated(throws, recorder, quick());
    EXPECT_EQ(texts(result), std::vector<std::string>{"/: the check failed: out of luck"});
}

TEST(IsolatedCheck, RestartsAreBounded) {
    Recorder recorder;
    IsolationLimits limits = quick();
    limits.maxRestarts = 1;
    const CheckResult result =
        runIsolated(walk([](std::size_t, const std::string&, CheckObserver&) { ::raise(SIGABRT); }),
                    recorder, limits);
    EXPECT_EQ(texts(result).size(), 3u) << ::testing::PrintToString(texts(result));
    EXPECT_EQ(result.findings[0].path, "/e0");
    EXPECT_EQ(result.findings[1].path, "/e1");
    EXPECT_EQ(texts(result)[2], "/: 3 entries not checked after 2 failed readers");
}

TEST(IsolatedCheck, MemoryIsLimited) {
    if (!memoryLimitApplies())
        GTEST_SKIP() << "no address-space limit under the sanitizer";
    Recorder recorder;
    IsolationLimits limits = quick();
    limits.memoryBytes = 1ULL << 30;
    const CheckResult result =
        runIsolated(walk([](std::size_t i, const std::string& path, CheckObserver& o) {
                        if (i != 0)
                            return;
                        try {
                            std::vector<char> huge(4ULL << 30, 1);
                            o.found({path, "allocated " + std::to_string(huge.size()), false});
                        } catch (const std::bad_alloc&) {
                            o.found({path, "out of memory", false});
                        }
                    }),
                    recorder, limits);
    EXPECT_EQ(texts(result), std::vector<std::string>{"/e0: out of memory"});
}
