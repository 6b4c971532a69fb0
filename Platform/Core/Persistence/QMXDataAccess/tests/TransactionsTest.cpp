// File locks, the flushing switch and creation transactions, on real files and through the
// host's transaction stack.
#include "CallCounter.h"
#include "DAOExceptions.h"
#include "HDFException.h"
#include "LastError.h"
#include "QMXTransactions.h"
#include "StorageFixture.h"
#include "TransactionStack.h"

#include <mutex>
#include <thread>
#include <vector>

namespace {
std::mutex g_flushMutex;
std::vector<int> g_flushValues;  // every value handed to the flushing switch
std::vector<int> flushValues() {
    std::lock_guard<std::mutex> guard(g_flushMutex);
    std::vector<int> v;
    v.swap(g_flushValues);
    return v;
}
}  // namespace

extern "C" int QMXLsetflush(int on) {
    {
        std::lock_guard<std::mutex> guard(g_flushMutex);
        g_flushValues.push_back(on);
    }
    static auto real = Quellmar::testing::CallCounter::real<int (*)(int)>("QMXLsetflush");
    return real(on);
}

namespace Quellmar {
namespace {

using testing::descriptorFor;
using testing::makeContainer;

// A lock of some other kind, for the compatibility test.
struct ForeignLock : LockingTransaction {
    bool revert() override { return true; }
    void lock() override {}
    bool isCompatible(const LockingTransaction*) const override { return true; }
    bool isExclusive() const override { return false; }
};

class TransactionsTest : public testing::StorageTest {
protected:
    std::shared_ptr<QMXPersistentStorage> storageFor(const std::string& name) {
        return QMXPersistentStorage::MakeDriver(descriptorFor(file(name)));
    }
    int commits() const { return log.count(LogLevel::Debug, "*** Persistence: committed handle "); }
    int closes() const { return log.count(LogLevel::Debug, "*** Persistence: closed handle "); }
    static bool readOnly(const std::shared_ptr<QMXPersistentStorage>& s) {
        return QMXLisFileReadOnly(s->getHandleToStorage()) == 1;
    }
};

TEST_F(TransactionsTest, PushedFileLockNeedsAStorageAndHasTheKindAskedFor) {
    auto storage = storageFor("pushed.qmz");
    ASSERT_TRUE(storage->closeFile());
    auto stack = TransactionStack::create();
    for (bool exclusive : {false, true}) {
        try {
            pushFileLock(*stack, nullptr, exclusive);
            ADD_FAILURE() << "no exception";
        } catch (const DataSourceException& e) {
            EXPECT_STREQ(e.what(), "No storage defined!");
        }
        EXPECT_TRUE(stack->empty());
        pushFileLock(*stack, storage, exclusive);
        EXPECT_EQ(stack->lockCount(), 1u);
        EXPECT_EQ(readOnly(storage), !exclusive);
        stack->commit();
        EXPECT_EQ(storage->getHandleToStorage(), -1);
    }
}

TEST_F(TransactionsTest, TakenLockCommitsAndClosesOnceAndItsEndReleasesOnlyWhatIsInForce) {
    auto storage = storageFor("lock.qmz");  // created: open read-write
    ASSERT_TRUE(storage->closeFile());
    log.clear();

    SharedFileLockTransaction lock(storage);
    EXPECT_FALSE(lock.isExclusive());
    EXPECT_TRUE(lock.revert());  // never taken: nothing to release
    EXPECT_EQ(commits() + closes(), 0);

    lock.lock();
    EXPECT_TRUE(lock.isLocked());
    EXPECT_TRUE(readOnly(storage));
    EXPECT_TRUE(lock.revert());
    EXPECT_EQ(commits(), 1);
    EXPECT_EQ(closes(), 1);
    EXPECT_EQ(storage->getHandleToStorage(), -1);
    EXPECT_TRUE(lock.revert());
    EXPECT_EQ(commits(), 1);
    EXPECT_EQ(closes(), 1);

    lock.lock();  // may be taken again after a revert
    EXPECT_GT(storage->getHandleToStorage(), 0);
    EXPECT_TRUE(lock.revert());
    EXPECT_EQ(closes(), 2);

    // Destroying a lock releases only what is in force.
    log.clear();
    {
        ExclusiveFileLockTransaction untaken(storage);
        SharedFileLockTransaction reverted(storage);
        reverted.lock();
        reverted.revert();
    }
    EXPECT_EQ(commits(), 1);
    EXPECT_EQ(closes(), 1);

    for (bool exclusive : {true, false}) {
        log.clear();
        {
            std::unique_ptr<QMXLockTransaction> held;
            if (exclusive)
                held = std::make_unique<ExclusiveFileLockTransaction>(storage);
            else
                held = std::make_unique<SharedFileLockTransaction>(storage);
            held->lock();
            EXPECT_EQ(readOnly(storage), !exclusive);
        }
        EXPECT_EQ(commits(), 1);
        EXPECT_EQ(closes(), 1);
        EXPECT_EQ(storage->getHandleToStorage(), -1);
    }
}

TEST_F(TransactionsTest, FailedLockStillCountsAsInForce) {
    const std::string path = file("garbage.qmz");
    testing::writeFile(path, "not a container file at all");
    auto storage = QMXPersistentStorage::MakeDriver(descriptorFor(path));
    ExclusiveFileLockTransaction lock(storage);
    try {
        lock.lock();
        FAIL() << "no exception";
    } catch (const HDFException& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Driver check failed!", 0), 0u) << e.what();
    }
    EXPECT_TRUE(lock.isLocked());
    EXPECT_TRUE(lock.revert());
    EXPECT_FALSE(lock.isLocked());

    // Through the stack: the refused lock is dropped and nothing is held.
    auto stack = TransactionStack::create();
    EXPECT_THROW(stack->pushLock(new SharedFileLockTransaction(storage)), HDFException);
    EXPECT_EQ(stack->lockCount(), 0u);
}

TEST_F(TransactionsTest, StackTakesRelatesAndEndsLocks) {
    auto storage = storageFor("stack.qmz");
    ASSERT_TRUE(storage->closeFile());
    auto stack = TransactionStack::create();

    stack->pushLock(new SharedFileLockTransaction(storage));
    EXPECT_TRUE(readOnly(storage));
    stack->pushLock(new SharedFileLockTransaction(storage));  // covered
    EXPECT_EQ(stack->lockCount(), 1u);
    try {
        stack->pushLock(new ExclusiveFileLockTransaction(storage));
        FAIL() << "no exception";
    } catch (const InvalidTransaction& e) {
        EXPECT_STREQ(e.what(), "Incompatible locking requests.");
    }
    EXPECT_EQ(stack->lockCount(), 1u);
    EXPECT_TRUE(readOnly(storage)) << "the refused request touched the file";
    log.clear();
    EXPECT_TRUE(stack->revert());
    EXPECT_EQ(commits(), 1);
    EXPECT_EQ(closes(), 1);
    EXPECT_EQ(storage->getHandleToStorage(), -1);

    // Exclusive covers both kinds; commit() of the stack ends the lock without a revert.
    stack->pushLock(new ExclusiveFileLockTransaction(storage));
    stack->pushLock(new SharedFileLockTransaction(storage));
    stack->pushLock(new ExclusiveFileLockTransaction(storage));
    EXPECT_EQ(stack->lockCount(), 1u);
    EXPECT_FALSE(readOnly(storage));
    log.clear();
    stack->commit();
    EXPECT_EQ(commits(), 1);
    EXPECT_EQ(closes(), 1);
}

TEST_F(TransactionsTest, CompatibilityTable) {
    auto a = storageFor("a.qmz");
    auto b = storageFor("b.qmz");
    ExclusiveFileLockTransaction exA(a), exB(b);
    SharedFileLockTransaction shA(a), shA2(a), shB(b);

    // Different sources: always true.
    const std::vector<const QMXLockTransaction*> held = {&exA, &shA};
    const std::vector<const LockingTransaction*> others = {&exB, &shB};
    for (const QMXLockTransaction* h : held)
        for (const LockingTransaction* o : others)
            EXPECT_TRUE(h->isCompatible(o));

    EXPECT_FALSE(shA.isCompatible(&shA2));
    EXPECT_FALSE(exA.isCompatible(&exA));
    EXPECT_FALSE(exA.isCompatible(&shA));
    EXPECT_THROW(shA.isCompatible(&exA), InvalidTransaction);

    ForeignLock foreign;
    EXPECT_THROW(exA.isCompatible(&foreign), InvalidTransaction);
    EXPECT_THROW(shA.isCompatible(nullptr), InvalidTransaction);
}

TEST_F(TransactionsTest, SameSourceOnTwoThreadsIsOneSource) {
    const std::string path = file("two.qmz");
    makeContainer(path);
    auto mine = QMXPersistentStorage::MakeDriver(descriptorFor(path));
    std::shared_ptr<QMXPersistentStorage> theirs;
    std::thread([&] { theirs = QMXPersistentStorage::MakeDriver(descriptorFor(path)); }).join();
    ASSERT_NE(mine.get(), theirs.get());

    SharedFileLockTransaction held(mine);
    ExclusiveFileLockTransaction request(theirs);
    EXPECT_THROW(held.isCompatible(&request), InvalidTransaction);
    EXPECT_FALSE(request.isCompatible(&held));
}

TEST_F(TransactionsTest, FlushingSwitch) {
    using V = std::vector<int>;
    flushValues();
    {
        DisableFlushingTransaction off;
        EXPECT_EQ(flushValues(), V{0});
        {
            DisableFlushingTransaction copy(off);  // does not switch off again
            EXPECT_EQ(flushValues(), V{});
        }
        EXPECT_EQ(flushValues(), V{1});  // but its end switches on
        EXPECT_TRUE(off.revert());
        EXPECT_EQ(flushValues(), V{1});
    }
    EXPECT_EQ(flushValues(), V{1});  // on again at the end, reverted or not

    // On the host's stack: off when built, on at the revert and again at the destruction.
    auto stack = TransactionStack::create();
    stack->push(new DisableFlushingTransaction);
    EXPECT_TRUE(stack->revert());
    EXPECT_EQ(flushValues(), (V{0, 1, 1}));
}

class CreationTest : public TransactionsTest {
protected:
    void SetUp() override {
        storage = storageFor("creation.qmz");
        handle = storage->getHandleToStorage();
        ASSERT_GT(handle, 0);
        ASSERT_GT(QMXLcreateOpaqueDataGroup(handle, "/objects"), 0) << Quellmar::testing::lastError();
        QMXLcloseOpenedObjectsForFile(handle);
        const char bytes[] = "payload";
        ASSERT_GE(
            QMXLcreateCompressedOpaqueData(handle, "/objects", "item", 0, 0, sizeof bytes, bytes),
            0);
    }
    bool itemExists(const std::string& name) {
        long long size = 0;
        return QMXLgetSizeOfOpaqueData(handle, "/objects", name.c_str(), &size) >= 0;
    }

    std::shared_ptr<QMXPersistentStorage> storage;
    int handle = -1;
};

TEST_F(CreationTest, RevertRemovesTheDatasetOnce) {
    BlobCreation creation(handle);
    EXPECT_EQ(creation.file.getHandle(), handle);
    EXPECT_TRUE(creation.path.empty());
    EXPECT_TRUE(creation.name.empty());
    creation.path = "/objects";
    creation.name = "item";
    ASSERT_TRUE(itemExists("item"));
    EXPECT_TRUE(creation.revert());
    EXPECT_FALSE(itemExists("item"));
    EXPECT_FALSE(creation.revert());

    VectorCreation never(handle);
    never.path = "/objects";
    never.name = "never-made";
    EXPECT_FALSE(never.revert());
    VectorCreation unnamed(handle);  // the empty name goes to the library, which refuses it
    unnamed.path = "/objects";
    EXPECT_FALSE(unnamed.revert());
    VectorCreation noGroup(handle);
    noGroup.path = "/missing";
    noGroup.name = "item";
    EXPECT_FALSE(noGroup.revert());
}

TEST_F(CreationTest, HoldsItsOwnReferenceOnTheFile) {
    const int before = QMXLgetHandleReferenceCount(handle);
    {
        BlobCreation creation(handle);
        EXPECT_EQ(QMXLgetHandleReferenceCount(handle), before + 1);
    }
    EXPECT_EQ(QMXLgetHandleReferenceCount(handle), before);
    EXPECT_EQ(storage->getHandleToStorage(), handle);
    EXPECT_EQ(QMXLisValid(handle), 1);

    BlobCreation none(0);
    EXPECT_EQ(none.file.getHandle(), -1);
    EXPECT_FALSE(none.revert());

    const int closed = QMXLopenGroup(handle, "/objects");
    ASSERT_GT(closed, 0);
    QMXLcloseObject(closed);
    try {
        VectorCreation stale(closed);
        FAIL() << "no exception";
    } catch (const DataSourceException& e) {
        EXPECT_STREQ(e.what(), "Could not increase reference to handle");
    }
}

}  // namespace
}  // namespace Quellmar
