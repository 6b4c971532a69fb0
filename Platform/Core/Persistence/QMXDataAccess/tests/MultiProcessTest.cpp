// Two processes writing one container through the library: each unit of work either lands
// completely or the process is told that the file is busy; nothing committed is lost.
#include "DAOExceptions.h"
#include "SessionFixture.h"
#include "TempDir.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <set>
#include <string>
#include <thread>

using namespace Quellmar;
namespace qt = Quellmar::testing;
using qt::Session;

namespace {

constexpr int kTransactions = 40;

std::string payload(int process, int i) {
    return "process " + std::to_string(process) + " object " + std::to_string(i) +
           std::string(static_cast<size_t>(i * 13 % 200), 'p');
}

// The child's whole life: commit kTransactions objects, logging each after its commit returned.
// Exit code: 0 all landed, 3 a failure that was not "busy".
int writer(const std::string& file, int process, const std::string& log) {
    std::FILE* out = std::fopen(log.c_str(), "w");
    if (!out)
        return 3;
    const std::string group = "p" + std::to_string(process);
    for (int i = 0; i < kTransactions; ++i) {
        for (int attempt = 0;; ++attempt) {
            std::unique_ptr<Session> s;
            try {
                s = std::make_unique<Session>(file);
            } catch (const DAOException&) {
                if (attempt > 5000)
                    return 3;  // told "busy" for far too long
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            try {
                s->blobs.create(group, "o" + std::to_string(i),
                                qt::makeObject(payload(process, i)));
                s->stack->commit();
            } catch (const std::exception& e) {
                std::fprintf(stderr, "process %d: %s\n", process, e.what());
                return 3;
            }
            std::fprintf(out, "%d\n", i);
            std::fflush(out);
            break;
        }
    }
    std::fclose(out);
    return 0;
}

}  // namespace

TEST(MultiProcess, TwoWritersLandEveryCommittedObject) {
    qt::TempDir dir;
    const std::string file = dir.file("shared.qmz");
    {
        Session s(file);
        s.blobs.createGroup("p0", 1);
        s.blobs.createGroup("p1", 1);
    }
    pid_t children[2];
    for (int p = 0; p < 2; ++p) {
        children[p] = ::fork();
        ASSERT_GE(children[p], 0);
        if (children[p] == 0)
            ::_exit(writer(file, p, dir.file("log" + std::to_string(p))));
    }
    for (int p = 0; p < 2; ++p) {
        int status = 0;
        ASSERT_EQ(::waitpid(children[p], &status, 0), children[p]);
        ASSERT_TRUE(WIFEXITED(status)) << "writer " << p << " died";
        EXPECT_EQ(WEXITSTATUS(status), 0) << "writer " << p << " failed";
    }
    Session s(file, UserContext::ReadOnly);
    for (int p = 0; p < 2; ++p) {
        std::ifstream log(dir.file("log" + std::to_string(p)));
        std::set<int> logged;
        for (int i; log >> i;)
            logged.insert(i);
        EXPECT_EQ(logged.size(), static_cast<size_t>(kTransactions));
        for (int i : logged) {
            SerializationTransferObject object;
            s.blobs.read("p" + std::to_string(p), "o" + std::to_string(i), object);
            EXPECT_EQ(qt::bytesOf(object), payload(p, i));
        }
    }
}
