// The DAO crash workload and its checker: the plan is what the checker assumes, units run
// through the DAOs leave exactly the planned states, and the checker tells a clean prefix from
// damage, loss and leftovers of reverted units.
#include "DaoCheck.h"
#include "DaoWorkload.h"

#include "DataSourceDescriptor.h"
#include "QMXBlobDAO.h"
#include "QMXGenericDAOFactory.h"
#include "TempDir.h"
#include "TransactionStack.h"
#include "UserContext.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace Quellmar;
using namespace Quellmar::crashtest::dao;
using Quellmar::testing::TempDir;

namespace {

// The first units of a seed until one past the first committed unit after a reverted one, so
// the round trip covers a revert followed by more work.
int unitsCoveringARevert(unsigned seed) {
    State state;
    bool reverted = false;
    for (int i = 0; i < 200; ++i) {
        const Unit unit = planUnit(seed, i, state);
        applyUnit(unit, state);
        if (unit.reverted)
            reverted = true;
        else if (reverted)
            return i + 1;
    }
    return -1;
}

// Runs units 0 .. count-1 on the container; stops the test on the first failure.
void runUnits(const std::string& container, unsigned seed, int count) {
    State state;
    for (int i = 0; i < count; ++i) {
        const Unit unit = planUnit(seed, i, state);
        ASSERT_EQ(runUnit(container, unit), "") << "unit " << i;
        applyUnit(unit, state);
    }
}

}  // namespace

TEST(DaoWorkloadPlan, UnitsFollowFromSeedAndIndexAndRevertedOnesOnlyCreate) {
    int reverted = 0, unflushed = 0, committed = 0;
    for (unsigned seed = 1; seed <= 8; ++seed) {
        State state, again;
        for (int i = 0; i < 40; ++i) {
            const Unit unit = planUnit(seed, i, state);
            const Unit twin = planUnit(seed, i, again);
            ASSERT_EQ(unit.ops.size(), twin.ops.size());
            for (size_t k = 0; k < unit.ops.size(); ++k) {
                EXPECT_EQ(unit.ops[k].key, twin.ops[k].key);
                EXPECT_EQ(unit.ops[k].value, twin.ops[k].value);
            }
            if (i == 0) {
                EXPECT_FALSE(unit.reverted) << "the creating unit must commit";
                EXPECT_EQ(unit.ops.front().kind, OpKind::CreateGroups);
            }
            const State before = state;
            applyUnit(unit, state);
            applyUnit(twin, again);
            unflushed += unit.noFlush;
            if (unit.reverted) {
                ++reverted;
                EXPECT_EQ(state, before);
                for (const Op& op : unit.ops) {
                    EXPECT_EQ(op.kind, OpKind::CreateTemporary);
                    EXPECT_EQ(before.count(op.key), 0u)
                        << op.key << " exists: a revert would not take it back";
                }
            } else {
                ++committed;
                // Every committed state differs from the one before, so "one unit ahead" is
                // visible.
                EXPECT_NE(state, before) << "seed " << seed << " unit " << i;
            }
        }
        EXPECT_EQ(state, stateAfter(seed, 40));
    }
    EXPECT_GT(reverted, 20);
    EXPECT_GT(unflushed, 20);
    EXPECT_GT(committed, 200);
}

TEST(DaoWorkloadRun, EveryUnitLeavesExactlyItsPlannedStateRevertsIncluded) {
    TempDir dir;
    const std::string container = dir.file("c.qmz");
    const unsigned seed = 3;
    const int count = unitsCoveringARevert(seed);
    ASSERT_GT(count, 1);
    State expected, actual;
    EXPECT_NE(readState(container, actual), "") << "nothing to read before the first unit";
    for (int i = 0; i < count; ++i) {
        const Unit unit = planUnit(seed, i, expected);
        ASSERT_EQ(runUnit(container, unit), "") << "unit " << i;
        applyUnit(unit, expected);
        ASSERT_EQ(readState(container, actual), "") << "after unit " << i;
        EXPECT_EQ(differences(expected, actual), std::vector<std::string>{}) << "after unit " << i;
    }
    EXPECT_TRUE(expected.count("attr/objects/MaxId") && expected.count("attr/design/Id") &&
                expected.count("array/a0"));
}

TEST(DaoWorkloadCheck, PrefixesPassAndAnythingElseIsDamage) {
    TempDir dir;
    const std::string container = dir.file("c.qmz");
    const unsigned seed = 5;
    // Ends on a committed unit, so the state one unit back differs.
    int count = 4;
    while (planUnit(seed, count - 1, stateAfter(seed, count - 1)).reverted)
        ++count;
    runUnits(container, seed, count);
    std::string why;
    EXPECT_EQ(judge(container, seed, count, count, why), Verdict::Exact);
    EXPECT_EQ(judge(container, seed, count - 1, count, why), Verdict::AheadOfLog);
    // Two units ahead of the log is no state a kill can leave.
    EXPECT_GE(judge(container, seed, count - 2, count + 2, why), Verdict::Damaged) << why;
    EXPECT_FALSE(why.empty());
}

TEST(DaoWorkloadCheck, AbsentContainerIsFineOnlyBeforeTheFirstCommit) {
    TempDir dir;
    std::string why;
    EXPECT_EQ(judge(dir.file("none.qmz"), 1, 0, 6, why), Verdict::Exact);
    EXPECT_EQ(judge(dir.file("none.qmz"), 1, 2, 6, why), Verdict::DamagedLost);
    EXPECT_EQ(why, "container missing");
}

TEST(DaoWorkloadCheck, UnreadableContainerIsDamage) {
    TempDir dir;
    const std::string container = dir.file("c.qmz");
    Quellmar::testing::writeFile(container, std::string(5000, 'x'));
    std::string why;
    EXPECT_EQ(judge(container, 1, 0, 6, why), Verdict::Damaged);
    EXPECT_FALSE(why.empty());
    EXPECT_EQ(judge(container, 1, 3, 6, why), Verdict::DamagedLost);
}

TEST(DaoWorkloadCheck, CommittedObjectGoneIsLoss) {
    TempDir dir;
    const std::string container = dir.file("c.qmz");
    const unsigned seed = 2;
    const int count = 3;
    ASSERT_TRUE(stateAfter(seed, count).count("blob/b0"));
    runUnits(container, seed, count);
    {
        // Another host removes a committed object behind the workload's back.
        auto stack = TransactionStack::create();
        UserContext context(stack, UserContext::ReadWrite);
        QMXGenericDAOFactory factory(std::make_shared<DataSourceDescriptor>(container), &context);
        QMXBlobDAO blobs;
        blobs.setDataSource(factory.getStorage());
        blobs.setContext(stack);
        blobs.remove("objects", "b0");
        stack->commit();
    }
    std::string why;
    EXPECT_EQ(judge(container, seed, count, count, why), Verdict::DamagedLost);
    EXPECT_NE(why.find("blob/b0 missing"), std::string::npos) << why;
}

TEST(DaoWorkloadCheck, ALeftoverOfARevertedUnitIsDamage) {
    TempDir dir;
    const std::string container = dir.file("c.qmz");
    const unsigned seed = 4;
    const int count = 2;
    runUnits(container, seed, count);
    // The temporary creations of a reverted unit, committed instead.
    Unit leftover;
    leftover.index = count;
    leftover.ops.push_back({OpKind::CreateTemporary, "blob/t1", "left behind", true});
    leftover.ops.push_back(
        {OpKind::CreateTemporary, "array/t0", "1x2:" + std::string(16, '\x3f'), true});
    ASSERT_EQ(runUnit(container, leftover), "");
    std::string why;
    EXPECT_EQ(judge(container, seed, count, count, why), Verdict::Damaged);
    EXPECT_NE(why.find("blob/t1 should not be there"), std::string::npos) << why;
    EXPECT_NE(why.find("array/t0 should not be there"), std::string::npos) << why;
}

TEST(DaoWorkloadCheck, LogCountsWholeLinesInOrder) {
    TempDir dir;
    std::string why;
    EXPECT_EQ(loggedUnits(dir.file("none"), why), 0);
    Quellmar::testing::writeFile(dir.file("log"), "0 committed\n1 reverted\n2 commi");
    EXPECT_EQ(loggedUnits(dir.file("log"), why), 2);
    Quellmar::testing::writeFile(dir.file("log"), "0 committed\n2 committed\n");
    EXPECT_EQ(loggedUnits(dir.file("log"), why), -1);
    EXPECT_NE(why.find("line 2"), std::string::npos) << why;
}
