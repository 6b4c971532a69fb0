#include "ClassComposer.h"
#include "DAOExceptions.h"
#include "DataSourceDescriptor.h"
#include "SerializationTransferObject.h"
#include "UserContext.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace Quellmar;

TEST(DataSourceDescriptor, IdentityIsTheResourceName) {
    DataSourceDescriptor a("/d/x.qmz"), b("/d/x.qmz", true, true, true), c("/d/y.qmz");
    EXPECT_FALSE(a != b);
    EXPECT_TRUE(a != c);
    b.setReadOnly(false);
    EXPECT_FALSE(b.getReadOnly());
    EXPECT_TRUE(b.getCreateAlways());
    EXPECT_TRUE(b.getNative());
    EXPECT_EQ(b.getNativeResourceName(), "/d/x.qmz");
}

TEST(UserContext, StackIsOnlyWeaklyHeld) {
    auto stack = TransactionStack::create();
    UserContext ctx(stack, UserContext::ReadOnly);
    EXPECT_EQ(ctx.getIntent(), 1);
    EXPECT_EQ(ctx.getStack().lock(), stack);
    stack.reset();
    EXPECT_EQ(ctx.getStack().lock(), nullptr);
}

TEST(Exceptions, HierarchyAndMessages) {
    try {
        throw DataSourceException("No datasource defined!");
    } catch (const DAOException& e) {
        EXPECT_STREQ(e.what(), "No datasource defined!");
    }
    EXPECT_THROW(throw DataAccessViolationException("x"), QmException);
    EXPECT_THROW(throw InvalidTransaction("Incompatible locking requests."), QmException);
    try {
        throw InvalidTransaction("Unable to access transaction stack.");
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "Unable to access transaction stack.");
    }
}

TEST(ClassComposer, OperatorChainsRegisterMembersInOrder) {
    struct Recording : ClassComposer {
        using ClassComposer::ClassComposer;
        std::vector<std::string> seen;
        void registerMember(const char* n, unsigned long long off, ClassMemberTypes::tag t,
                            unsigned long long count) override {
            seen.push_back(std::string(n) + "@" + std::to_string(off) + ":" + std::to_string(t) +
                           "x" + std::to_string(count));
        }
        void registerMember(const char* n, unsigned long long off,
                            ClassMemberTypes::tag t) override {
            seen.push_back(std::string(n) + "@" + std::to_string(off) + ":" + std::to_string(t));
        }
    } composer(32);
    composer& triad{"id", 0, ClassMemberTypes::MT_INT32} &
        quartet{"xyz", 8, ClassMemberTypes::MT_DOUBLE, 3};
    EXPECT_EQ(composer.seen, (std::vector<std::string>{"id@0:0", "xyz@8:3x3"}));
    EXPECT_EQ(composer.getTotalSize(), 32u);
}

TEST(SerializationTransferObject, CopiesShareTheBuffer) {
    auto buf = std::make_shared<std::vector<unsigned char>>(3, 7);
    SerializationTransferObject a(buf, 64);
    SerializationTransferObject b = a;
    b.getBuffer()->push_back(9);
    EXPECT_EQ(a.getBuffer()->size(), 4u);
    EXPECT_EQ(b.getChunkSize(), 64u);
    EXPECT_EQ(SerializationTransferObject().getBuffer(), nullptr);
}
