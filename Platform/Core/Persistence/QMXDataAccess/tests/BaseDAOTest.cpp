// Binding a DAO to a storage and a stack, finding the stack, and trimming names.
#include "NoteDAO.h"
#include "StorageFixture.h"

#include <stdexcept>

namespace Quellmar {
namespace {

using testing::descriptorFor;
using testing::NoteDAO;

class BaseDAOTest : public testing::StorageTest {};

TEST_F(BaseDAOTest, ContextIsTheHostsStackOrANewOneEveryCall) {
    NoteDAO dao;
    auto first = dao.getContext();
    auto second = dao.getContext();
    ASSERT_TRUE(first);
    ASSERT_TRUE(second);
    EXPECT_NE(first.get(), second.get());
    EXPECT_TRUE(first->empty());

    auto host = TransactionStack::create();
    dao.setContext(host);
    EXPECT_EQ(dao.getContext().get(), host.get());
    EXPECT_EQ(dao.getContext().get(), host.get());
    host.reset();  // the DAO never kept it alive
    auto orphan = dao.getContext();
    EXPECT_NE(orphan, nullptr);
    EXPECT_NE(orphan.get(), dao.getContext().get());

    dao.setContext(TransactionStack::create());  // nobody else holds it: expired at once
    auto a = dao.getContext();
    EXPECT_NE(a.get(), dao.getContext().get());

    auto again = TransactionStack::create();
    dao.setContext(again);
    EXPECT_EQ(dao.getContext().get(), again.get());
}

TEST_F(BaseDAOTest, BindingIsSharedByCopiesAndReleasedInTheEnd) {
    const std::string path = file("bound.qmz");
    std::weak_ptr<QMXPersistentStorage> watch;
    {
        auto copy = std::make_unique<NoteDAO>();
        {
            NoteDAO dao;
            dao.setDataSource(QMXPersistentStorage::MakeDriver(descriptorFor(path)));
            watch = dao.getStorage();
            EXPECT_TRUE(dao.checkFile());
            EXPECT_EQ(dao.getHandleToStorage(), watch.lock()->getHandleToStorage());
            *copy = dao;
            EXPECT_EQ(copy->getStorage(), dao.getStorage());
        }
        EXPECT_FALSE(watch.expired()) << "the copy's share did not keep the storage";
        copy->write("/notes", "kept", "still open");
        copy->setDataSource(nullptr);  // unbinds and lets go
        EXPECT_FALSE(copy->checkFile());
        EXPECT_TRUE(watch.expired());
    }
    EXPECT_EQ(QMXLgetHandleCount(), 0);
}

TEST_F(BaseDAOTest, EnlistingSetsTheTextThenLocksOnTheSameStack) {
    NoteDAO dao;
    auto storage = QMXPersistentStorage::MakeDriver(descriptorFor(file("enlist.qmz")));
    dao.setDataSource(storage);
    ASSERT_TRUE(storage->closeFile());

    // Without a host stack: the new stack that carries the text also carries the lock.
    auto own = dao.enlistFileLock("Error writing.", true);
    EXPECT_EQ(own->getErrorMessage(), "Error writing.");
    EXPECT_EQ(own->lockCount(), 1u);
    EXPECT_EQ(QMXLisFileReadOnly(dao.getHandleToStorage()), 0);
    own->commit();
    EXPECT_EQ(dao.getHandleToStorage(), -1);

    auto host = TransactionStack::create();
    dao.setContext(host);
    EXPECT_EQ(dao.enlistFileLock("Error reading.", false).get(), host.get());
    EXPECT_EQ(QMXLisFileReadOnly(dao.getHandleToStorage()), 1);
    EXPECT_EQ(dao.enlistFileLock("Error reading again.", false).get(), host.get());
    EXPECT_EQ(host->lockCount(), 1u) << "a covered lock was taken twice";
    // The text is set first, so a refused lock leaves the failing operation's text.
    try {
        dao.enlistFileLock("Error writing.", true);
        FAIL() << "no exception";
    } catch (const InvalidTransaction& e) {
        EXPECT_STREQ(e.what(), "Incompatible locking requests.");
    }
    EXPECT_EQ(host->getErrorMessage(), "Error writing.");
    EXPECT_EQ(host->lockCount(), 1u);
    host->commit();

    dao.setDataSource(nullptr);
    try {
        dao.enlistFileLock("Error unbound.", false);
        FAIL() << "no exception";
    } catch (const DataSourceException& e) {
        EXPECT_STREQ(e.what(), "No storage defined!");
    }
    EXPECT_TRUE(host->empty());
}

TEST_F(BaseDAOTest, StrippedNames) {
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},          {"/", "/"},           {".", "."},           {"ab", "ab"},
        {"/a", "a"},       {"a/", "a"},          {"abc//", "abc"},     {"/abc", "abc"},
        {"/abc/", "abc/"}, {"./abc/.", "abc/."}, {"//x.y//", "x.y//"}, {"a.b", "a.b"},
    };
    for (const auto& [in, out] : cases) {
        std::string result = "previous";
        NoteDAO::getStrippedName(in, result);
        EXPECT_EQ(result, out) << "input '" << in << "'";
        std::string same = in;  // one string as both arguments
        NoteDAO::getStrippedName(same, same);
        EXPECT_EQ(same, out) << "input '" << in << "' in place";
    }
    for (const std::string in : {"//", "..", "./.", "/./"}) {
        std::string result = "untouched";
        try {
            NoteDAO::getStrippedName(in, result);
            ADD_FAILURE() << "no exception for '" << in << "'";
        } catch (const std::out_of_range& e) {
            EXPECT_STREQ(e.what(), "invalid string position");
        }
        EXPECT_EQ(result, "untouched");
    }
}

// With the host's stack gone every operation works on a stack of its own; its creation is not
// undone when that stack ends, and its lock commits and closes the file.
TEST_F(BaseDAOTest, WorkOnATemporaryStackSurvives) {
    const std::string path = file("temporary.qmz");
    {
        NoteDAO dao;
        dao.setDataSource(QMXPersistentStorage::MakeDriver(descriptorFor(path)));
        dao.write("notes", "first", "hello");
        EXPECT_EQ(dao.getHandleToStorage(), -1) << "the temporary stack's lock left the file open";
        EXPECT_EQ(dao.read("notes", "first"), "hello");
    }
    NoteDAO reader;
    reader.setDataSource(QMXPersistentStorage::MakeDriver(descriptorFor(path, /*readOnly=*/true)));
    EXPECT_EQ(reader.read("/notes/", "first"), "hello");
}

}  // namespace
}  // namespace Quellmar
