// Handle and buffer wrappers: one reference per wrapper, every buffer given back exactly once;
// and the texts of file-library failures.
#include "CallCounter.h"
#include "DAOExceptions.h"
#include "HDFException.h"
#include "QMXBaseDAO.h"
#include "QMXHandles.h"
#include "StorageFixture.h"

#include <cstring>
#include <thread>

QMX_COUNT_CALLS_1(QMXLcopyHandle, int)
QMX_COUNT_CALLS_1(QMXLcloseObject, int)
QMX_COUNT_CALLS_1(QMXLisValid, int)
QMX_COUNT_CALLS_1(QMXLisValidGroup, int)
QMX_COUNT_CALLS_1(QMXLreleaseString, char**)
QMX_COUNT_CALLS_2(QMXLreleaseStrings, int, char**)
QMX_COUNT_CALLS_1(QMXLreleaseArray, void*)

namespace Quellmar {
namespace {

using testing::CallCounter;

// Exposes the protected operations.
struct OpenHandle : QMXHandle {
    using QMXHandle::assignHandle;
    using QMXHandle::CopyHandle;
    using QMXHandle::QMXHandle;
};

class HandlesTest : public testing::StorageTest {
protected:
    void SetUp() override {
        fileHandle = QMXLcreateFile(file("handles.qmz").c_str());
        ASSERT_GT(fileHandle, 0);
        ASSERT_GE(QMXLcreatePathToGroup(fileHandle, "/g"), 0);
        CallCounter::reset();
    }
    void TearDown() override { QMXLcloseAllFileHandlesForFile(fileHandle); }

    int openGroup() const { return QMXLopenGroup(fileHandle, "/g"); }
    static int refs(int handle) { return QMXLgetHandleReferenceCount(handle); }

    int fileHandle = -1;
};

TEST_F(HandlesTest, EmptyWrappersNeverCallTheLibrary) {
    {
        QMXHandle none;
        GroupHandle zero(0);
        DatasetHandle negative(-7);
        EXPECT_EQ(none.getHandle(), -1);
        EXPECT_EQ(zero.getHandle(), -1);
        EXPECT_EQ(negative.getHandle(), -1);
        EXPECT_FALSE(zero.isValid());
        EXPECT_TRUE(zero.verify());
        EXPECT_TRUE(zero.verifyGroup());
        GroupHandle copy(zero);
        copy = zero;
        copy = 0;
        copy.closeHandle();
        EXPECT_EQ(copy.getHandle(), -1);
    }
    EXPECT_EQ(CallCounter::total(), 0);
}

TEST_F(HandlesTest, AdoptCopyAndRelease) {
    const int value = openGroup();
    ASSERT_GT(value, 0);
    {
        GroupHandle group(value);  // adopts the opening reference
        EXPECT_EQ(refs(value), 1);
        EXPECT_EQ(CallCounter::total(), 0);
        {
            GroupHandle copy(group);
            EXPECT_EQ(copy, group);
            EXPECT_EQ(refs(value), 2);
            EXPECT_EQ(CallCounter::count("QMXLcopyHandle"), 1);
        }
        EXPECT_EQ(refs(value), 1);
        EXPECT_EQ(CallCounter::count("QMXLcloseObject"), 1);

        // Same value: nothing happens, the single reference stays.
        GroupHandle alias(group);
        CallCounter::reset();
        alias = group;
        alias = value;
        group = value;
        EXPECT_EQ(CallCounter::total(), 0);
        EXPECT_EQ(refs(value), 2);
        EXPECT_TRUE(group.verify());
        EXPECT_TRUE(group.verifyGroup());
    }
    EXPECT_LT(refs(value), 0) << "the handle outlived its wrappers";
}

TEST_F(HandlesTest, AssignmentMovesTheReference) {
    const int first = openGroup();
    const int second = openGroup();
    ASSERT_GT(first, 0);
    ASSERT_GT(second, 0);
    ASSERT_NE(first, second);
    GroupHandle a(first);
    GroupHandle b(second);
    a = b;  // gives up `first`, shares `second`
    EXPECT_LT(refs(first), 0);
    EXPECT_EQ(refs(second), 2);
    a = -3;  // releases, holds nothing
    EXPECT_EQ(a.getHandle(), -1);
    EXPECT_EQ(refs(second), 1);

    QMXHandle c;
    c.copyHandle(second);  // a reference of its own; b keeps its one
    EXPECT_EQ(refs(second), 2);
    c.copyHandle(second);
    EXPECT_EQ(refs(second), 2);
    c.copyHandle(0);
    EXPECT_EQ(c.getHandle(), -1);
    EXPECT_EQ(refs(second), 1);
    EXPECT_TRUE(c < 0);
    EXPECT_TRUE(b > 0);
    EXPECT_TRUE(b != -1);
}

TEST_F(HandlesTest, RefusedReferenceThrowsAndLeavesTheWrapperEmptyAndVerifyTellsKinds) {
    const int value = openGroup();
    ASSERT_GT(value, 0);
    ASSERT_GE(QMXLcloseObject(value), 0);  // gone at the library
    CallCounter::reset();

    QMXHandle h;
    try {
        h.copyHandle(value);
        FAIL() << "no exception";
    } catch (const DataSourceException& e) {
        EXPECT_STREQ(e.what(), "Could not increase reference to handle");
    }
    EXPECT_EQ(h.getHandle(), -1);

    const int live = openGroup();
    QMXHandle target(live);
    OpenHandle stale;
    stale.assignHandle(value);
    EXPECT_FALSE(stale.verify());
    EXPECT_THROW(QMXHandle copy(stale), DataSourceException);
    EXPECT_THROW(target = stale, DataSourceException);
    EXPECT_EQ(target.getHandle(), -1);  // its old reference was released first
    EXPECT_LT(refs(live), 0);
    stale.assignHandle(-1);

    // Verification tells groups from other objects, and stale values from live ones.
    CallCounter::reset();
    GroupHandle group(openGroup());
    EXPECT_TRUE(QMXHandle::verifyGroup(group.getHandle()));
    EXPECT_TRUE(QMXHandle::verify(fileHandle));
    EXPECT_EQ(CallCounter::count("QMXLisValidGroup"), 1);
    EXPECT_EQ(CallCounter::count("QMXLisValid"), 1);
    EXPECT_FALSE(QMXHandle::verify(987654));
}

TEST_F(HandlesTest, StringIsGivenBackOnceAcrossCopies) {
    {
        QMXstring name;
        ASSERT_GE(QMXLgetFileName(fileHandle, name.caddr()), 0);
        ASSERT_NE(name.cptr(), nullptr);
        const std::string expected = file("handles.qmz");
        EXPECT_STREQ(name.cptr(), expected.c_str());

        QMXstring copy(name);
        QMXstring assigned;
        assigned = name;
        EXPECT_EQ(copy.cptr(), name.cptr());
        { QMXstring later(copy); }
        EXPECT_EQ(CallCounter::count("QMXLreleaseString"), 0);
        // Explicit release empties every copy; nothing more is given back afterwards.
        copy.release();
        EXPECT_EQ(name.cptr(), nullptr);
        EXPECT_EQ(assigned.cptr(), nullptr);
        EXPECT_EQ(CallCounter::count("QMXLreleaseString"), 1);
    }
    EXPECT_EQ(CallCounter::count("QMXLreleaseString"), 1);

    // A copy that outlives the original still reads the text, and gives it back at the end.
    std::unique_ptr<QMXstring> survivor;
    {
        QMXstring name;
        ASSERT_GE(QMXLgetFileName(fileHandle, name.caddr()), 0);
        survivor = std::make_unique<QMXstring>(name);
    }
    EXPECT_EQ(std::strlen(survivor->cptr()), file("handles.qmz").size());
    survivor.reset();
    EXPECT_EQ(CallCounter::count("QMXLreleaseString"), 2);

    // Assigning over the last holder of a string gives that string back.
    QMXstring a;
    QMXstring b;
    ASSERT_GE(QMXLgetFileName(fileHandle, a.caddr()), 0);
    a = b;
    EXPECT_EQ(CallCounter::count("QMXLreleaseString"), 3);
    EXPECT_EQ(a.cptr(), nullptr);
}

TEST_F(HandlesTest, StringListRelease) {
    {
        QMXstringList empty;
        EXPECT_EQ(*empty.els(), 0);
    }
    EXPECT_EQ(CallCounter::count("QMXLreleaseStrings"), 0);
    EXPECT_EQ(CallCounter::count("QMXLreleaseArray"), 1);

    // A list as the library hands it out: an array of strings.
    CallCounter::reset();
    {
        QMXstringList list;
        int* kinds = nullptr;
        ASSERT_GE(QMXLlistGroup(fileHandle, "/", list.els(), list.caddr(), &kinds), 0);
        QMXLreleaseArray(&kinds);
        ASSERT_EQ(list.count(), 1);
        EXPECT_STREQ(list.cptr()[0], "g");
        QMXstringList copy(list);
        CallCounter::reset();
        list.release();
        EXPECT_EQ(copy.count(), 0);
        EXPECT_EQ(copy.cptr(), nullptr);
        EXPECT_EQ(CallCounter::count("QMXLreleaseStrings"), 1);
        EXPECT_EQ(CallCounter::count("QMXLreleaseArray"), 1);
    }
    // The emptied list releases only its (null) array at the end, once for the last copy.
    EXPECT_EQ(CallCounter::count("QMXLreleaseStrings"), 1);
    EXPECT_EQ(CallCounter::count("QMXLreleaseArray"), 2);
}

// Collects the library's current error stack the way the exception must render it.
std::string renderedStack(const std::string& message) {
    std::string text = message;
    QMXLwalkErrorStack(&text, [](const char* entry, void* context) {
        *static_cast<std::string*>(context) += std::string("\n\t") + entry;
    });
    return text;
}

TEST_F(HandlesTest, HDFExceptionCarriesTheErrorStack) {
    std::string clean;
    std::thread([&] { clean = HDFException().what(); }).join();  // a thread with no errors yet
    EXPECT_EQ(clean, "HDFException: ");

    ASSERT_LT(QMXLopenGroup(fileHandle, "/does/not/exist"), 0);
    const std::string expected = renderedStack("Driver check failed!");
    ASSERT_NE(expected, "Driver check failed!") << "the failure left no error stack";
    HDFException failure("Driver check failed!");
    EXPECT_EQ(failure.what(), expected);

    ASSERT_LT(QMXLopenDataset(fileHandle, "/another/missing/thing"), 0);
    HDFException copy(failure);
    EXPECT_EQ(std::string(copy.what()), expected);  // not read again
    const DAOException& base = copy;
    EXPECT_EQ(std::string(base.what()), expected);
}

TEST_F(HandlesTest, LastErrorMessage) {
    std::string clean = "unset";
    int released = -1;
    std::thread([&] {
        CallCounter::reset();
        clean = QMXBaseDAO::getLastErrorMessage();
        released = CallCounter::count("QMXLreleaseString");
    }).join();
    EXPECT_EQ(clean, "");
    EXPECT_EQ(released, 0);

    ASSERT_LT(QMXLopenGroup(fileHandle, "/not/here"), 0);
    char* direct = nullptr;
    ASSERT_GE(QMXLgetLastErrorMessage(&direct), 0);
    ASSERT_NE(direct, nullptr);
    const std::string expected = direct;
    QMXLreleaseString(&direct);
    CallCounter::reset();
    EXPECT_EQ(QMXBaseDAO::getLastErrorMessage(), expected);
    EXPECT_EQ(CallCounter::count("QMXLreleaseString"), 1);
}

}  // namespace
}  // namespace Quellmar
