// The journaled file's failures read "cannot <action> <name>: <the system's reason>", with the
// name as the caller gave it: hosts and the crash harness match on that form.
#include "JournaledFile.h"
#include "PosixFile.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <string>

namespace {

using namespace Quellmar::qmxfile;
using Quellmar::testing::TempDir;

TEST(JournaledFileMessages, SystemCallFailuresNameActionFileAndReason) {
    EXPECT_EQ(cannot("sync the journal of", "/d/x.qmz", EIO),
              "cannot sync the journal of /d/x.qmz: Input/output error");
    EXPECT_EQ(cannot("open", "a b.qmz", ENOENT), "cannot open a b.qmz: No such file or directory");
}

TEST(JournaledFileMessages, OpenAndCreateFailuresCarryTheGivenName) {
    TempDir dir;
    const std::string missing = dir.path() + "/missing.qmz";
    std::string error;
    EXPECT_EQ(JournaledFile::open(missing, 0, error), nullptr);
    EXPECT_EQ(error, "cannot open " + missing + ": No such file or directory");
    error.clear();
    EXPECT_EQ(JournaledFile::open(missing, kOpenReadWrite, error), nullptr);
    EXPECT_EQ(error, "cannot open " + missing + ": No such file or directory");

    const std::string present = dir.path() + "/present.qmz";
    std::ofstream(present) << "x";
    error.clear();
    EXPECT_EQ(JournaledFile::open(present, kOpenReadWrite | kOpenCreate | kOpenExclusive, error),
              nullptr);
    EXPECT_EQ(error, "cannot create " + present + ": File exists");

    // The same name opens once it is there, and the error is left alone.
    error.clear();
    auto file = JournaledFile::open(present, 0, error);
    ASSERT_NE(file, nullptr) << error;
    EXPECT_EQ(error, "");
}

}  // namespace
