#include <gtest/gtest.h>

#include <algorithm>

#include "support/support.h"

namespace rt {
namespace {

TEST(MemoryAlloc, SizeZeroOrBelowGivesNothing) {
    EXPECT_EQ(MemoryAlloc(0, 0), nullptr);
    EXPECT_EQ(MemoryAlloc(-5, 0), nullptr);
}

TEST(MemoryAlloc, ClearsUnlessAskedNotTo) {
    // Dirty a block and give it back, so that an uncleared block may well reuse it.
    auto* dirty = static_cast<unsigned char*>(MemoryAlloc(10, MEMORY_NO_CLEAR));
    ASSERT_NE(dirty, nullptr);
    std::fill(dirty, dirty + 10, 0xEE);
    MemoryFree(dirty);
    auto* cleared = static_cast<unsigned char*>(MemoryAlloc(10, 0));
    ASSERT_NE(cleared, nullptr);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(cleared[i], 0);
    }
    MemoryFree(cleared);
}

TEST(MemoryLibraryEnd, ReleasesEveryBlockWithTheHeap) {
    // The blocks are never freed one by one; under LeakSanitizer a block that outlived the heap
    // would fail the program.
    MemoryLibraryEnd();
    MemoryLibraryStart();
    for (int i = 1; i <= 50; ++i) {
        ASSERT_NE(MemoryAlloc(i * 100, i & 1), nullptr);
    }
    MemoryLibraryEnd();
    MemoryLibraryStart();
    EXPECT_NE(MemoryAlloc(8, 0), nullptr);
}

}  // namespace
}  // namespace rt
