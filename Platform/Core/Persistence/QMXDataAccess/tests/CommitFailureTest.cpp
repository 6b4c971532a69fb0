// Commits that fail reach the host: through the factory and the DAOs, a unit whose file cannot
// take its changes (a file-size limit makes every write past the current end fail) is told by
// commit(), by revert() or, from a destructor, by an ERROR line; the process exits cleanly
// afterwards; and the next open finds the file as it was. A writer that cannot create its
// journal is refused when it takes its lock.
#include "ChildProcess.h"
#include "DAOExceptions.h"
#include "HDFException.h"
#include "QMXTransactions.h"
#include "SessionFixture.h"
#include "StorageFixture.h"
#include "TempDir.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>

using namespace Quellmar;
namespace qt = Quellmar::testing;
using qt::Session;

namespace {

// Runs `work` in a child that exits normally with its result, through static destruction and
// HDF5's shutdown, so a crash at exit shows.
int exitStatusOf(const std::function<int()>& work) {
    return qt::runInChild(work, qt::ChildEnd::Exit);
}

// From here on no file of this process may grow past its current size.
bool limitFileSize(const std::string& file) {
    ::signal(SIGXFSZ, SIG_IGN);  // the write fails with EFBIG instead of killing the process
    const rlim_t size = static_cast<rlim_t>(qt::fileSize(file));
    const struct rlimit limit { size, size };
    return setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

std::string big() {
    return std::string(200000, 'z');
}

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::string makeContainer(const std::string& file) {
    Session s(file);
    s.blobs.createGroup("g", 1);
    s.blobs.create("g", "base", qt::makeObject("base object"));
    return file;
}

void expectUnchanged(const std::string& file) {
    Session s(file, UserContext::ReadOnly);
    EXPECT_FALSE(s.blobs.exists("g", "big"));
    SerializationTransferObject object;
    s.blobs.read("g", "base", object);
    EXPECT_EQ(qt::bytesOf(object), "base object");
}

}  // namespace

TEST(CommitFailure, CommitThrowsNamingTheFileAndTheCause) {
    qt::TempDir dir;
    const std::string file = makeContainer(dir.file("full.qmz"));
    const int rc = exitStatusOf([&] {
        auto s = std::make_unique<Session>(file);
        if (!limitFileSize(file))
            return 2;
        try {
            s->blobs.create("g", "big", qt::makeObject(big()));
        } catch (const DAOException&) {
            // Failing here already is fine; the commit must still not claim success.
        }
        try {
            s->stack->commit();
            return 3;
        } catch (const DataSourceException& e) {
            const std::string text = e.what();
            if (!has(text, "Could not commit " + file) || !has(text, "File too large")) {
                std::fprintf(stderr, "child: %s\n", text.c_str());
                return 4;
            }
            if (s->stack->getErrorMessage() != text)
                return 5;
        }
        return 0;  // and exits through HDF5's shutdown
    });
    EXPECT_EQ(rc, 0);
    expectUnchanged(file);
}

TEST(CommitFailure, RevertAndDestructionReportIt) {
    qt::TempDir dir;
    const std::string file = makeContainer(dir.file("full.qmz"));
    const int rc = exitStatusOf([&] {
        qt::LogCapture log;
        {
            auto stack = TransactionStack::create();
            UserContext context(stack, UserContext::ReadWrite);
            QMXGenericDAOFactory factory(std::make_shared<DataSourceDescriptor>(file), &context);
            QMXBlobDAO blobs;
            blobs.setDataSource(factory.getStorage());
            blobs.setContext(stack);
            // The group's attribute changes cannot be undone: the revert commits them.
            blobs.updateGroupDataId("g", std::string(30000, 'i'));
            if (!limitFileSize(file))
                return 2;
            if (stack->revert())
                return 3;
            if (!has(stack->getErrorMessage(), "Could not commit " + file))
                return 4;

            QMXGenericDAOFactory again(std::make_shared<DataSourceDescriptor>(file), &context);
            blobs.setDataSource(again.getStorage());
            try {
                blobs.create("g", "big", qt::makeObject(big()));
            } catch (const DAOException&) {
            }
        }  // the stack is destroyed with its unit open: it must not throw, and must tell
        const std::vector<std::string> errors = log.texts(LogLevel::Error);
        for (const std::string& line : errors)
            if (has(line, "Could not commit " + file) && has(line, "File too large"))
                return 0;
        for (const std::string& line : errors)
            std::fprintf(stderr, "child: ERROR %s\n", line.c_str());
        return 5;
    });
    EXPECT_EQ(rc, 0);
    expectUnchanged(file);
}

TEST(CommitFailure, LockEndedOutsideAStackLogsIt) {
    qt::TempDir dir;
    const std::string file = makeContainer(dir.file("full.qmz"));
    const int rc = exitStatusOf([&] {
        qt::LogCapture log;
        {
            auto storage =
                QMXPersistentStorage::MakeDriver(std::make_shared<DataSourceDescriptor>(file));
            ExclusiveFileLockTransaction lock(storage);
            lock.lock();
            const std::string bytes = big();
            if (!limitFileSize(file))
                return 2;
            QMXLcreateCompressedOpaqueData(storage->getHandleToStorage(), "/g", "big", 0, 0,
                                           static_cast<long long>(bytes.size()), bytes.data());
            if (!lock.revert())
                return 3;  // a lock's revert still answers true
        }
        return log.count(LogLevel::Error, "Could not commit " + file) == 1 ? 0 : 4;
    });
    EXPECT_EQ(rc, 0);
    expectUnchanged(file);
}

TEST(CommitFailure, WriterWithoutAJournalIsRefusedAtItsLock) {
    // A directory nobody may create files in: no journal can go beside the container. Root
    // ignores the mode, so the child works as "nobody".
    qt::TempDir dir;
    const std::string sub = dir.path() + "/locked";
    ASSERT_EQ(mkdir(sub.c_str(), 0755), 0);
    const std::string file = makeContainer(sub + "/c.qmz");
    ASSERT_EQ(::unlink((file + "-journal").c_str()), 0);
    const bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(chown(file.c_str(), 65534, 65534), 0);
        ASSERT_EQ(chown(sub.c_str(), 65534, 65534), 0);
        ASSERT_EQ(chmod(dir.path().c_str(), 0711), 0);
    }
    ASSERT_EQ(chmod(sub.c_str(), 0555), 0);
    const int rc = exitStatusOf([&] {
        if (root && setuid(65534) != 0)
            return 2;
        try {
            Session s(file);
            s.blobs.create("g", "big", qt::makeObject(big()));
            return 3;
        } catch (const HDFException& e) {
            if (!has(e.what(),
                     "cannot create the journal " + file + "-journal: Permission denied")) {
                std::fprintf(stderr, "child: %s\n", e.what());
                return 4;
            }
        }
        Session reader(file, UserContext::ReadOnly);  // reading needs no journal
        return reader.blobs.exists("g", "base") ? 0 : 5;
    });
    ASSERT_EQ(chmod(sub.c_str(), 0755), 0);
    EXPECT_EQ(rc, 0);
    expectUnchanged(file);
}
