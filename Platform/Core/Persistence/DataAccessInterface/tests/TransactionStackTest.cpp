#include "DAOExceptions.h"
#include "Logging.h"
#include "ReleaseReport.h"
#include "TransactionStack.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

using namespace Quellmar;

namespace {

// Records what the stack does to its transactions, in order.
struct Journal {
    std::vector<std::string> events;
};

struct Recorded : AtomicTransaction {
    Recorded(Journal& j, std::string n, bool ok = true)
        : journal(j), name(std::move(n)), result(ok) {}
    ~Recorded() override { journal.events.push_back("~" + name); }
    bool revert() override {
        journal.events.push_back("revert " + name);
        return result;
    }
    Journal& journal;
    std::string name;
    bool result;
};

// A lock on a named source; covers requests on the same source of the same or weaker kind.
struct Lock : LockingTransaction {
    Lock(Journal& j, std::string n, std::string src, bool excl)
        : journal(j), name(std::move(n)), source(std::move(src)), exclusive(excl) {}
    ~Lock() override { journal.events.push_back("~" + name); }
    bool revert() override {
        journal.events.push_back("revert " + name);
        return true;
    }
    void lock() override {
        journal.events.push_back("lock " + name);
        if (failLock)
            throw InvalidTransaction("lock failed");
    }
    bool isCompatible(const LockingTransaction* other) const override {
        auto o = dynamic_cast<const Lock*>(other);
        if (!o)
            throw InvalidTransaction("Incompatible locking requests.");
        if (o->source != source)
            return true;
        if (!exclusive && o->exclusive)
            throw InvalidTransaction("Incompatible locking requests.");
        return false;
    }
    bool isExclusive() const override { return exclusive; }
    Journal& journal;
    std::string name, source;
    bool exclusive;
    bool failLock = false;
};

// A lock whose end tells the thread's report what became of its source, as the library's
// file locks do.
struct ReportingLock : Lock {
    enum class End { Committed, Failed, Deferred };
    ReportingLock(Journal& j, std::string n, std::string src, End e)
        : Lock(j, std::move(n), std::move(src), true), end(e) {}
    ~ReportingLock() override {
        ReleaseReport* report = ReleaseReport::current();
        if (!report) {
            journal.events.push_back("no report");
            return;
        }
        if (end == End::Failed)
            report->failed(source, "No space left on device");
        if (end == End::Deferred)
            report->deferred(source);
    }
    End end;
};

struct Throwing : Recorded {
    using Recorded::Recorded;
    bool revert() override {
        journal.events.push_back("revert " + name);
        throw std::runtime_error("undo step failed");
    }
};

}  // namespace

TEST(TransactionStack, CoveringLockIsNotTakenAgain) {
    Journal j;
    auto stack = TransactionStack::create();
    stack->pushLock(new Lock(j, "x1", "a.qmz", true));
    stack->pushLock(new Lock(j, "x2", "a.qmz", true));   // covered by x1
    stack->pushLock(new Lock(j, "s1", "a.qmz", false));  // shared under exclusive: covered
    stack->pushLock(new Lock(j, "x3", "b.qmz", true));   // other source: taken
    EXPECT_EQ(stack->lockCount(), 2u);
    EXPECT_EQ(j.events, (std::vector<std::string>{"lock x1", "~x2", "~s1", "lock x3"}));
}

TEST(TransactionStack, IncompatibleRequestLeavesStackUnchanged) {
    Journal j;
    auto stack = TransactionStack::create();
    stack->pushLock(new Lock(j, "s1", "a.qmz", false));
    stack->push(new Recorded(j, "t1"));
    j.events.clear();
    EXPECT_THROW(stack->pushLock(new Lock(j, "x1", "a.qmz", true)), InvalidTransaction);
    EXPECT_EQ(stack->size(), 2u);
    EXPECT_EQ(j.events, (std::vector<std::string>{"~x1"}));  // destroyed, never locked
}

TEST(TransactionStack, FailingLockIsDestroyedAndNotKept) {
    Journal j;
    auto stack = TransactionStack::create();
    auto* lock = new Lock(j, "x1", "a.qmz", true);
    lock->failLock = true;
    EXPECT_THROW(stack->pushLock(lock), InvalidTransaction);
    EXPECT_TRUE(stack->empty());
    EXPECT_EQ(j.events, (std::vector<std::string>{"lock x1", "~x1"}));
}

TEST(TransactionStack, RevertRunsNewestFirstAndReportsAFailure) {
    Journal j;
    auto stack = TransactionStack::create();
    stack->pushLock(new Lock(j, "L", "a.qmz", true));
    stack->push(new Recorded(j, "t1"));
    stack->push(new Recorded(j, "t2", false));
    j.events.clear();
    EXPECT_FALSE(stack->revert());
    EXPECT_TRUE(stack->empty());
    EXPECT_EQ(j.events,
              (std::vector<std::string>{"revert t2", "revert t1", "revert L", "~t2", "~t1", "~L"}));
    EXPECT_TRUE(stack->revert());  // an empty stack reverts trivially
}

TEST(TransactionStack, CommitAndDestructionDoNotRevert) {
    Journal j;
    {
        auto stack = TransactionStack::create();
        stack->pushLock(new Lock(j, "L", "a.qmz", true));
        stack->push(new Recorded(j, "t1"));
        stack->commit();
        EXPECT_TRUE(stack->empty());
        stack->push(new Recorded(j, "t2"));
    }
    EXPECT_EQ(j.events, (std::vector<std::string>{"lock L", "~t1", "~L", "~t2"}));
}

TEST(TransactionStack, ErrorMessageAndNullPushes) {
    auto stack = TransactionStack::create();
    EXPECT_EQ(stack->getErrorMessage(), "");
    stack->setErrorMessage("Error creating vector.");
    EXPECT_EQ(stack->getErrorMessage(), "Error creating vector.");
    stack->push(nullptr);
    stack->pushLock(nullptr);
    EXPECT_TRUE(stack->empty());
    EXPECT_NE(TransactionStack::create(), stack);
}

TEST(TransactionStack, RevertWithAThrowingUndoStepIsIncompleteAndUndoesTheRest) {
    Journal j;
    auto stack = TransactionStack::create();
    stack->push(new Recorded(j, "t1"));
    stack->push(new Throwing(j, "t2"));
    stack->push(new Recorded(j, "t3"));
    EXPECT_FALSE(stack->revert());
    EXPECT_TRUE(stack->empty());
    EXPECT_EQ(j.events, (std::vector<std::string>{"revert t3", "revert t2", "revert t1", "~t3",
                                                  "~t2", "~t1"}));
}

TEST(TransactionStack, CommitThrowsNamingEveryFileThatFailedAfterEndingAll) {
    using End = ReportingLock::End;
    Journal j;
    auto stack = TransactionStack::create();
    stack->pushLock(new ReportingLock(j, "A", "a.qmz", End::Failed));
    stack->pushLock(new ReportingLock(j, "B", "b.qmz", End::Committed));
    stack->pushLock(new ReportingLock(j, "C", "c.qmz", End::Failed));
    stack->push(new Recorded(j, "t1"));
    j.events.clear();
    try {
        stack->commit();
        ADD_FAILURE() << "a failed commit returned";
    } catch (const DataSourceException& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Could not commit c.qmz: No space left on device; "
                  "Could not commit a.qmz: No space left on device");
    }
    EXPECT_TRUE(stack->empty()) << "every transaction is ended before the throw";
    EXPECT_EQ(j.events, (std::vector<std::string>{"~t1", "~C", "~B", "~A"}));
    EXPECT_NE(stack->getErrorMessage().find("a.qmz"), std::string::npos);
    EXPECT_EQ(ReleaseReport::current(), nullptr) << "the report is gone with the commit";
}

TEST(TransactionStack, CommitSaysWhetherTheWorkIsDurableOrJoined) {
    using End = ReportingLock::End;
    Journal j;
    auto stack = TransactionStack::create();
    stack->pushLock(new ReportingLock(j, "A", "a.qmz", End::Committed));
    EXPECT_EQ(stack->commit(), TransactionStack::CommitOutcome::Durable);
    stack->pushLock(new ReportingLock(j, "A", "a.qmz", End::Committed));
    stack->pushLock(new ReportingLock(j, "B", "b.qmz", End::Deferred));
    EXPECT_EQ(stack->commit(), TransactionStack::CommitOutcome::Joined);
    EXPECT_EQ(stack->commit(), TransactionStack::CommitOutcome::Durable);  // nothing left
    EXPECT_EQ(std::count(j.events.begin(), j.events.end(), "no report"), 0);
}

TEST(TransactionStack, RevertReportsAFileThatCouldNotBeCommitted) {
    using End = ReportingLock::End;
    Journal j;
    auto stack = TransactionStack::create();
    stack->pushLock(new ReportingLock(j, "A", "a.qmz", End::Failed));
    stack->push(new Recorded(j, "t1"));
    EXPECT_FALSE(stack->revert());
    EXPECT_EQ(stack->getErrorMessage(), "Could not commit a.qmz: No space left on device");
}

TEST(TransactionStack, DestructionLogsAFailedCommitAtError) {
    using End = ReportingLock::End;
    std::vector<std::string> errors;
    setLogSink(
        [&](const LogRecord& r) {
            if (r.level == LogLevel::Error)
                errors.push_back(r.text);
        },
        LogLevel::Debug);
    Journal j;
    {
        auto stack = TransactionStack::create();
        stack->pushLock(new ReportingLock(j, "A", "a.qmz", End::Failed));
        stack->pushLock(new ReportingLock(j, "B", "b.qmz", End::Committed));
    }  // must not throw
    resetLogSink();
    EXPECT_EQ(errors,
              (std::vector<std::string>{"Could not commit a.qmz: No space left on device"}));
    EXPECT_EQ(j.events, (std::vector<std::string>{"lock A", "lock B", "~B", "~A"}));
}

TEST(TransactionStack, ReleaseReportsNest) {
    EXPECT_EQ(ReleaseReport::current(), nullptr);
    ReleaseReport outer;
    {
        ReleaseReport inner;
        EXPECT_EQ(ReleaseReport::current(), &inner);
        inner.failed("x.qmz", "");
        EXPECT_EQ(inner.message(), "Could not commit x.qmz");
    }
    EXPECT_EQ(ReleaseReport::current(), &outer);
    EXPECT_FALSE(outer.anyFailed());
    EXPECT_FALSE(outer.anyDeferred());
}
