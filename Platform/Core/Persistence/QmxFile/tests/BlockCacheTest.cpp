// The read cache under the journaled driver: whatever mix of writes, truncations and reads,
// a read returns what the file holds (zeros past its end), also when the cache is tiny and
// keeps forgetting blocks.
#include "BlockCache.h"
#include "PosixFile.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <random>
#include <string>
#include <unistd.h>

namespace {

using Quellmar::qmxfile::BlockCache;
using Quellmar::qmxfile::UniqueFd;
using Quellmar::testing::TempDir;

constexpr size_t kBlock = BlockCache::kBlockSize;

// Runs random operations against the file through the cache and against a string model.
void exercise(size_t cacheBytes, unsigned seed) {
    TempDir dir;
    const std::string name = dir.file("cached.bin");
    UniqueFd fd(::open(name.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644));
    ASSERT_TRUE(fd.valid());
    std::mt19937 rng(seed);
    std::string model(3 * kBlock + 100, '\0');
    for (auto& c : model)
        c = static_cast<char>(rng());
    ASSERT_EQ(::pwrite(fd.get(), model.data(), model.size(), 0),
              static_cast<ssize_t>(model.size()));
    BlockCache cache(fd.get(), cacheBytes);

    auto pick = [&](size_t limit) { return std::uniform_int_distribution<size_t>(0, limit)(rng); };
    for (int step = 0; step < 2000; ++step) {
        const int op = static_cast<int>(pick(9));
        if (op < 5) {  // small and large reads, across block borders and past the end
            const size_t addr = pick(model.size() + kBlock);
            const size_t size = op == 0 ? pick(3 * kBlock) : pick(600);
            std::string got(size, '\x55');
            ASSERT_TRUE(cache.read(addr, size, reinterpret_cast<unsigned char*>(got.data())));
            std::string want(size, '\0');
            for (size_t i = 0; i < size; ++i)
                if (addr + i < model.size())
                    want[i] = model[addr + i];
            ASSERT_EQ(got, want) << "step " << step << " read " << addr << "+" << size;
        } else if (op < 9) {  // writes inside, across the end, and beyond it
            const size_t addr = pick(model.size() + 200);
            std::string bytes(pick(op == 5 ? 2 * kBlock : 300), '\0');
            for (auto& c : bytes)
                c = static_cast<char>(rng());
            ASSERT_EQ(::pwrite(fd.get(), bytes.data(), bytes.size(), static_cast<off_t>(addr)),
                      static_cast<ssize_t>(bytes.size()));
            cache.write(addr, bytes.size(), reinterpret_cast<const unsigned char*>(bytes.data()));
            if (model.size() < addr + bytes.size())
                model.resize(addr + bytes.size(), '\0');
            model.replace(addr, bytes.size(), bytes);
        } else {  // shrink, sometimes into the middle of a cached block
            const size_t length = pick(model.size());
            ASSERT_EQ(::ftruncate(fd.get(), static_cast<off_t>(length)), 0);
            cache.truncate(length);
            model.resize(length);
        }
    }
}

// Also when the cache is tiny and keeps forgetting blocks.
TEST(BlockCache, ReadsMatchTheFileThroughWritesAndTruncations) {
    exercise(16u << 20, 1);
    exercise(2 * kBlock, 2);
}

TEST(BlockCache, FailingReadIsReportedNotCached) {
    TempDir dir;
    const std::string name = dir.file("wo.bin");
    UniqueFd fd(::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644));
    ASSERT_TRUE(fd.valid());
    BlockCache cache(fd.get());
    unsigned char out[10];
    EXPECT_FALSE(cache.read(0, sizeof out, out)) << "a write-only descriptor cannot be read";
    EXPECT_FALSE(cache.read(0, sizeof out, out)) << "nothing was cached by the failure";
}

}  // namespace
