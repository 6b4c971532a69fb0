#include "Mutex.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace Quellmar::synchronization;

TEST(Mutex, RecursiveMutexCanBeTakenTwiceByOneThread) {
    Mutex m(true);
    ScopedLock outer(m);
    EXPECT_TRUE(m.tryLock());
    m.unlock();
}

TEST(Mutex, PlainMutexRefusesSecondTake) {
    Mutex m(false);
    ScopedLock outer(m);
    EXPECT_FALSE(m.tryLock());
}

TEST(Mutex, ScopedLockSerialisesThreads) {
    Mutex m(false);
    long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                ScopedLock lock(m);
                ++counter;
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(counter, 80000);
}
