// Helpers shared by the container tests: holders that free their container when a test ends, and
// a count of the blocks held in the runtime's heaps, by which a test tells that an operation gave
// back everything it took (native builds only: a Windows heap may keep blocks for its own front
// end).
#pragma once

#include <gtest/gtest.h>

#include "runtime/containers/containers.h"
#include "support/support.h"

namespace rt::test {

struct MapHolder {
    KeyedMap* map = nullptr;
    MapHolder() = default;
    MapHolder(const MapHolder&) = delete;
    MapHolder& operator=(const MapHolder&) = delete;
    ~MapHolder() { MapFree(map); }
};

struct ListHolderGuard {
    ListHolder holder = {nullptr, nullptr};
    ListHolderGuard() = default;
    ListHolderGuard(const ListHolderGuard&) = delete;
    ListHolderGuard& operator=(const ListHolderGuard&) = delete;
    ~ListHolderGuard() { LinkedListFree(holder.list); }
};

#if RT_HAS_ALLOCATION_HOOK
struct HeapBlocks {
    int64_t main;
    int64_t strings;
    bool operator==(const HeapBlocks&) const = default;
};

inline HeapBlocks CountHeapBlocks() {
    return {CountBusyBlocks(MainHeap), CountBusyBlocks(StringHeap)};
}

inline void PrintTo(const HeapBlocks& blocks, std::ostream* out) {
    *out << "{main " << blocks.main << ", strings " << blocks.strings << "}";
}

// Marks the blocks of both heaps; a later check expects the same blocks again.
#define HEAP_BLOCKS_MARK() const auto heapBlocksMarked = ::rt::test::CountHeapBlocks()
#define EXPECT_HEAP_BLOCKS_UNCHANGED() EXPECT_EQ(::rt::test::CountHeapBlocks(), heapBlocksMarked)
#else
#define HEAP_BLOCKS_MARK() static_cast<void>(0)
#define EXPECT_HEAP_BLOCKS_UNCHANGED() static_cast<void>(0)
#endif

}  // namespace rt::test
