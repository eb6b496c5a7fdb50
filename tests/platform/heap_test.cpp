// Contract of the heap calls the runtime relies on, on both builds.
#include <gtest/gtest.h>

#include <cstring>

#include "runtime/platform/platform.h"

namespace {

class Heap : public testing::Test {
  protected:
    void SetUp() override { heap_ = HeapCreate(0, 4096, 0); }
    void TearDown() override { HeapDestroy(heap_); }
    HANDLE heap_ = nullptr;
};

TEST_F(Heap, ZeroMemoryAllocationIsZeroAndAligned) {
    auto* block = static_cast<unsigned char*>(HeapAlloc(heap_, HEAP_ZERO_MEMORY, 1000));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 16, 0u);
    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(block[i], 0) << i;
    }
    EXPECT_EQ(HeapSize(heap_, 0, block), 1000u);
}

TEST_F(Heap, ReAllocKeepsContentAndZeroesOnlyTheAddedBytes) {
    auto* block = static_cast<unsigned char*>(HeapAlloc(heap_, 0, 16));
    std::memset(block, 0xAB, 16);
    // Grow far enough that the block has to move, into small pages and then into huge ones (a
    // block of several megabytes, which the POSIX heap moves itself).
    size_t size = 16;
    for (size_t grown : {size_t{1} << 20, size_t{8} << 20, size_t{20} << 20}) {
        block = static_cast<unsigned char*>(HeapReAlloc(heap_, HEAP_ZERO_MEMORY, block, grown));
        ASSERT_NE(block, nullptr);
        for (size_t i = 0; i < 16; ++i) {
            ASSERT_EQ(block[i], 0xAB) << i;
        }
        ASSERT_EQ(block[size - 1], size > 16 ? 0xCD : 0xAB) << "the old bytes' end";
        for (size_t i = size; i < grown; ++i) {
            ASSERT_EQ(block[i], 0) << i;
        }
        block[grown - 1] = 0xCD;
        size = grown;
    }
    block = static_cast<unsigned char*>(HeapReAlloc(heap_, 0, block, 8));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block[7], 0xAB);
    EXPECT_TRUE(HeapFree(heap_, 0, block));
}

TEST_F(Heap, ReusedBlocksAreClearedAndSizedAsAskedAndWalksSkipFreedOnes) {
    // Freed small blocks may be handed out again: each allocation still has its own size and its
    // zero-filling, and a freed block is no longer part of the heap's walk.
    for (int round = 0; round < 20; ++round) {
        auto* dirty = static_cast<unsigned char*>(HeapAlloc(heap_, 0, 100));
        ASSERT_NE(dirty, nullptr);
        std::memset(dirty, 0xAB, 100);
        EXPECT_TRUE(HeapFree(heap_, 0, dirty));
        auto* clean = static_cast<unsigned char*>(HeapAlloc(heap_, HEAP_ZERO_MEMORY, 70 + round));
        ASSERT_NE(clean, nullptr);
        EXPECT_EQ(HeapSize(heap_, 0, clean), static_cast<SIZE_T>(70 + round));
        for (int i = 0; i < 70 + round; ++i) {
            ASSERT_EQ(clean[i], 0) << i;
        }
        clean = static_cast<unsigned char*>(HeapReAlloc(heap_, HEAP_ZERO_MEMORY, clean, 5000));
        ASSERT_NE(clean, nullptr);
        EXPECT_EQ(clean[4999], 0);
        EXPECT_TRUE(HeapFree(heap_, 0, clean));
    }
    PROCESS_HEAP_ENTRY entry = {};
    int blocks = 0;
    while (HeapWalk(heap_, &entry)) {
        blocks += (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) ? 1 : 0;
    }
    EXPECT_EQ(blocks, 0);
}

TEST_F(Heap, ReAllocThatStaysInPlaceStillZeroesTheAddedBytes) {
    // Shrinking and growing again within the room a block already has must not bring back the
    // bytes it held before.
    auto* block = static_cast<unsigned char*>(HeapAlloc(heap_, 0, 100));
    std::memset(block, 0xAB, 100);
    block = static_cast<unsigned char*>(HeapReAlloc(heap_, 0, block, 40));
    block = static_cast<unsigned char*>(HeapReAlloc(heap_, HEAP_ZERO_MEMORY, block, 100));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(HeapSize(heap_, 0, block), 100u);
    for (int i = 0; i < 40; ++i) {
        ASSERT_EQ(block[i], 0xAB) << i;
    }
    for (int i = 40; i < 100; ++i) {
        ASSERT_EQ(block[i], 0) << i;
    }
}

TEST_F(Heap, FreeOfNullSucceeds) {
    EXPECT_TRUE(HeapFree(heap_, 0, nullptr));
}

TEST(HeapDestroy, ReleasesEveryBlockStillAllocated) {
    // Under LeakSanitizer a block left behind by HeapDestroy fails the program.
    HANDLE heap = HeapCreate(0, 4096, 0);
    for (int i = 0; i < 100; ++i) {
        ASSERT_NE(HeapAlloc(heap, 0, 64 + i * 100), nullptr);
    }
    void* grown = HeapAlloc(heap, 0, 10);
    ASSERT_NE(HeapReAlloc(heap, 0, grown, 100000), nullptr);
    EXPECT_TRUE(HeapDestroy(heap));
}

#if RT_HAS_ALLOCATION_HOOK
TEST(PlatformFailAllocation, FailsExactlyTheNthAllocationOfAnyHeap) {
    HANDLE a = HeapCreate(0, 4096, 0);
    HANDLE b = HeapCreate(0, 4096, 0);
    PlatformFailAllocation(3);
    EXPECT_NE(HeapAlloc(a, 0, 8), nullptr);
    void* block = HeapAlloc(b, 0, 8);
    EXPECT_NE(block, nullptr);
    EXPECT_TRUE(PlatformAllocationFailurePending());
    EXPECT_EQ(HeapReAlloc(b, 0, block, 64), nullptr);  // the third: a reallocation counts too
    EXPECT_FALSE(PlatformAllocationFailurePending());
    EXPECT_EQ(HeapSize(b, 0, block), 8u);  // a failed reallocation leaves the block as it was
    EXPECT_NE(HeapAlloc(a, 0, 8), nullptr);
    HeapDestroy(a);
    HeapDestroy(b);
}

TEST(PlatformFailAllocation, CountFailsConsecutiveAllocationsAndZeroDisarms) {
    HANDLE heap = HeapCreate(0, 4096, 0);
    PlatformFailAllocation(1, 2);
    EXPECT_EQ(HeapAlloc(heap, 0, 8), nullptr);
    EXPECT_EQ(HeapAlloc(heap, 0, 8), nullptr);
    EXPECT_NE(HeapAlloc(heap, 0, 8), nullptr);
    PlatformFailAllocation(2);
    PlatformFailAllocation(0);
    EXPECT_NE(HeapAlloc(heap, 0, 8), nullptr);
    EXPECT_NE(HeapAlloc(heap, 0, 8), nullptr);
    EXPECT_FALSE(PlatformAllocationFailurePending());
    HeapDestroy(heap);
}
#endif

}  // namespace
