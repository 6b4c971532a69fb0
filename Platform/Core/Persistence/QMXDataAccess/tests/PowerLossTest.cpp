// Power loss at every point of the workloads: the disk keeps what was synced (and, in the second
// mode, a torn piece of the last write); the next open must find the file sound, every
// committed unit exact and no uncommitted unit.
#include "FailingFileOps.h"
#include "FaultWorkloads.h"
#include "PowerLoss.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <vector>

namespace Quellmar::testing {
namespace {

// Every torn write of the small workloads is checked; of the spill workload's thousand page
// writes (each check reads 4.5 MiB back), every eighth. The sanitizer build checks a quarter.
#if defined(__SANITIZE_ADDRESS__)
constexpr std::size_t kSanitizerFactor = 4;
#else
constexpr std::size_t kSanitizerFactor = 1;
#endif

// A fresh directory, in memory where the machine has a tmpfs: the checks sync thousands of
// files, and what they test is the simulated disk, not the real one.
class ScratchDir {
public:
    ScratchDir() {
        const bool shm = std::filesystem::is_directory("/dev/shm");
        std::string tmpl = std::string(shm ? "/dev/shm" : "/tmp") + "/qmx-powerloss-XXXXXX";
        std::vector<char> buf(tmpl.begin(), tmpl.end());
        buf.push_back('\0');
        if (!::mkdtemp(buf.data()))
            throw std::runtime_error("mkdtemp failed for " + tmpl);
        m_path = buf.data();
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

struct Recorded {
    std::vector<DiskOperation> operations;
    std::vector<std::size_t> commitStart, commitEnd;  // per step, as operation counts
};

Recorded record(const Workload& workload, const ScratchDir& dir) {
    PowerLossRecorder recorder(dir.path());
    Recorded r;
    ScopedFileOps scoped(recorder);
    for (const Step& step : workload.steps) {
        HostUnit unit(dir.file("w.qmz"));
        step.work(unit);
        r.commitStart.push_back(recorder.count());
        if (step.revert)
            unit.stack->revert();
        else
            unit.stack->commit();
        r.commitEnd.push_back(recorder.count());
    }
    r.operations = recorder.operations();
    return r;
}

struct Tally {
    std::size_t points = 0;   // crash points of this mode
    std::size_t checked = 0;  // distinct disk states opened and compared
    std::size_t newer = 0;    // of them, showing the unit whose commit was under way
    std::size_t failed = 0;
};

class PowerLoss : public ::testing::Test {
protected:
    static Tally s_drop, s_torn;
    static void TearDownTestSuite() {
        std::printf(
            "power loss          crash points  states checked  in-flight unit shown  failed\n");
        std::printf("drop unsynced       %12zu  %14zu  %20zu  %6zu\n", s_drop.points,
                    s_drop.checked, s_drop.newer, s_drop.failed);
        std::printf("torn last write     %12zu  %14zu  %20zu  %6zu\n", s_torn.points,
                    s_torn.checked, s_torn.newer, s_torn.failed);
    }

    // Checks the disk after a crash once the first `point` operations were issued.
    void check(const Workload& workload, const std::vector<Content>& contents, const Recorded& r,
               const DiskModel& model, std::size_t point, LossMode mode, Tally& tally) {
        const ScratchDir crash;
        model.materialise(crash.path(), mode, point > 0 ? &r.operations[point - 1] : nullptr);
        std::size_t done = 0;  // steps whose commit or revert returned
        while (done < r.commitEnd.size() && r.commitEnd[done] <= point)
            ++done;
        const bool inFlight = done < r.commitStart.size() && point > r.commitStart[done];
        // Half the checks recover through a read-write open, half through a read-only one.
        const auto intent = point % 2 ? UserContext::ReadWrite : UserContext::ReadOnly;
        const Observation seen = observe(crash.file("w.qmz"), workload, intent);
        ++tally.checked;
        if (seen.ok && seen.content == contents[done])
            return;
        if (seen.ok && inFlight && seen.content == contents[done + 1]) {
            ++tally.newer;
            return;
        }
        ++tally.failed;
        ADD_FAILURE() << workload.name << ", "
                      << (mode == LossMode::DropUnsynced ? "dropped" : "torn") << " at operation "
                      << point << " of " << r.operations.size() << " (after step " << done
                      << (inFlight ? ", next one committing" : "") << "): "
                      << (seen.ok ? "found " + describe(seen.content)
                                  : "open failed: " + seen.error)
                      << "; expected " << describe(contents[done]);
    }

    void run(const Workload& workload, std::size_t tornStride = 1) {
        tornStride *= kSanitizerFactor;
        const ScratchDir dir;
        const Recorded r = record(workload, dir);
        const std::vector<Content> contents = workload.contents();
        // The live file itself must hold the final content.
        const Observation final = observe(dir.file("w.qmz"), workload);
        ASSERT_TRUE(final.ok) << final.error;
        ASSERT_EQ(final.content, contents.back()) << describe(final.content);

        DiskModel model;
        std::uint64_t lastVersion = ~0ull;
        std::size_t lastDone = ~std::size_t{0};
        std::size_t writes = 0;
        for (std::size_t point = 0; point <= r.operations.size(); ++point) {
            if (point > 0)
                model.apply(r.operations[point - 1]);
            ++s_drop.points;
            std::size_t done = 0;
            while (done < r.commitEnd.size() && r.commitEnd[done] <= point)
                ++done;
            // Without a sync in between, dropping the unsynced leaves the same disk as before;
            // it is checked again only when a commit returned since (a commit may end with a
            // write it does not sync, and what must be found changes with its return).
            if (model.durableVersion() != lastVersion || done != lastDone) {
                lastVersion = model.durableVersion();
                lastDone = done;
                check(workload, contents, r, model, point, LossMode::DropUnsynced, s_drop);
            }
            if (point > 0 && r.operations[point - 1].kind == DiskOperation::Write) {
                ++s_torn.points;
                if (writes++ % tornStride == 0)
                    check(workload, contents, r, model, point, LossMode::TornWrite, s_torn);
            }
            if (HasFailure())
                return;  // one broken point tells enough
        }
    }
};

Tally PowerLoss::s_drop, PowerLoss::s_torn;

TEST_F(PowerLoss, BlobsCreatedUpdatedRemovedAndReverted) {
    run(blobWorkload());
}

TEST_F(PowerLoss, VectorsAndArraysCreatedUpdatedRemovedAndReverted) {
    run(seriesWorkload());
}

TEST_F(PowerLoss, AppendsToVectorsAndArraysSomeReverted) {
    run(appendWorkload());
}

TEST_F(PowerLoss, ManySmallUnitsOnOneFile) {
    run(manyUnitsWorkload());
}

TEST_F(PowerLoss, AUnitWhoseJournalSpills) {
    const Workload workload = spillWorkload();
    // The workload must really spill: the journal is synced before the unit's commit begins.
    const ScratchDir dir;
    const Recorded r = record(workload, dir);
    bool spilled = false;
    const std::size_t begin = r.commitEnd[0], end = r.commitStart[1];
    for (std::size_t i = begin; i < end; ++i)
        spilled = spilled || r.operations[i].kind == DiskOperation::SyncFile;
    ASSERT_TRUE(spilled) << "the rewrite never spilled its journal";
    run(workload, 8);
}

}  // namespace
}  // namespace Quellmar::testing
