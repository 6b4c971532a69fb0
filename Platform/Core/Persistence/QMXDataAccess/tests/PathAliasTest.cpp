// How a host spells a container's path changes nothing: a unit of work killed while working
// through a symbolic link is recovered through the real name and cannot later undo a unit
// committed there; every spelling of one file is one storage; a file with two names is refused.
#include "ChildProcess.h"
#include "DAOExceptions.h"
#include "Journal.h"
#include "SessionFixture.h"
#include "StorageFixture.h"
#include "WorkingDirectory.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace Quellmar {
namespace {

namespace qt = Quellmar::testing;
using qt::Session;

// 6 MiB of doubles: overwriting them all holds back more than the journal keeps in memory, so
// the unit's first overwrites reach the container before it commits.
constexpr int kValues = 768 * 1024;

std::vector<double> values(double base) {
    std::vector<double> v(kValues);
    for (int i = 0; i < kValues; ++i)
        v[static_cast<size_t>(i)] = base + i;
    return v;
}

std::string realPathOf(const std::string& path) {
    char buffer[PATH_MAX];
    return ::realpath(path.c_str(), buffer) ? std::string(buffer) : "<unresolved " + path + ">";
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

std::string journalOf(const std::string& path) {
    return path + "-journal";
}

using Quellmar::testing::WorkingDirectory;

// A writer in a child process that works through `through` until it has torn the container,
// then dies there. True once it died there.
bool killWriterMidUnit(const std::string& through) {
    return qt::runInChild(
               [&]() -> int {
                   auto* unit = new Session(through);  // never ended: the writer dies inside it
                   unit->blobs.create("g", "uncommitted", qt::makeObject("must never show"));
                   const std::vector<double> changed = values(1e6);
                   unit->vectors.update("series", "v", VT_DOUBLE, kValues, changed.data());
                   qt::dieNow();
               },
               qt::ChildEnd::QuickExit) == 128 + SIGKILL;
}

class KilledThroughALink : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(::mkdir(dir.file("data").c_str(), 0755), 0);
        real = dir.file("data/model.qmz");
        {
            Session s(real);
            s.blobs.createGroup("g", 1);
            s.blobs.create("g", "base", qt::makeObject("committed before the crash"));
            const std::vector<double> v = values(0);
            s.vectors.create("series", "v", VT_DOUBLE, kValues, v.data());
        }
        committed = qt::readFile(real);
    }

    // Kills a writer working through `through`, then checks the recovery through the real
    // name and, after a unit committed there, the view through `through` again.
    void killRecoverAndCommit(const std::string& through, const std::string& linkEntry) {
        ASSERT_TRUE(killWriterMidUnit(through));
        ASSERT_NE(qt::readFile(real), committed) << "the killed unit did reach the container";
        EXPECT_GT(qt::fileSize(journalOf(real)), 0) << "its journal lies beside the real file";
        EXPECT_FALSE(exists(journalOf(linkEntry))) << "and not beside the link";

        {
            Session s(real, UserContext::ReadOnly);
            expectCommittedState(s);
            EXPECT_FALSE(s.blobs.exists("g", "after"));
        }
        EXPECT_EQ(qt::readFile(real), committed) << "rolled back to the committed bytes exactly";

        {
            Session s(real);
            s.blobs.create("g", "after", qt::makeObject("committed through the real name"));
        }
        Session s(through, UserContext::ReadOnly);
        expectCommittedState(s);
        ASSERT_TRUE(s.blobs.exists("g", "after"))
            << "the unit committed through the real name was lost";
        SerializationTransferObject after;
        s.blobs.read("g", "after", after);
        EXPECT_EQ(qt::bytesOf(after), "committed through the real name");
    }

    void expectCommittedState(Session& s) {
        SerializationTransferObject base;
        s.blobs.read("g", "base", base);
        EXPECT_EQ(qt::bytesOf(base), "committed before the crash");
        EXPECT_FALSE(s.blobs.exists("g", "uncommitted"));
        std::vector<double> v(kValues);
        ASSERT_TRUE(s.vectors.read("series", "v", VT_DOUBLE, v.data()));
        EXPECT_TRUE(v == values(0)) << "the vector shows the killed unit's overwrites";
    }

    qt::TempDir dir;
    std::string real;
    std::string committed;
};

TEST_F(KilledThroughALink, LinkToTheFile) {
    const std::string link = dir.file("model-link.qmz");
    ASSERT_EQ(::symlink("data/model.qmz", link.c_str()), 0);
    killRecoverAndCommit(link, link);
}

class PathSpellings : public qt::StorageTest {
protected:
    static std::string threadPart() {
        std::ostringstream out;
        out << std::this_thread::get_id();
        return out.str();
    }
};

TEST_F(PathSpellings, EverySpellingOnOneThreadIsOneStorage) {
    ASSERT_EQ(::mkdir(file("sub").c_str(), 0755), 0);
    qt::makeContainer(file("x.qmz"));
    ASSERT_EQ(::symlink("x.qmz", file("link.qmz").c_str()), 0);
    ASSERT_EQ(::symlink(dir.path().c_str(), file("sub/up").c_str()), 0);
    const std::string canonical = realPathOf(file("x.qmz"));
    WorkingDirectory here(dir.path());
    ASSERT_TRUE(here.ok());

    const std::size_t before = QMXRegistryInspector::size();
    auto first = QMXPersistentStorage::MakeDriver(qt::descriptorFor("x.qmz"));
    for (const std::string& spelling :
         {std::string("./x.qmz"), std::string("sub/../x.qmz"), file("x.qmz"),
          std::string("link.qmz"), file("link.qmz"), std::string("sub/up/x.qmz"),
          std::string("./sub/up/./link.qmz")}) {
        auto other = QMXPersistentStorage::MakeDriver(qt::descriptorFor(spelling));
        EXPECT_EQ(other.get(), first.get()) << spelling;
    }
    // One entry, under the spelling that made the storage; the others find it by its file.
    EXPECT_EQ(QMXRegistryInspector::size(), before + 1);
    EXPECT_EQ(QMXRegistryInspector::keysFor("x.qmz"),
              std::vector<std::string>{"x.qmz|" + threadPart()});
    // Log lines keep the name as the host gave it.
    EXPECT_EQ(log.count(LogLevel::Debug, "*** Persistence: Added new driver for "), 1);
    EXPECT_TRUE(log.has(LogLevel::Debug,
                        "*** Persistence: Added new driver for x.qmz and hold a total of " +
                            std::to_string(before + 1) + " drivers."));

    // While the first storage lives, a spelling made after it reaches it too.
    EXPECT_EQ(QMXPersistentStorage::MakeDriver(qt::descriptorFor(canonical)).get(), first.get());
    first.reset();
    EXPECT_EQ(QMXRegistryInspector::size(), before) << "the entry leaves with its storage";
    EXPECT_TRUE(QMXRegistryInspector::keysFor("x.qmz").empty());
    EXPECT_TRUE(
        log.has(LogLevel::Debug, "*** Persistence: x.qmz removed from drivers. Currently holding " +
                                     std::to_string(before) + " drivers."));
}

TEST_F(PathSpellings, FileMadeThroughOneSpellingIsFoundThroughAnother) {
    WorkingDirectory here(dir.path());
    ASSERT_TRUE(here.ok());
    auto creator = QMXPersistentStorage::MakeDriver(qt::descriptorFor("./new.qmz"));
    ASSERT_GT(creator->getHandleToStorage(), 0) << "created and open";
    auto again = QMXPersistentStorage::MakeDriver(qt::descriptorFor(file("new.qmz")));
    EXPECT_EQ(again.get(), creator.get());
    EXPECT_EQ(log.count(LogLevel::Info, "*** Persistence: File "), 1) << "created once";
}

TEST_F(PathSpellings, FileWithTwoNamesIsRefusedAsADataSource) {
    const std::string real = file("x.qmz");
    qt::makeContainer(real);
    ASSERT_EQ(::link(real.c_str(), file("second.qmz").c_str()), 0);
    ASSERT_EQ(::symlink("second.qmz", file("link.qmz").c_str()), 0);
    const std::string bytes = qt::readFile(real);
    const std::size_t before = QMXRegistryInspector::size();
    for (const std::string& name : {real, file("second.qmz"), file("link.qmz")}) {
        for (auto intent : {UserContext::ReadWrite, UserContext::ReadOnly}) {
            try {
                Session s(name, intent);
                ADD_FAILURE() << name << " was opened";
            } catch (const DataSourceException& e) {
                EXPECT_EQ(
                    std::string(e.what()),
                    "File " + name + " has 2 hard links; a journaled file must have one name");
            }
        }
        EXPECT_TRUE(
            log.has(LogLevel::Error,
                    "File " + name + " has 2 hard links; a journaled file must have one name"));
    }
    EXPECT_EQ(QMXRegistryInspector::size(), before) << "refusals leave the registry as it was";
    EXPECT_EQ(qt::readFile(real), bytes);
    EXPECT_FALSE(Quellmar::qmxfile::journal::holdsTransaction(real));
    EXPECT_FALSE(exists(journalOf(file("second.qmz"))));

    ASSERT_EQ(::unlink(file("second.qmz").c_str()), 0);
    Session s(real);
    s.blobs.createGroup("g", 1);
    EXPECT_TRUE(s.blobs.existsGroup("g"));
}

}  // namespace
}  // namespace Quellmar
