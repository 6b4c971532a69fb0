#include "QMXClassComposer.h"
#include "QMXL.h"
#include "QmException.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>

using namespace Quellmar;

namespace {

struct Sample {
    std::int32_t id;
    double position[3];
};

QMXClassComposer sampleComposer() {
    QMXClassComposer composer(sizeof(Sample));
    composer& triad{"id", offsetof(Sample, id), ClassMemberTypes::MT_INT32} &
        quartet{"position", offsetof(Sample, position), ClassMemberTypes::MT_DOUBLE, 3};
    return composer;
}

TEST(ClassComposer, ZeroTotalSizeIsRefusedWithoutADatatype) {
    const int handlesBefore = QMXLgetHandleCount();
    try {
        QMXClassComposer composer(0);
        FAIL() << "a composer of size 0 was built";
    } catch (const QminvalidArgument& e) {
        EXPECT_STREQ(e.what(), "Class composition requires total size.");
        EXPECT_NE(e.where().line(), 0u);
    }
    EXPECT_EQ(QMXLgetHandleCount(), handlesBefore);
}

TEST(ClassComposer, OwnsOneReferenceAndKeepsTheSizeOutOfTheBase) {
    QMXClassComposer composer = sampleComposer();
    const QMXHandle type = composer.getDataTypeHandle();
    ASSERT_TRUE(type.isValid());
    // The composer's reference and the one just handed out.
    EXPECT_EQ(QMXLgetHandleReferenceCount(type.getHandle()), 2);
    EXPECT_EQ(composer.getTotalSize(), 0u);
}

TEST(ClassComposer, CopiesAndAssignmentsShareTheDatatypeAndOutliveEachOther) {
    auto* first = new QMXClassComposer(sampleComposer());
    QMXClassComposer second(*first);
    const int type = second.getDataTypeHandle().getHandle();
    EXPECT_EQ(first->getDataTypeHandle().getHandle(), type);
    EXPECT_EQ(QMXLgetHandleReferenceCount(type), 2);

    delete first;
    EXPECT_EQ(QMXLgetHandleReferenceCount(type), 1);
    // The survivor still grows its datatype.
    second& triad{"extra", sizeof(Sample) - 1, ClassMemberTypes::MT_UINT8};
    EXPECT_TRUE(second.getDataTypeHandle().verify());

    // Assignment releases the old datatype and shares the other.
    QMXClassComposer source = sampleComposer();
    QMXClassComposer target(16);
    const int oldType = target.getDataTypeHandle().getHandle();
    ASSERT_GT(oldType, 0);

    target = source;
    EXPECT_LT(QMXLgetHandleReferenceCount(oldType), 0) << "the replaced datatype stays open";
    const int shared = source.getDataTypeHandle().getHandle();
    EXPECT_EQ(target.getDataTypeHandle().getHandle(), shared);
    EXPECT_EQ(QMXLgetHandleReferenceCount(shared), 2);

    const QMXClassComposer& same = target;
    target = same;  // assigning the same datatype keeps the single reference
    EXPECT_EQ(QMXLgetHandleReferenceCount(shared), 2);
}

}  // namespace
