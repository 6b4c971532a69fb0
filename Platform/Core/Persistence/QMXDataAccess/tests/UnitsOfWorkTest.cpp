// Units of work side by side in one process, through the factory and the DAOs: a read-only unit
// nested in a writing one on the same thread, a second writing unit on the same thread (it joins
// the open one, and commit() says so), writing units of several threads taking turns, and what
// each commit leaves durable when the process is killed right after it.
#include "ChildProcess.h"
#include "DAOExceptions.h"
#include "HDFException.h"
#include "QMXWriterGate.h"
#include "SessionFixture.h"
#include "TempDir.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>

using namespace Quellmar;
namespace qt = Quellmar::testing;
using qt::Session;
using Outcome = TransactionStack::CommitOutcome;

namespace {

std::string payload(const std::string& name) {
    return name + ": " + std::string(700, name[0]);
}

// A container with the object group "g" and the object "base", committed.
std::string makeContainer(const qt::TempDir& dir, const std::string& name = "units.qmz") {
    const std::string file = dir.file(name);
    Session s(file);
    s.blobs.createGroup("g", 1);
    s.blobs.create("g", "base", qt::makeObject(payload("base")));
    return file;
}

// The object's bytes as a fresh read-only unit sees them, or "<absent>".
std::string stored(const std::string& file, const std::string& name) {
    Session s(file, UserContext::ReadOnly);
    if (!s.blobs.exists("g", name))
        return "<absent>";
    SerializationTransferObject object;
    s.blobs.read("g", name, object);
    return qt::bytesOf(object);
}

// Runs `work` in a child that is to qt::dieNow() where the test wants the crash; when work returns
// instead, the child exits with its code (a failure of the child's own).
int killedAfter(const std::function<int()>& work) {
    return qt::runInChild(work, qt::ChildEnd::QuickExit);
}

void waitFor(const std::atomic<int>& flag, int value) {
    while (flag.load() < value)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

struct WaitLimit {
    explicit WaitLimit(std::chrono::milliseconds limit) : saved(QMXWriterGate::waitLimit()) {
        QMXWriterGate::setWaitLimit(limit);
    }
    ~WaitLimit() { QMXWriterGate::setWaitLimit(saved); }
    std::chrono::milliseconds saved;
};

}  // namespace

// ---- One thread ----------------------------------------------------------------------------

TEST(UnitsOfWork, ReadOnlyUnitInsideAWritingUnitLeavesItWhole) {
    qt::TempDir dir;
    const std::string file = makeContainer(dir);
    for (const bool commitOuter : {false, true}) {
        const std::string first = commitOuter ? "kept1" : "undone1";
        const std::string second = commitOuter ? "kept2" : "undone2";
        Session outer(file);
        outer.blobs.create("g", first, qt::makeObject(payload(first)));
        {
            Session inner(file, UserContext::ReadOnly);
            SerializationTransferObject object;
            inner.blobs.read("g", "base", object);
            EXPECT_EQ(qt::bytesOf(object), payload("base"));
            EXPECT_EQ(inner.stack->commit(), Outcome::Durable);
        }
        // The outer unit goes on with the same open file and can still be undone.
        outer.blobs.create("g", second, qt::makeObject(payload(second)));
        EXPECT_TRUE(outer.blobs.exists("g", first));
        if (commitOuter) {
            EXPECT_EQ(outer.stack->commit(), Outcome::Durable);
        } else {
            EXPECT_TRUE(outer.stack->revert()) << outer.stack->getErrorMessage();
        }
    }
    EXPECT_EQ(stored(file, "undone1"), "<absent>");
    EXPECT_EQ(stored(file, "undone2"), "<absent>");
    EXPECT_EQ(stored(file, "kept1"), payload("kept1"));
    EXPECT_EQ(stored(file, "kept2"), payload("kept2"));
}

TEST(UnitsOfWork, SecondWritingUnitOnAThreadJoinsTheOpenOne) {
    qt::TempDir dir;
    const std::string file = makeContainer(dir);
    // Only the first commit: the joined unit's work is not durable yet, as commit() said.
    int rc = killedAfter([&] {
        Session first(file);
        first.blobs.create("g", "a", qt::makeObject(payload("a")));
        Session second(file);
        second.blobs.create("g", "b", qt::makeObject(payload("b")));
        if (second.stack->commit() == Outcome::Joined)
            qt::dieNow();
        return 2;
    });
    ASSERT_EQ(rc, 128 + SIGKILL);
    EXPECT_EQ(stored(file, "a"), "<absent>");
    EXPECT_EQ(stored(file, "b"), "<absent>");
    // Both commits, in either order: the last one makes both durable.
    for (const bool joinedFirst : {true, false}) {
        const std::string a = joinedFirst ? "a1" : "a2", b = joinedFirst ? "b1" : "b2";
        rc = killedAfter([&] {
            Session first(file);
            first.blobs.create("g", a, qt::makeObject(payload(a)));
            Session second(file);
            second.blobs.create("g", b, qt::makeObject(payload(b)));
            Session& early = joinedFirst ? second : first;
            Session& late = joinedFirst ? first : second;
            if (early.stack->commit() != Outcome::Joined)
                return 2;
            if (late.stack->commit() == Outcome::Durable)
                qt::dieNow();
            return 3;
        });
        ASSERT_EQ(rc, 128 + SIGKILL);
        EXPECT_EQ(stored(file, a), payload(a));
        EXPECT_EQ(stored(file, b), payload(b));
    }
}

// ---- Threads -------------------------------------------------------------------------------

TEST(UnitsOfWork, WriterOfAnotherThreadGivesUpAfterTheWaitLimit) {
    qt::TempDir dir;
    const std::string file = makeContainer(dir);
    const WaitLimit limit(std::chrono::milliseconds(50));
    Session holder(file);
    holder.blobs.create("g", "held", qt::makeObject(payload("held")));
    std::string error;
    bool readerServed = false;
    std::thread other([&] {
        try {
            Session s(file);
            error = "<entered>";
        } catch (const DataSourceException& e) {
            error = e.what();
        }
        // Reading is not held up by the writer.
        Session reader(file, UserContext::ReadOnly);
        readerServed = reader.blobs.exists("g", "base");
    });
    other.join();
    EXPECT_EQ(error,
              "File " + file +
                  " is being written by another unit of work in this process; gave up after 50 ms");
    EXPECT_TRUE(readerServed);
    EXPECT_EQ(holder.stack->commit(), Outcome::Durable);
    EXPECT_EQ(stored(file, "held"), payload("held"));
}

TEST(UnitsOfWork, WriterOfAnotherThreadWaitsItsTurn) {
    qt::TempDir dir;
    const std::string file = makeContainer(dir);
    const WaitLimit limit(std::chrono::milliseconds(30000));
    std::atomic<int> step{0};
    std::string seen;
    auto first = std::make_unique<Session>(file);
    first->blobs.create("g", "first", qt::makeObject(payload("first")));
    std::thread other([&] {
        step = 1;
        Session s(file);  // waits until the first unit has ended
        SerializationTransferObject object;
        s.blobs.read("g", "first", object);
        seen = qt::bytesOf(object);
        s.blobs.create("g", "second", qt::makeObject(payload("second")));
        s.stack->commit();
    });
    waitFor(step, 1);
    EXPECT_EQ(first->stack->commit(), Outcome::Durable);
    first.reset();
    other.join();
    EXPECT_EQ(seen, payload("first"));
    EXPECT_EQ(stored(file, "second"), payload("second"));
}

// Thread A commits while thread B's unit on the same file has uncommitted work (B took its turn
// right after A's commit), and a read-only unit of a third thread keeps HDF5's file open all the
// time. The process dies right after A's commit returned: A's object must be there, exact; B's
// must not.
TEST(UnitsOfWork, CommitIsDurableWhateverOtherUnitsDo) {
    qt::TempDir dir;
    const std::string file = makeContainer(dir);
    const int rc = killedAfter([&] {
        std::atomic<int> step{0};
        Session a(file);
        a.blobs.create("g", "a", qt::makeObject(payload("a")));
        std::thread reader([&] {
            Session r(file, UserContext::ReadOnly);
            r.blobs.exists("g", "base");
            step = 1;
            waitFor(step, 100);  // never: the process dies holding the file open
        });
        waitFor(step, 1);
        std::thread b([&] {
            Session s(file);  // waits for A's unit
            s.blobs.create("g", "b", qt::makeObject(payload("b")));
            s.blobs.update("g", "base", qt::makeObject(payload("changed by b")));
            step = 2;
            waitFor(step, 100);
        });
        reader.detach();  // both die with the process
        b.detach();
        if (a.stack->commit() != Outcome::Durable)
            return 2;
        waitFor(step, 2);
        qt::dieNow();
    });
    ASSERT_EQ(rc, 128 + SIGKILL);
    EXPECT_EQ(stored(file, "a"), payload("a"));
    EXPECT_EQ(stored(file, "b"), "<absent>");
    EXPECT_EQ(stored(file, "base"), payload("base"));
}

// The other way round: another thread's writing unit is already waiting for its turn when the
// unit commits, and the process dies at once; run twice, each round's committer on a new name.
TEST(UnitsOfWork, CommitIsDurableWhileAnotherWriterWaits) {
    qt::TempDir dir;
    const std::string file = makeContainer(dir);
    for (const std::string committer : {"a", "b"}) {
        // Names of their own in each round: the first round's committed object stays.
        const std::string mine = committer + "-committed", theirs = committer + "-waiting";
        const int rc = killedAfter([&] {
            std::atomic<int> step{0};
            auto unit = std::make_unique<Session>(file);
            unit->blobs.create("g", mine, qt::makeObject(payload(mine)));
            std::thread other([&] {
                step = 1;
                Session s(file);
                s.blobs.create("g", theirs, qt::makeObject(payload(theirs)));
                waitFor(step, 100);
            });
            other.detach();  // dies with the process
            waitFor(step, 1);
            if (unit->stack->commit() != Outcome::Durable)
                return 2;
            qt::dieNow();  // with the other unit's work in whatever state it reached
        });
        ASSERT_EQ(rc, 128 + SIGKILL);
        EXPECT_EQ(stored(file, mine), payload(mine));
        EXPECT_EQ(stored(file, theirs), "<absent>");
    }
}

// HDF5 will not open for writing a file that the process already has open read-only: a writer
// is refused (at once, not after the wait) while another thread's read-only unit holds the file,
// and gets it once that unit has ended.
TEST(UnitsOfWork, WriterIsRefusedWhileAReaderOfAnotherThreadHoldsTheFile) {
    qt::TempDir dir;
    const std::string file = makeContainer(dir);
    std::atomic<int> step{0};
    std::thread reader([&] {
        Session r(file, UserContext::ReadOnly);
        r.blobs.exists("g", "base");
        step = 1;
        waitFor(step, 2);
    });
    waitFor(step, 1);
    EXPECT_THROW(Session{file}, HDFException);
    step = 2;
    reader.join();
    Session writer(file);
    writer.blobs.create("g", "after", qt::makeObject(payload("after")));
    EXPECT_EQ(writer.stack->commit(), Outcome::Durable);
    EXPECT_EQ(stored(file, "after"), payload("after"));
}
