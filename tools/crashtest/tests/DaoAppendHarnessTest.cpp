// The appending trial set through the harness's command line: the writer and the checker both
// get the appending plan, and arguments that name no plan are refused.
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>

using Quellmar::testing::TempDir;

namespace {

int run(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A writer that logs its arguments, one call a line, then runs the real writer.
std::string recordingWriter(const TempDir& dir) {
    const std::string path = dir.file("writer.sh");
    std::ofstream(path) << "#!/bin/sh\necho \"$@\" >> " << dir.file("calls") << "\nexec "
                        << QMX_DAO_WRITER << " \"$@\"\n";
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    return path;
}

}  // namespace

TEST(DaoAppendHarness, WriterAndCheckerBothRunTheAppendingPlan) {
    TempDir dir;
    const std::string writer = recordingWriter(dir);
    const int rc = run(std::string(QMX_CRASHTEST) + " --workload dao-append --writer " + writer +
                       " --shim " + QMX_KILL_SHIM + " --trials 2 --transactions 3 --jobs 2" +
                       " --modes nth --dir " + dir.file("trials") + " --require-clean >" +
                       dir.file("out") + " 2>&1");
    const std::string out = Quellmar::testing::readFile(dir.file("out"));
    EXPECT_EQ(rc, 0) << out;
    std::istringstream calls(Quellmar::testing::readFile(dir.file("calls")));
    int writes = 0, checks = 0;
    for (std::string line; std::getline(calls, line);) {
        const bool write = line.rfind("write ", 0) == 0;
        const bool check = line.rfind("check ", 0) == 0;
        if (write || check) {
            EXPECT_TRUE(line.ends_with(" --appends")) << line;
        }
        writes += write;
        checks += check;
    }
    EXPECT_GE(writes, 2);
    EXPECT_GE(checks, 2);
}

TEST(DaoAppendHarness, ArgumentsThatNameNoPlanAreRefused) {
    TempDir dir;
    const std::string c = dir.file("c.qmz"), log = dir.file("log");
    const std::string writer = QMX_DAO_WRITER;
    EXPECT_EQ(run(writer + " write " + c + " " + log + " 1 2 --appending 2>/dev/null"), 2);
    EXPECT_EQ(run(writer + " check " + c + " " + log + " 1 2 --appends extra 2>/dev/null"), 2);
    EXPECT_FALSE(std::filesystem::exists(c));
    // The same arguments with the plan's own name write and then pass the check.
    EXPECT_EQ(run(writer + " write " + c + " " + log + " 1 2 --appends"), 0);
    EXPECT_EQ(run(writer + " check " + c + " " + log + " 1 2 --appends"), 0);
    EXPECT_EQ(run(std::string(QMX_CRASHTEST) + " --workload dao-appends --writer " + writer +
                  " --shim " + QMX_KILL_SHIM + " 2>/dev/null"),
              2);
}
