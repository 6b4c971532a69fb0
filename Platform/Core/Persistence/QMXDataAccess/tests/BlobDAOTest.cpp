#include "BlobHost.h"
#include "DAOExceptions.h"
#include "QMXBlobDAO.h"
#include "QMXBlobVariants.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

namespace Quellmar {
namespace {

using namespace testing;

// Opens up the protected path hooks.
struct PathProbe : QMXBlobDAO {
    std::string path(const std::string& group) {
        std::string p = "untouched";
        getPath(group, p);
        return p;
    }
    std::string name(const std::string& name) {
        std::string n;
        getName(name, n);
        return n;
    }
};

template <class E>
std::string messageOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const E& e) {
        return e.what();
    }
    return "<no exception>";
}

TEST(BlobPaths, FollowTheStoredNamingRule) {
    PathProbe dao;
    const std::pair<const char*, const char*> cases[] = {
        {"results", "//results"},
        {"a/b", "//a/b"},
        {"a/b/", "//a/b"},
        {"a/b/.", "//a/b"},
        {"/a/b/", "//a/b/"},
        {"./a/b/.", "//a/b/."},
        {"/abc.", "//abc."},
        {"a.b/c", "//a.b/c"},
        {"", "/"},
        {"/", "/"},
        {".", "/"},
        {"//", "/"},
        {"./..", "/"},
    };
    for (const auto& [group, expected] : cases)
        EXPECT_EQ(dao.path(group), expected) << group;

    EXPECT_EQ(dao.name("/obj"), "obj");
    EXPECT_EQ(dao.name("/abc/"), "abc/");
    EXPECT_EQ(dao.name("x"), "x");
    EXPECT_THROW(dao.name("//"), std::out_of_range);
}

// Creating a group that exists keeps it, its objects and its version.
TEST(BlobPaths, ReachTheIntendedGroupsOnFileAndCreatingOneAgainKeepsIt) {
    TempDir dir;
    const std::string file = dir.file("paths.qmz");
    {
        Session s(file);
        s.blobs.createGroup("results", 1);
        s.blobs.createGroup("a", 1);
        s.blobs.createGroup("a/b", 3);
        s.blobs.create("results", "r", transfer({1}));
        s.blobs.create("a/b/", "/o", transfer({2}));
        s.blobs.create("", "top", transfer({3}));
        s.blobs.createGroup("a/b", 9);
        // Every spelling of the group reaches the same item.
        for (const char* group : {"a/b", "/a/b/", "a/b/.", "./a/b/."}) {
            EXPECT_TRUE(s.blobs.exists(group, "o")) << group;
        }
        EXPECT_TRUE(s.blobs.existsGroup("/a/b/"));
        EXPECT_FALSE(s.blobs.existsGroup("a/c"));
    }
    EXPECT_EQ(listGroup(file, "/results"), (std::vector<Member>{{"r", QMXL_KIND_OPAQUE}}));
    EXPECT_EQ(listGroup(file, "/a/b"), (std::vector<Member>{{"o", QMXL_KIND_OPAQUE}}));
    EXPECT_EQ(testing::readIntAttribute(file, "/a/b", "Version", -1), 3);
    const auto root = listGroup(file, "/");
    EXPECT_NE(std::find(root.begin(), root.end(), Member{"results", QMXL_KIND_OBJECT_GROUP}),
              root.end());
    EXPECT_NE(std::find(root.begin(), root.end(), Member{"top", QMXL_KIND_OPAQUE}), root.end());
}

TEST(BlobRoundTrip, SurvivesCommitAndReadOnlyReopen) {
    TempDir dir;
    const std::string file = dir.file("round.qmz");
    const Bytes top = pattern(1000, 1);
    const Bytes nested = pattern(70000, 2);
    {
        Session s(file);
        s.blobs.create("", "top", transfer(top, 512));
        s.blobs.createGroup("x", 1);
        s.blobs.createGroup("x/y", 1);
        s.blobs.create("x/y", "nested", transfer(nested, 4096));
        s.stack->commit();
    }
    Session s(file, UserContext::ReadOnly);
    SerializationTransferObject a;
    SerializationTransferObject b;
    s.blobs.read("", "top", a);
    s.blobs.read("x/y", "nested", b);
    ASSERT_TRUE(a.getBuffer() && b.getBuffer());
    EXPECT_EQ(*a.getBuffer(), top);
    EXPECT_EQ(*b.getBuffer(), nested);
    // A read-only unit of work refuses writes.
    EXPECT_THROW(s.blobs.update("", "top", transfer({9})), InvalidTransaction);
}

TEST(BlobRoundTrip, ReadReusesShrinksAndGrowsTheBufferButNeverForAnEmptyObject) {
    TempDir dir;
    Session s(dir.file("reuse.qmz"));
    const Bytes stored = pattern(64);
    s.blobs.create("", "o", transfer(stored));

    auto larger = std::make_shared<Bytes>(pattern(500, 3));
    const unsigned char* before = larger->data();
    SerializationTransferObject shrink(larger);
    s.blobs.read("", "o", shrink);
    EXPECT_EQ(shrink.getBuffer(), larger);  // same vector, resized in place
    EXPECT_EQ(larger->data(), before);
    EXPECT_EQ(*larger, stored);

    auto smaller = std::make_shared<Bytes>(Bytes{1, 2});
    SerializationTransferObject grow(smaller);
    s.blobs.read("", "o", grow);
    EXPECT_EQ(grow.getBuffer(), smaller);
    EXPECT_EQ(*smaller, stored);

    SerializationTransferObject none;
    s.blobs.read("", "o", none);
    ASSERT_TRUE(none.getBuffer());
    EXPECT_EQ(*none.getBuffer(), stored);

    s.blobs.update("", "o", transfer({5, 6, 7}));
    s.blobs.read("", "o", none);
    EXPECT_EQ(*none.getBuffer(), (Bytes{5, 6, 7}));

    // An empty object cannot be read and leaves the transfer object alone.
    s.blobs.create("", "empty", transfer({}));
    EXPECT_TRUE(s.blobs.exists("", "empty"));

    auto held = std::make_shared<Bytes>(Bytes{4, 5, 6});
    SerializationTransferObject object(held);
    EXPECT_EQ(messageOf<DataAccessViolationException>([&] { s.blobs.read("", "empty", object); }),
              "Wrong size of object.");
    EXPECT_EQ(object.getBuffer(), held);
    EXPECT_EQ(*held, (Bytes{4, 5, 6}));

    SerializationTransferObject unset;
    EXPECT_THROW(s.blobs.read("", "empty", unset), DataAccessViolationException);
    EXPECT_FALSE(unset.getBuffer());
}

// Every operation of the DAO on group "g" (items "o" and "n"): whether it writes, and the text
// it leaves on the stack first.
struct Operation {
    const char* what;
    bool exclusive;
    std::string text;
    std::function<void()> call;
};

struct Operations {
    explicit Operations(QMXBlobDAO& dao) {
        const std::string create = "Error creating binary array.";
        const std::string validate = "Error validating binary array.";
        all = {
            {"create", true, create, [&] { dao.create("g", "n", object); }},
            {"createGroup", true, create, [&] { dao.createGroup("h", 1); }},
            {"read", false, "Error reading binary array.", [&] { dao.read("g", "o", object); }},
            {"update", true, "Error updating binary array.", [&] { dao.update("g", "o", object); }},
            {"remove", true, "Error removing array.", [&] { dao.remove("g", "o"); }},
            {"exists", false, validate, [&] { dao.exists("g", "o"); }},
            {"existsGroup", false, validate, [&] { dao.existsGroup("g"); }},
            {"readGroupDataVersion", false, validate,
             [&] { dao.readGroupDataVersion("g", number); }},
            {"updateGroupDataVersion", true, validate, [&] { dao.updateGroupDataVersion("g", 2); }},
            {"readGroupDataId", false, validate, [&] { dao.readGroupDataId("g", text); }},
            {"updateGroupDataId", true, validate, [&] { dao.updateGroupDataId("g", "i"); }},
            {"readChainGangValue", false, validate, [&] { dao.readChainGangValue("g", text); }},
            {"updateChainGangValue", true, validate, [&] { dao.updateChainGangValue("g", "h"); }},
            {"readMaxIdentifierValue", false, validate,
             [&] { dao.readMaxIdentifierValue("g", value, high); }},
            {"updateMaxIdentifierValue", true, validate,
             [&] { dao.updateMaxIdentifierValue("g", 1, 1); }},
            {"readFileCreationSoftwareRevision", false, validate,
             [&] { dao.readFileCreationSoftwareRevision("g", text); }},
            {"updateFileCreationSoftwareRevision", true, validate,
             [&] { dao.updateFileCreationSoftwareRevision("g", "r"); }},
            {"readFileLastModifiedSoftwareRevision", false, validate,
             [&] { dao.readFileLastModifiedSoftwareRevision("g", text); }},
            {"updateFileLastModifiedSoftwareRevision", true, validate,
             [&] { dao.updateFileLastModifiedSoftwareRevision("g", "r"); }},
            {"getQMVersion", false, validate, [&] { dao.getQMVersion(number); }},
            {"getQMVersionOfLibrary", false, validate, [&] { dao.getQMVersionOfLibrary(number); }},
            {"updateQMVersionToCurrent", true, create, [&] { dao.updateQMVersionToCurrent(); }},
        };
    }
    SerializationTransferObject object = transfer({1});
    std::string text;
    int number = 0;
    unsigned long long value = 0;
    unsigned short high = 0;
    std::vector<Operation> all;
};

TEST(BlobFailures, WithoutDataSourceNothingIsTouched) {
    auto stack = TransactionStack::create();
    QMXBlobDAO dao;
    dao.setContext(stack);
    Operations operations(dao);
    for (const Operation& o : operations.all)
        EXPECT_EQ(messageOf<DataSourceException>(o.call), "No datasource defined!") << o.what;
    EXPECT_TRUE(stack->empty());
    EXPECT_EQ(stack->getErrorMessage(), "");
    EXPECT_EQ(operations.text, "");
}

// Under a host's shared lock, operations that only read go ahead and every writing one asks
// for an exclusive lock, which the stack refuses; each names its failure text first.
TEST(BlobFrame, LockKindsAndErrorTexts) {
    TempDir dir;
    const std::string file = dir.file("frame.qmz");
    {
        Session s(file);
        s.blobs.createGroup("g", 1);
        s.blobs.create("g", "o", transfer({1}));
    }
    Session s(file, UserContext::ReadOnly);
    Operations operations(s.blobs);
    for (const Operation& c : operations.all) {
        s.stack->setErrorMessage("");
        if (c.exclusive) {
            EXPECT_EQ(messageOf<InvalidTransaction>(c.call), "Incompatible locking requests.")
                << c.what;
        } else {
            EXPECT_NO_THROW(c.call()) << c.what;
        }
        EXPECT_EQ(s.stack->getErrorMessage(), c.text) << c.what;
    }
    EXPECT_EQ(s.stack->size(), 1u);  // reads were covered by the host's lock
}

TEST(BlobFailures, NoBufferIsRefusedBeforeAnythingHappensAndLibraryFailuresCarryItsMessage) {
    TempDir dir;
    const std::string file = dir.file("nobuffer.qmz");
    {
        Session s(file);
        s.blobs.create("", "kept", transfer({1, 2}));
        s.stack->setErrorMessage("before");
        const std::size_t depth = s.stack->size();
        const SerializationTransferObject empty;
        EXPECT_THROW(s.blobs.create("", "new", empty), DataAccessViolationException);
        EXPECT_THROW(s.blobs.update("", "kept", empty), DataAccessViolationException);
        EXPECT_EQ(s.stack->size(), depth);
        EXPECT_EQ(s.stack->getErrorMessage(), "before");
        EXPECT_FALSE(s.blobs.exists("", "new"));
    }
    EXPECT_EQ(listGroup(file, "/"), (std::vector<Member>{{"kept", QMXL_KIND_OPAQUE}}));

    // Failures of the file library carry its last message.
    Session s(file);
    s.blobs.create("", "item", transfer({1}));
    SerializationTransferObject object;
    const std::vector<std::pair<std::string, std::function<void()>>> calls = {
        {"remove", [&] { s.blobs.remove("nowhere", "x"); }},
        {"update", [&] { s.blobs.update("", "missing", transfer({1})); }},
        {"read", [&] { s.blobs.read("nowhere", "x", object); }},
        {"create", [&] { s.blobs.create("", "item", transfer({2})); }},
        {"createGroup", [&] { s.blobs.createGroup("item/sub", 1); }},
    };
    for (const auto& [what, call] : calls) {
        const std::string message = messageOf<DataAccessViolationException>(call);
        EXPECT_NE(message, "<no exception>") << what;
        EXPECT_FALSE(message.empty()) << what;
        EXPECT_EQ(message, QMXBaseDAO::getLastErrorMessage()) << what;
    }
    EXPECT_FALSE(object.getBuffer());
    // Existence tests answer instead of throwing.
    EXPECT_FALSE(s.blobs.exists("nowhere", "x"));
    EXPECT_FALSE(s.blobs.exists("", "missing"));
    EXPECT_FALSE(s.blobs.existsGroup("nowhere"));
}

// Damage that renames an object's checksum attribute leaves it without one; in a file that says
// its items carry checksums the read must fail, name the object and hand out nothing.
TEST(BlobFailures, ObjectThatLostItsChecksumIsDamaged) {
    TempDir dir;
    const std::string file = dir.file("lost.qmz");
    const Bytes data = pattern(500, 3);
    {
        Session s(file);
        s.blobs.create("", "victim", transfer(data));
        s.stack->commit();
    }
    std::string bytes = testing::readFile(file);
    const auto at = bytes.find("QMZ_CRC32C");
    ASSERT_NE(at, std::string::npos);
    ASSERT_EQ(bytes.find("QMZ_CRC32C", at + 1), std::string::npos);
    bytes[at + 9] = 'X';
    testing::writeFile(file, bytes);

    Session s(file, UserContext::ReadOnly);
    SerializationTransferObject object;
    const std::string message =
        messageOf<DataAccessViolationException>([&] { s.blobs.read("", "victim", object); });
    EXPECT_NE(message.find("victim"), std::string::npos) << message;
    EXPECT_NE(message.find("the item is damaged"), std::string::npos) << message;
    EXPECT_FALSE(object.getBuffer());
}

TEST(BlobTransactions, RevertAfterCreateRemovesTheObject) {
    TempDir dir;
    const std::string file = dir.file("revert.qmz");
    {
        Session s(file);
        s.blobs.createGroup("g", 1);
        s.blobs.create("g", "kept", transfer({1}));
        s.stack->commit();
    }
    {
        Session s(file);
        s.blobs.create("g", "undone", transfer({2}));
        // A failed creation over an existing object must not remove it on rollback.
        EXPECT_THROW(s.blobs.create("g", "kept", transfer({3})), DataAccessViolationException);
        EXPECT_TRUE(s.blobs.exists("g", "undone"));
        s.stack->revert();
    }
    Session s(file, UserContext::ReadOnly);
    EXPECT_FALSE(s.blobs.exists("g", "undone"));
    SerializationTransferObject kept;
    s.blobs.read("g", "kept", kept);
    EXPECT_EQ(*kept.getBuffer(), (Bytes{1}));
}

TEST(BlobVariants, EachClassUsesItsOwnKindOfItem) {
    TempDir dir;
    const std::string file = dir.file("variants.qmz");
    const Bytes text = {'a', 'b', 0, 'c'};
    {
        Session s(file);
        QMXBlobDAO blob;
        QMXOpaqueDataDAO opaque;
        QMXStringDataDAO strings;
        s.bind(blob);
        s.bind(opaque);
        s.bind(strings);
        blob.create("", "shared", transfer({1, 2, 3}));
        strings.create("", "text", transfer(text));

        EXPECT_TRUE(opaque.exists("", "shared"));
        EXPECT_FALSE(strings.exists("", "shared"));
        EXPECT_FALSE(opaque.exists("", "text"));
        EXPECT_TRUE(strings.exists("", "text"));

        SerializationTransferObject back;
        opaque.read("", "shared", back);
        EXPECT_EQ(*back.getBuffer(), (Bytes{1, 2, 3}));
        strings.read("", "text", back);
        EXPECT_EQ(*back.getBuffer(), text);  // no terminator added or lost
        strings.update("", "text", transfer({'z'}));
        strings.read("", "text", back);
        EXPECT_EQ(*back.getBuffer(), (Bytes{'z'}));
        opaque.remove("", "shared");
        EXPECT_FALSE(blob.exists("", "shared"));
    }
    EXPECT_EQ(listGroup(file, "/"), (std::vector<Member>{{"text", QMXL_KIND_STRING}}));
}

TEST(BlobLarge, QuarterGigabyteRoundTrip) {
    TempDir dir;
    const std::string file = dir.file("large.qmz");
    const std::size_t size = 256u << 20;
    auto bytes = std::make_shared<Bytes>(pattern(size, 11));
    {
        Session s(file);
        s.blobs.create("", "large", SerializationTransferObject(bytes, 1u << 20));
    }
    Session s(file, UserContext::ReadOnly);
    auto target = std::make_shared<Bytes>();
    target->reserve(size);
    const unsigned char* data = target->data();
    SerializationTransferObject back(target);
    s.blobs.read("", "large", back);
    EXPECT_EQ(back.getBuffer(), target);
    EXPECT_EQ(target->data(), data);  // read straight into the reserved vector
    EXPECT_TRUE(*target == *bytes);
}

}  // namespace
}  // namespace Quellmar
