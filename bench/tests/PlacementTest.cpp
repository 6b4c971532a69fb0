#include "Harness.h"
#include "Placement.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <new>
#include <vector>

// Under AddressSanitizer an impossible allocation must come back as null, as it does without.
extern "C" const char* __asan_default_options() {
    return "allocator_may_return_null=1";
}

namespace Quellmar::bench {
namespace {

TEST(BenchPlacement, BuffersStartWhereAskedZeroedAndWholly) {
    for (Placement p : kPlacements) {
        PlacedBytes b(3 * kPageBytes + 5, p);
        EXPECT_EQ(pageOffset(b.data()), offsetOf(p)) << labelOf(p);
        EXPECT_EQ(b.size(), 3 * kPageBytes + 5);
        EXPECT_TRUE(
            std::all_of(b.data(), b.data() + b.size(), [](unsigned char c) { return c == 0; }));
        std::fill(b.data(), b.data() + b.size(), 0xAB);  // the whole length is ours (ASan-clean)
        PlacedArray<double> a(1000, p);
        EXPECT_EQ(pageOffset(a.data()), offsetOf(p));
        EXPECT_EQ(a.bytes(), 8000u);
        a[999] = 2.5;
        EXPECT_EQ(*(a.end() - 1), 2.5);
    }
    EXPECT_EQ(offsetOf(Placement::PastPage), 16u);
    EXPECT_EQ(placedPhase("read", Placement::Aligned), "read (aligned)");
    EXPECT_EQ(placedPhase("read", Placement::PastPage), "read (page+16)");
}

TEST(BenchPlacement, AnImpossibleBufferIsAFailureNotACrash) {
    EXPECT_THROW(PlacedBytes(std::size_t{1} << 56, Placement::Aligned), BenchFailure);
}

TEST(BenchPlacement, VectorsArePlacedAndFreedLikeAnyOther) {
    for (int round = 0; round < 3; ++round) {
        for (Placement p : kPlacements) {
            auto v = placedVector(1 << 20, p);
            EXPECT_EQ(pageOffset(v->data()), offsetOf(p)) << labelOf(p);
            EXPECT_EQ(v->size(), 1u << 20);
            EXPECT_EQ((*v)[12345], 0);
            (*v)[(1 << 20) - 1] = 7;
        }
    }
    // Below the placed size nothing is promised, but it works.
    EXPECT_EQ(placedVector(100, Placement::PastPage)->size(), 100u);
    // Ordinary allocations after a placed one are unaffected.
    std::vector<unsigned char> plain(1 << 20, 3);
    EXPECT_EQ(plain[77], 3);
}

TEST(BenchPlacement, AMisplacedBufferIsReported) {
    PlacedBytes b(kPageBytes, Placement::Aligned);
    EXPECT_NO_THROW(expectPlaced(b.data(), Placement::Aligned, "x"));
    EXPECT_NO_THROW(expectPlaced(b.data() + 16, Placement::PastPage, "x"));
    EXPECT_THROW(expectPlaced(b.data() + 16, Placement::Aligned, "x"), BenchFailure);
    EXPECT_THROW(expectPlaced(b.data() + 8, Placement::PastPage, "x"), BenchFailure);
}

TEST(BenchPlacement, TooManyLiveVectorsRunOutOfSlots) {
    std::vector<std::shared_ptr<Bytes>> live;
    bool refused = false;
    for (int i = 0; i < 200 && !refused; ++i) {
        try {
            live.push_back(placedVector(64 * 1024, Placement::PastPage));
        } catch (const std::bad_alloc&) {
            refused = true;
        }
    }
    EXPECT_TRUE(refused);
    EXPECT_EQ(live.size(), 64u);
    live.clear();  // every slot comes back
    EXPECT_EQ(pageOffset(placedVector(64 * 1024, Placement::PastPage)->data()), 16u);
}

}  // namespace
}  // namespace Quellmar::bench
