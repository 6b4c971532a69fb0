// From a descriptor and a user context to a locked storage, and whole units of work through it.
#include "DAOExceptions.h"
#include "NoteDAO.h"
#include "QMXGenericDAOFactory.h"
#include "StorageFixture.h"

namespace Quellmar {
namespace {

using testing::descriptorFor;
using testing::makeContainer;
using testing::NoteDAO;

class GenericDAOFactoryTest : public testing::StorageTest {
protected:
    static bool readOnly(const std::shared_ptr<QMXPersistentStorage>& s) {
        return QMXLisFileReadOnly(s->getHandleToStorage()) == 1;
    }
};

TEST_F(GenericDAOFactoryTest, WithoutDescriptorOrContext) {
    QMXGenericDAOFactory empty(nullptr, nullptr);
    EXPECT_EQ(empty.getStorage(), nullptr);
    EXPECT_THROW(empty.getFileName(), DataSourceException);

    // A descriptor alone: the storage, but no lock.
    const std::string path = file("plain.qmz");
    makeContainer(path);
    QMXGenericDAOFactory factory(descriptorFor(path), nullptr);
    ASSERT_TRUE(factory.getStorage());
    EXPECT_EQ(factory.getStorage()->getHandleToStorage(), -1);
    EXPECT_EQ(factory.getFileName().toString(), path);
}

TEST_F(GenericDAOFactoryTest, DeadStackFailsFirst) {
    const std::string path = file("never.qmz");
    auto descriptor = descriptorFor(path);
    std::weak_ptr<TransactionStack> dead = TransactionStack::create();
    const UserContext context(dead, UserContext::ReadOnly);
    const std::size_t registered = QMXRegistryInspector::size();
    try {
        QMXGenericDAOFactory factory(descriptor, &context);
        FAIL() << "no exception";
    } catch (const InvalidTransaction& e) {
        EXPECT_STREQ(e.what(), "Unable to access transaction stack.");
    }
    EXPECT_FALSE(descriptor->getReadOnly());
    EXPECT_EQ(QMXRegistryInspector::size(), registered);
    EXPECT_EQ(testing::fileSize(path), -1);

    // A live stack but no descriptor is refused cleanly too.
    auto stack = TransactionStack::create();
    const UserContext live(stack, UserContext::ReadWrite);
    EXPECT_THROW(QMXGenericDAOFactory(nullptr, &live), DataSourceException);
    EXPECT_TRUE(stack->empty());
}

TEST_F(GenericDAOFactoryTest, IntentChoosesTheLock) {
    const std::string path = file("intent.qmz");
    makeContainer(path);
    for (const bool reading : {true, false}) {
        SCOPED_TRACE(reading ? "ReadOnly" : "ReadWrite");
        auto stack = TransactionStack::create();
        auto descriptor = descriptorFor(path);
        const UserContext context(stack, reading ? UserContext::ReadOnly : UserContext::ReadWrite);
        QMXGenericDAOFactory factory(descriptor, &context);
        EXPECT_EQ(descriptor->getReadOnly(), reading);
        EXPECT_EQ(stack->lockCount(), 1u);
        EXPECT_EQ(readOnly(factory.getStorage()), reading);
        // The lock lives on the stack, not in the factory.
        auto storage = factory.getStorage();
        { QMXGenericDAOFactory gone(factory); }
        EXPECT_GT(storage->getHandleToStorage(), 0);
        stack->commit();
        EXPECT_EQ(storage->getHandleToStorage(), -1);
    }
}

TEST_F(GenericDAOFactoryTest, ReadOnlyIntentOnAMissingFile) {
    const std::string path = file("absent.qmz");
    auto stack = TransactionStack::create();
    const UserContext reader(stack, UserContext::ReadOnly);
    try {
        QMXGenericDAOFactory factory(descriptorFor(path), &reader);
        FAIL() << "no exception";
    } catch (const DataSourceException& e) {
        EXPECT_STREQ(e.what(), "Cannot access datasource");
    }
    EXPECT_TRUE(stack->empty());

    // Unless this thread's registry already holds a storage for the name.
    auto writerStack = TransactionStack::create();
    const UserContext writer(writerStack, UserContext::ReadWrite);
    QMXGenericDAOFactory creating(descriptorFor(path), &writer);
    writerStack->commit();
    QMXGenericDAOFactory reading(descriptorFor(path), &reader);
    EXPECT_EQ(reading.getStorage(), creating.getStorage());
    EXPECT_TRUE(readOnly(reading.getStorage()));
}

TEST_F(GenericDAOFactoryTest, EndToEndNative) {
    const std::string path = file("unit.h5");
    {
        testing::Unit unit = testing::openUnit(path, UserContext::ReadWrite, /*native=*/true);
        NoteDAO dao;
        unit.bind(dao);
        dao.write("native", "item", "plain HDF5");
        unit.stack->commit();
    }
    testing::Unit unit = testing::openUnit(path, UserContext::ReadOnly, true);
    NoteDAO dao;
    unit.bind(dao);
    EXPECT_EQ(dao.read("native", "item"), "plain HDF5");
}

int endsWithVtest(const char* name) {
    const std::string text = name ? name : "";
    return text.size() >= 6 && text.compare(text.size() - 6, 6, ".vtest") == 0 ? 1 : 0;
}

TEST_F(GenericDAOFactoryTest, FileVersionForExtensions) {
    // Refusals of the file library (negative results) are not reported as success.
    EXPECT_FALSE(QMXGenericDAOFactory::assignFileVersionToExtension(7, nullptr));
    EXPECT_FALSE(QMXGenericDAOFactory::assignFileVersionToExtension(0, &endsWithVtest));
    EXPECT_TRUE(QMXGenericDAOFactory::assignFileVersionToExtension(7, &endsWithVtest));

    const int handle = QMXLcreateFile(file("a.vtest").c_str());
    ASSERT_GT(handle, 0);
    int version = 0;
    EXPECT_EQ(QMXLgetQMVersionOfLibraryByFileHandle(handle, &version), 1);
    EXPECT_EQ(version, 7);
    QMXLcloseAllFileHandlesForFile(handle);
}

}  // namespace
}  // namespace Quellmar
