// The appending plan of the DAO crash workload: units that append to vectors and arrays leave
// exactly the planned states (reverted appends leave nothing), and the checker takes a partial
// or lost append for damage.
#include "DaoCheck.h"
#include "DaoWorkload.h"

#include "DataSourceDescriptor.h"
#include "QMXGenericDAOFactory.h"
#include "QMXVectorDAO.h"
#include "TempDir.h"
#include "TransactionStack.h"
#include "UserContext.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <vector>

using namespace Quellmar;
using namespace Quellmar::crashtest::dao;
using Quellmar::testing::TempDir;

namespace {

constexpr Plan kAppends = Plan::Appends;

// Runs units 0 .. count-1 of the appending plan, checking the state after each.
void runAndCompare(const std::string& container, unsigned seed, int count) {
    State expected, actual;
    for (int i = 0; i < count; ++i) {
        const Unit unit = planUnit(seed, i, expected, kAppends);
        ASSERT_EQ(runUnit(container, unit), "") << "unit " << i;
        applyUnit(unit, expected);
        ASSERT_EQ(readState(container, actual), "") << "after unit " << i;
        ASSERT_EQ(differences(expected, actual), std::vector<std::string>{}) << "after unit " << i;
    }
}

// Appends doubles to a vector of the container in a committed unit of its own, as another
// host would.
void appendBehindTheBack(const std::string& container, const std::string& name, int count) {
    auto stack = TransactionStack::create();
    UserContext context(stack, UserContext::ReadWrite);
    QMXGenericDAOFactory factory(std::make_shared<DataSourceDescriptor>(container), &context);
    QMXVectorDAO vectors;
    vectors.setDataSource(factory.getStorage());
    vectors.setContext(stack);
    const std::vector<double> values(static_cast<std::size_t>(count), 42.0);
    ASSERT_TRUE(vectors.append("series", name, VT_DOUBLE, count, values.data()));
    stack->commit();
}

}  // namespace

TEST(DaoAppendPlan, UnitsAppendTheMixedPlanStaysAsItWas) {
    int appends = 0, rowAppends = 0, revertedAppends = 0, large = 0;
    for (unsigned seed = 1; seed <= 8; ++seed) {
        State state;
        for (int i = 0; i < 30; ++i) {
            const Unit unit = planUnit(seed, i, state, kAppends);
            // Unit 0 is the mixed plan's: both plans start from the same container.
            if (i == 0) {
                const Unit mixed = planUnit(seed, 0, State{});
                ASSERT_EQ(unit.ops.size(), mixed.ops.size());
                for (std::size_t k = 0; k < unit.ops.size(); ++k)
                    EXPECT_EQ(unit.ops[k].value, mixed.ops[k].value);
            }
            for (const Op& op : unit.ops) {
                if (op.kind == OpKind::AppendVector || op.kind == OpKind::AppendRows) {
                    // Only existing items are appended to.
                    EXPECT_TRUE(state.count(op.key) || !unit.reverted) << op.key;
                    ++(op.kind == OpKind::AppendVector ? appends : rowAppends);
                    revertedAppends += unit.reverted;
                    large += op.value.size() > 800000;
                }
                // A reverted unit creates nothing: a revert leaves created vectors in place.
                if (unit.reverted) {
                    EXPECT_TRUE(op.kind == OpKind::AppendVector || op.kind == OpKind::AppendRows)
                        << static_cast<int>(op.kind);
                }
            }
            const State before = state;
            applyUnit(unit, state);
            if (unit.reverted) {
                EXPECT_EQ(state, before);
            }
        }
        EXPECT_EQ(state, stateAfter(seed, 30, kAppends));
        EXPECT_EQ(stateAfter(seed, 1, kAppends), stateAfter(seed, 1));
        EXPECT_NE(state, stateAfter(seed, 30));
        // The mixed plan does not append.
        State mixed;
        for (int i = 0; i < 30; ++i) {
            const Unit unit = planUnit(seed, i, mixed);
            for (const Op& op : unit.ops)
                EXPECT_TRUE(op.kind != OpKind::AppendVector && op.kind != OpKind::AppendRows);
            applyUnit(unit, mixed);
        }
    }
    EXPECT_GT(appends, 100);
    EXPECT_GT(rowAppends, 30);
    EXPECT_GT(revertedAppends, 10);
    EXPECT_GT(large, 10);
}

TEST(DaoAppendPlan, AppliedRowsKeepTheShape) {
    State state{{"array/a0", "2x3:" + std::string(6 * sizeof(double), 'a')}};
    Unit unit;
    unit.ops.push_back({OpKind::AppendRows, "array/a0", std::string(9 * sizeof(double), 'b')});
    unit.ops.push_back({OpKind::AppendVector, "vector/v0", "xy"});
    applyUnit(unit, state);
    EXPECT_EQ(state["array/a0"], "5x3:" + std::string(6 * sizeof(double), 'a') +
                                     std::string(9 * sizeof(double), 'b'));
    EXPECT_EQ(state["vector/v0"], "xy");
}

TEST(DaoAppendPlan, UnitsLeaveExactlyTheirStateAndTheCheckerAgrees) {
    TempDir dir;
    const std::string container = dir.file("c.qmz");
    const unsigned seed = 6;
    // Through a reverted unit and a large append.
    int count = 2;
    bool reverted = false, large = false;
    for (State s; count < 40 && !(reverted && large); ++count) {
        const Unit unit = planUnit(seed, count - 1, s, kAppends);
        reverted = reverted || unit.reverted;
        for (const Op& op : unit.ops)
            large = large || op.value.size() > 800000;
        applyUnit(unit, s);
    }
    ASSERT_TRUE(reverted && large) << count;
    runAndCompare(container, seed, count);

    std::string why;
    EXPECT_EQ(judge(container, seed, count, count, why, kAppends), Verdict::Exact) << why;
    // The same container judged by the mixed plan is not what it should hold.
    EXPECT_GE(judge(container, seed, count, count, why), Verdict::Damaged);
}

TEST(DaoAppendPlan, AnAppendNoUnitMadeIsDamage) {
    TempDir dir;
    const std::string container = dir.file("c.qmz");
    const unsigned seed = 2;
    runAndCompare(container, seed, 3);
    appendBehindTheBack(container, "v0", 5);
    std::string why;
    EXPECT_GE(judge(container, seed, 3, 3, why, kAppends), Verdict::Damaged);
    EXPECT_NE(why.find("vector/v0 differs"), std::string::npos) << why;
}
