// Eight threads at once, each through its own storage (the registry gives one per thread): four
// on files of their own, four sharing one file. Each mixes blob, attribute, vector and array work
// and ends its units of work with commits and reverts. Afterwards every committed object must be
// exact and nothing of a reverted creation may remain.
#include "DAOExceptions.h"
#include "SessionFixture.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace Quellmar;
namespace qt = Quellmar::testing;
using qt::Session;

namespace {

constexpr int kThreads = 8;
constexpr int kRounds = 12;

struct Expected {
    std::map<std::string, std::string> blobs;            // name -> bytes
    std::map<std::string, std::vector<double>> vectors;  // name -> values (never undone)
    std::map<std::string, std::vector<int>> arrays;      // name -> 2 x 3 values
    std::set<std::string> gone;                          // reverted creations
    std::string groupId;
};

std::string payload(int thread, int round) {
    return "thread " + std::to_string(thread) + " round " + std::to_string(round) +
           std::string(static_cast<size_t>(round * 37 % 300), static_cast<char>('a' + thread));
}

// One thread's work. Taking the file can answer busy (another thread holds it in a mode that
// excludes ours): then nothing was done yet and the unit of work is retried. Once the unit holds
// its lock, every failure is a fault.
void work(const std::string& file, int thread, Expected& expected, std::atomic<int>& failures,
          std::atomic<int>& busy) {
    const std::string group = "t" + std::to_string(thread);
    for (int round = 0; round < kRounds; ++round) {
        const bool revert = round % 3 == 2;
        const std::string name = "r" + std::to_string(round);
        std::unique_ptr<Session> s;
        for (int attempt = 0; !s; ++attempt) {
            try {
                s = std::make_unique<Session>(file);
            } catch (const DAOException& e) {
                ++busy;
                if (attempt > 500) {
                    ++failures;
                    ADD_FAILURE() << "thread " << thread << " never got " << file << ": "
                                  << e.what();
                    return;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
        try {
            s->blobs.createGroup(group, 1);
            s->blobs.create(group, name, qt::makeObject(payload(thread, round)));
            const bool touchFirst = round > 0 && !revert;
            if (touchFirst)
                s->blobs.update(group, "r0", qt::makeObject(payload(thread, 100 + round)));
            std::vector<double> values(static_cast<size_t>(10 + round));
            for (size_t i = 0; i < values.size(); ++i)
                values[i] = thread * 1000.0 + round + static_cast<double>(i) * 0.5;
            s->vectors.create(group, "v" + name, VT_DOUBLE, static_cast<int>(values.size()),
                              values.data());
            std::vector<int> cells{thread, round, 1, 2, 3, 4};
            s->arrays.create(group, "a" + name, VT_INT32, 2, 3, cells.data());
            if (revert) {
                // Blob and array creations are undone; a typed vector's creation is not, and
                // neither is the group's (its undo reports false, so the result is not checked).
                s->stack->revert();
                expected.gone.insert(name);
                expected.vectors["v" + name] = values;
            } else {
                s->blobs.updateGroupDataId(group, "id " + name);
                s->stack->commit();
                expected.blobs[name] = payload(thread, round);
                if (touchFirst)
                    expected.blobs["r0"] = payload(thread, 100 + round);
                expected.vectors["v" + name] = values;
                expected.arrays["a" + name] = cells;
                expected.groupId = "id " + name;
            }
        } catch (const std::exception& e) {
            s->stack->revert();
            ++failures;
            ADD_FAILURE() << "thread " << thread << " round " << round << ": " << e.what();
            return;
        }
    }
}

void verify(const std::string& file, int thread, const Expected& expected) {
    const std::string group = "t" + std::to_string(thread);
    Session s(file, UserContext::ReadOnly);
    for (const auto& [name, bytes] : expected.blobs) {
        SerializationTransferObject object;
        s.blobs.read(group, name, object);
        EXPECT_EQ(qt::bytesOf(object), bytes) << group << "/" << name;
    }
    for (const auto& [name, values] : expected.vectors) {
        const VectorInfo info = s.vectors.getInfo(group, name);
        ASSERT_EQ(info.rows, static_cast<int>(values.size())) << group << "/" << name;
        std::vector<double> read(values.size());
        s.vectors.read(group, name, VT_DOUBLE, read.data());
        EXPECT_EQ(read, values) << group << "/" << name;
    }
    for (const auto& [name, cells] : expected.arrays) {
        const VectorInfo info = s.arrays.getInfo(group, name);
        EXPECT_EQ(info.rows, 2);
        EXPECT_EQ(info.cols, 3);
        std::vector<int> read(cells.size());
        s.arrays.read(group, name, VT_INT32, read.data());
        EXPECT_EQ(read, cells) << group << "/" << name;
    }
    for (const std::string& name : expected.gone) {
        EXPECT_FALSE(s.blobs.exists(group, name)) << group << "/" << name << " survived a revert";
        EXPECT_FALSE(s.arrays.exists(group, "a" + name));
    }
    std::string id;
    s.blobs.readGroupDataId(group, id);
    EXPECT_EQ(id, expected.groupId);
}

}  // namespace

TEST(Concurrency, EightThreadsOnOwnAndSharedFiles) {
    qt::TempDir dir;
    std::vector<std::string> files(kThreads);
    for (int t = 0; t < kThreads; ++t)
        files[t] = t < 4 ? dir.file("own" + std::to_string(t) + ".qmz") : dir.file("shared.qmz");
    {
        Session create(dir.file("shared.qmz"));  // made once, before the threads race for it
    }

    std::vector<Expected> expected(kThreads);
    std::atomic<int> failures{0}, busy{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back(work, files[t], t, std::ref(expected[t]), std::ref(failures),
                             std::ref(busy));
    for (auto& t : threads)
        t.join();
    ASSERT_EQ(failures.load(), 0);

    for (int t = 0; t < kThreads; ++t)
        verify(files[t], t, expected[t]);
    RecordProperty("busy_retries", busy.load());
}
