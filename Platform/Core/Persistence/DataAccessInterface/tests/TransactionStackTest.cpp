#include "DAOExceptions.h"
#include "TransactionStack.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace Quellmar;

namespace {

// Records what the stack does to its transactions, in order.
struct Journal {
    std::vector<std::string> events;
};

struct Recorded : AtomicTransaction {
    Recorded(Journal& j, std::string n, bool ok = true) : journal(j), name(std::move(n)), result(ok) {}
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
        if (failLock) throw InvalidTransaction("lock failed");
    }
    bool isCompatible(const LockingTransaction* other) const override {
        auto o = dynamic_cast<const Lock*>(other);
        if (!o) throw InvalidTransaction("Incompatible locking requests.");
        if (o->source != source) return true;
        if (!exclusive && o->exclusive) throw InvalidTransaction("Incompatible locking requests.");
        return false;
    }
    bool isExclusive() const override { return exclusive; }
    Journal& journal;
    std::string name, source;
    bool exclusive;
    bool failLock = false;
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
    EXPECT_EQ(j.events, (std::vector<std::string>{"revert t2", "revert t1", "revert L", "~t2",
                                                  "~t1", "~L"}));
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
