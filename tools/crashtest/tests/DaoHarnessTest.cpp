// The DAO kill harness's own failure paths: bad arguments, a writer that fails undisturbed or
// during trials, a checker that finds damage or hangs. A wrapper script stands in for the writer
// and misbehaves in one role while the real writer does the rest.
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>
#include <sys/wait.h>

using Quellmar::testing::TempDir;

namespace {

// Runs a command line; its exit status, or -1 when it did not exit.
int run(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The harness on the DAO workload with a few short trials; output into `out`.
std::string harness(const TempDir& dir, const std::string& writer, const std::string& extra) {
    return std::string(QMX_CRASHTEST) + " --workload dao --writer " + writer + " --shim " +
           QMX_KILL_SHIM + " --trials 2 --transactions 3 --jobs 2 --dir " + dir.file("trials") +
           " " + extra + " >" + dir.file("out") + " 2>&1";
}

// A writer that runs `body` first (in sh, with the role in $1), then the real writer.
std::string wrapper(const TempDir& dir, const std::string& body) {
    const std::string path = dir.file("writer.sh");
    std::ofstream(path) << "#!/bin/sh\n" << body << "\nexec " << QMX_DAO_WRITER << " \"$@\"\n";
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    return path;
}

std::string output(const TempDir& dir) {
    return Quellmar::testing::readFile(dir.file("out"));
}

// The numbers of a mode's row of the table: trials, killed, completed, damaged, lost, ahead of
// log, absent, recoveries killed, writer errors.
std::vector<int> row(const std::string& out, const std::string& mode) {
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string first;
        if (!(words >> first) || first != mode)
            continue;
        std::vector<int> numbers;
        for (int n; words >> n;)
            numbers.push_back(n);
        return numbers;
    }
    return {};
}

}  // namespace

TEST(DaoHarness, RefusesUnknownWorkloadAndKillMode) {
    TempDir dir;
    EXPECT_EQ(
        run(std::string(QMX_CRASHTEST) + " --workload nosuch --writer x --shim y 2>/dev/null"), 2);
    EXPECT_EQ(run(harness(dir, QMX_DAO_WRITER, "--modes nth,sideways")), 2);
    EXPECT_NE(output(dir).find("unknown kill mode sideways"), std::string::npos) << output(dir);
}

TEST(DaoHarness, WriterRolesRefuseBadUsageAndAnUnreadableLog) {
    TempDir dir;
    EXPECT_EQ(run(std::string(QMX_DAO_WRITER) + " 2>/dev/null"), 2);
    EXPECT_EQ(run(std::string(QMX_DAO_WRITER) + " sideways a b c d 2>/dev/null"), 2);
    Quellmar::testing::writeFile(dir.file("log"), "0 committed\n5 committed\n");
    EXPECT_EQ(run(std::string(QMX_DAO_WRITER) + " check " + dir.file("c.qmz") + " " +
                  dir.file("log") + " 1 6 2>/dev/null"),
              9);
}

TEST(DaoHarness, WriterFailingUndisturbedStopsTheRun) {
    TempDir dir;
    const std::string writer = wrapper(dir, "[ \"$1\" = write ] && { echo refused >&2; exit 3; }");
    EXPECT_EQ(run(harness(dir, writer, "--modes nth --require-clean")), 2);
    EXPECT_NE(output(dir).find("undisturbed DAO writer run failed"), std::string::npos)
        << output(dir);
}

TEST(DaoHarness, WriterFailingInATrialFailsTheRun) {
    TempDir dir;
    // Only trial runs carry a kill point; the calibration run goes through.
    const std::string writer = wrapper(dir, "[ -n \"$QMX_KILL_AT\" ] && exit 3");
    EXPECT_EQ(run(harness(dir, writer, "--modes nth --require-clean")), 1);
    EXPECT_NE(output(dir).find("writer status 768"), std::string::npos) << output(dir);
    const std::vector<int> numbers = row(output(dir), "nth");
    ASSERT_EQ(numbers.size(), 9u) << output(dir);
    EXPECT_EQ(numbers[8], 2) << "both trials are writer errors";
    // Without --require-clean the table is the result.
    EXPECT_EQ(run(harness(dir, writer, "--modes nth")), 0);
}

TEST(DaoHarness, DamageAndLossFoundByTheCheckerFailTheRun) {
    TempDir dir;
    const std::string writer = wrapper(dir, "[ \"$1\" = check ] && { echo torn >&2; exit 3; }");
    EXPECT_EQ(run(harness(dir, writer, "--modes random --require-clean --keep-damaged")), 1);
    const std::string out = output(dir);
    EXPECT_NE(out.find("verdict 3: torn"), std::string::npos) << out;
    // Both trials counted damaged and lost, and kept for inspection.
    const std::vector<int> numbers = row(out, "random");
    ASSERT_EQ(numbers.size(), 9u) << out;
    EXPECT_EQ(numbers[0], 2);
    EXPECT_EQ(numbers[3], 2);
    EXPECT_EQ(numbers[4], 2);
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("trials/random-t0-damaged")));
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("trials/random-t1-damaged")));
}

TEST(DaoHarness, HungCheckerCountsAsLoss) {
    TempDir dir;
    const std::string writer = wrapper(dir, "[ \"$1\" = check ] && exec sleep 30");
    EXPECT_EQ(run(harness(dir, writer, "--modes nth --timeout 1 --require-clean")), 1);
    EXPECT_NE(output(dir).find("verdict -1 (hung)"), std::string::npos) << output(dir);
}
