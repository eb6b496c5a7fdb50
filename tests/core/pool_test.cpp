#include <gtest/gtest.h>

#include <random>
#include <set>
#include <thread>
#include <vector>

#include "support/support.h"

namespace rt {
namespace {

int ListLength(PoolBlock* block) {
    int length = 0;
    for (; block != nullptr; block = block->next) {
        length += 1;
    }
    return length;
}

PoolBlock* BlockOf(void* data) {
    return *reinterpret_cast<PoolBlock**>(static_cast<char*>(data) - 8);
}

// A private pool that is deleted when the test ends.
struct Pool {
    BlockPool* pool;
    explicit Pool(BlockPool* created) : pool(created) {}
    ~Pool() {
        if (pool != nullptr) {
            PoolDelete(pool);
        }
    }
};

TEST(PoolNew, SlotSizeIsElementPlusEightRoundedToEight) {
    Pool a(PoolNew(17, 16, 256, 0));
    Pool b(PoolNew(24, 16, 256, POOL_NO_LOCK));
    Pool c(PoolNew(1, 16, 256, 0));
    EXPECT_EQ(a.pool->slotSize, 32u);
    EXPECT_EQ(b.pool->slotSize, 32u);
    EXPECT_EQ(c.pool->slotSize, 16u);
    EXPECT_EQ(a.pool->locked, 1);
    EXPECT_EQ(b.pool->locked, 0);
    EXPECT_EQ(a.pool->slotTotal, 0);
    EXPECT_EQ(a.pool->shared, nullptr);
}

TEST(PoolAlloc, FirstAllocationMakesABlockOfTheMinimum) {
    Pool p(PoolNew(24, 16, 256, 0));
    void* data = PoolAlloc(p.pool);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(p.pool->slotTotal, 16);
    PoolBlock* block = p.pool->availableBlocks;
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->capacity, 16);
    EXPECT_EQ(block->carved, 1);
    EXPECT_EQ(BlockOf(data), block);
    EXPECT_EQ(static_cast<char*>(data), reinterpret_cast<char*>(block) + 40 + 8);
}

TEST(PoolAlloc, NewBlocksHoldASixteenthOfThePoolBetweenMinimumAndMaximum) {
    Pool p(PoolNew(8, 16, 256, POOL_NO_LOCK));
    std::vector<void*> slots;
    // Slot total before each new block -> capacity of that block.
    std::vector<std::pair<int64_t, int32_t>> growth;
    while (p.pool->slotTotal < 10000) {
        int64_t before = p.pool->slotTotal;
        void* data = PoolAlloc(p.pool);
        ASSERT_NE(data, nullptr);
        slots.push_back(data);
        if (p.pool->slotTotal != before) {
            growth.emplace_back(before, BlockOf(data)->capacity);
        }
    }
    // Capacity of the first block made once the pool held at least `total` slots.
    auto capacityAt = [&](int64_t total) {
        for (auto& [before, capacity] : growth) {
            if (before >= total) {
                return capacity;
            }
        }
        return -1;
    };
    EXPECT_EQ(capacityAt(0), 16);
    EXPECT_EQ(capacityAt(256), 16);
    EXPECT_EQ(capacityAt(496), 16);
    EXPECT_EQ(capacityAt(512), 32);
    EXPECT_EQ(capacityAt(4096), 256);
    for (auto& [before, capacity] : growth) {
        EXPECT_EQ(capacity == 256, before >= 4096) << before;  // the maximum from 4096 slots on
    }
    for (void* data : slots) {
        PoolFree(p.pool, data);
    }
    EXPECT_EQ(p.pool->slotTotal, 0);
    EXPECT_EQ(p.pool->availableBlocks, nullptr);
    EXPECT_EQ(p.pool->fullBlocks, nullptr);
}

TEST(PoolFree, FreedSlotsAreReusedLastInFirstOutBeforeUnusedOnes) {
    Pool p(PoolNew(16, 16, 256, 0));
    void* keep = PoolAlloc(p.pool);
    void* a = PoolAlloc(p.pool);
    void* b = PoolAlloc(p.pool);
    PoolFree(p.pool, a);
    PoolFree(p.pool, b);
    EXPECT_EQ(PoolAlloc(p.pool), b);
    EXPECT_EQ(PoolAlloc(p.pool), a);
    EXPECT_EQ(BlockOf(keep)->carved, 3);  // no never-used slot was taken
}

TEST(PoolFree, TheOnlySlotOfABlockFreesTheBlock) {
    Pool p(PoolNew(16, 16, 256, 0));
    void* data = PoolAlloc(p.pool);
    EXPECT_EQ(p.pool->slotTotal, 16);
    PoolFree(p.pool, data);
    EXPECT_EQ(p.pool->slotTotal, 0);
    EXPECT_EQ(p.pool->availableBlocks, nullptr);
}

TEST(PoolFree, FullBlockMovesToTheHeadOfTheAvailableList) {
    Pool p(PoolNew(16, 16, 16, 0));
    std::vector<void*> first;
    for (int i = 0; i < 16; ++i) {
        first.push_back(PoolAlloc(p.pool));
    }
    EXPECT_EQ(ListLength(p.pool->fullBlocks), 1);
    EXPECT_EQ(p.pool->availableBlocks, nullptr);
    void* second = PoolAlloc(p.pool);  // a second block, now the available one
    EXPECT_EQ(ListLength(p.pool->availableBlocks), 1);

    PoolFree(p.pool, first[5]);
    EXPECT_EQ(p.pool->fullBlocks, nullptr);
    EXPECT_EQ(ListLength(p.pool->availableBlocks), 2);
    EXPECT_EQ(p.pool->availableBlocks, BlockOf(first[0]));
    EXPECT_EQ(PoolAlloc(p.pool), first[5]);  // served by the head of the available list
    EXPECT_EQ(ListLength(p.pool->fullBlocks), 1);
    PoolFree(p.pool, second);
}

TEST(PoolClear, FreesEveryBlock) {
    Pool p(PoolNew(16, 16, 16, 0));
    for (int i = 0; i < 40; ++i) {
        PoolAlloc(p.pool);
    }
    PoolClear(p.pool);
    EXPECT_EQ(p.pool->slotTotal, 0);
    EXPECT_EQ(p.pool->availableBlocks, nullptr);
    EXPECT_EQ(p.pool->fullBlocks, nullptr);
    EXPECT_NE(PoolAlloc(p.pool), nullptr);  // still usable
}

TEST(PoolNew, SharedPoolsMatchBySlotSizeAndExactFlags) {
    BlockPool* a = PoolNew(20, 16, 256, POOL_SHARED);
    BlockPool* b = PoolNew(24, 99, 999, POOL_SHARED);
    BlockPool* unlocked = PoolNew(24, 16, 256, POOL_SHARED | POOL_NO_LOCK);
    BlockPool* larger = PoolNew(25, 16, 256, POOL_SHARED);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a, b);
    EXPECT_EQ(a->maximumSlots, 256);  // the second caller's bounds are ignored
    EXPECT_NE(unlocked, a);
    EXPECT_NE(larger, a);
    ASSERT_NE(a->shared, nullptr);
    EXPECT_EQ(a->shared->userCount, 2);
    EXPECT_EQ(a->shared->flags, POOL_SHARED);
    EXPECT_EQ(unlocked->locked, 0);

    void* data = PoolAlloc(a);
    PoolDelete(a);  // one user left: the pool lives on
    EXPECT_EQ(a->shared->userCount, 1);
    PoolFree(b, data);
    PoolDelete(b);  // the last user destroys it; a new request makes a new pool
    BlockPool* again = PoolNew(24, 16, 256, POOL_SHARED);
    EXPECT_EQ(again->shared->userCount, 1);
    PoolDelete(again);
    PoolDelete(unlocked);
    PoolDelete(larger);
}

TEST(PoolAlloc, LockedPoolStaysConsistentUnderTwoThreads) {
    Pool p(PoolNew(16, 16, 256, 0));
    auto worker = [&](uint64_t tag) {
        std::mt19937 random(static_cast<unsigned>(tag));
        std::vector<uint64_t*> held;
        for (int i = 0; i < 20000; ++i) {
            if (held.empty() || random() % 3 != 0) {
                auto* data = static_cast<uint64_t*>(PoolAlloc(p.pool));
                ASSERT_NE(data, nullptr);
                data[0] = tag;
                data[1] = reinterpret_cast<uintptr_t>(data);
                held.push_back(data);
            } else {
                size_t k = random() % held.size();
                // A slot handed to both threads would carry the other thread's mark.
                ASSERT_EQ(held[k][0], tag);
                ASSERT_EQ(held[k][1], reinterpret_cast<uintptr_t>(held[k]));
                PoolFree(p.pool, held[k]);
                held[k] = held.back();
                held.pop_back();
            }
        }
        for (uint64_t* data : held) {
            ASSERT_EQ(data[0], tag);
            PoolFree(p.pool, data);
        }
    };
    std::thread one(worker, 1);
    std::thread two(worker, 2);
    one.join();
    two.join();
    EXPECT_EQ(p.pool->slotTotal, 0);
    EXPECT_EQ(p.pool->availableBlocks, nullptr);
    EXPECT_EQ(p.pool->fullBlocks, nullptr);
}

#if RT_HAS_ALLOCATION_HOOK
TEST(PoolAlloc, FallsBackToAOneSlotBlockThenToNothing) {
    Pool p(PoolNew(16, 16, 256, 0));
    PlatformFailAllocation(1);
    void* single = PoolAlloc(p.pool);
    ASSERT_NE(single, nullptr);
    EXPECT_EQ(p.pool->slotTotal, 1);
    EXPECT_EQ(BlockOf(single)->capacity, 1);
    EXPECT_EQ(p.pool->fullBlocks, BlockOf(single));  // a one-slot block is full at once
    EXPECT_EQ(p.pool->availableBlocks, nullptr);

    PlatformFailAllocation(1, 2);
    EXPECT_EQ(PoolAlloc(p.pool), nullptr);
    EXPECT_EQ(p.pool->slotTotal, 1);
    EXPECT_EQ(p.pool->availableBlocks, nullptr);

    PoolFree(p.pool, single);  // a one-slot block leaves the full list when freed
    EXPECT_EQ(p.pool->fullBlocks, nullptr);
    EXPECT_EQ(p.pool->slotTotal, 0);
}

TEST(PoolNew, FailuresReturnNothingAndLeaveTheSharedListAlone) {
    int failures = test::SweepAllocationFailures([](int) {
        BlockPool* pool = PoolNew(200, 16, 256, POOL_SHARED);
        if (pool == nullptr) {
            return false;
        }
        EXPECT_EQ(pool->shared->userCount, 1);  // no half-made descriptor was left to match
        PoolDelete(pool);
        return true;
    });
    EXPECT_EQ(failures, 2);  // descriptor, then header
    PlatformFailAllocation(1);
    EXPECT_EQ(PoolNew(8, 16, 256, 0), nullptr);
}
#endif

}  // namespace
}  // namespace rt
