// Block pools.
//
// A pool hands out fixed-size slots from MainHeap blocks. Each slot starts with the address of its
// block (so PoolFree finds the block without a search); a slot on a block's free chain holds the
// link to the next free slot there instead. A block is on the available list while it has a free or
// never-used slot, on the full list otherwise, and goes back to the heap as soon as every slot it
// ever handed out is back. New blocks hold about a sixteenth of the slots the pool already has,
// between the pool's minimum and maximum, so heap calls grow rarer as a pool grows.
//
// Shared pools: one per slot size and flags, found through a process-wide list of descriptors,
// newest first, under one lock that OnceRun sets up. That lock is taken before a pool's own lock.
#include "core.h"

namespace rt {

namespace {

constexpr int64_t BLOCK_HEADER_SIZE = sizeof(PoolBlock);

SharedPoolDescriptor* sharedPools = nullptr;
CRITICAL_SECTION sharedPoolsLock;
OnceFlag sharedPoolsOnce;

void SharedPoolsStart() {
    InitializeCriticalSection(&sharedPoolsLock);
}

char* SlotAt(PoolBlock* block, int64_t index, uint64_t slotSize) {
    return reinterpret_cast<char*>(block) + BLOCK_HEADER_SIZE + index * slotSize;
}

void ListPush(PoolBlock** head, PoolBlock* block) {
    block->previous = nullptr;
    block->next = *head;
    if (*head != nullptr) {
        (*head)->previous = block;
    }
    *head = block;
}

void ListUnlink(PoolBlock** head, PoolBlock* block) {
    if (block->previous != nullptr) {
        block->previous->next = block->next;
    } else {
        *head = block->next;
    }
    if (block->next != nullptr) {
        block->next->previous = block->previous;
    }
}

void FreeBlockList(PoolBlock* block) {
    while (block != nullptr) {
        PoolBlock* next = block->next;
        HeapFree(MainHeap, 0, block);
        block = next;
    }
}

BlockPool* NewPrivatePool(uint64_t slotSize, int32_t minimumSlots, int32_t maximumSlots,
                          int32_t flags) {
    auto* pool = static_cast<BlockPool*>(HeapAlloc(MainHeap, 0, sizeof(BlockPool)));
    if (pool == nullptr) {
        return nullptr;
    }
    pool->fullBlocks = nullptr;
    pool->availableBlocks = nullptr;
    pool->shared = nullptr;
    pool->slotTotal = 0;
    pool->slotSize = slotSize;
    pool->minimumSlots = minimumSlots;
    pool->maximumSlots = maximumSlots;
    pool->locked = (flags & POOL_NO_LOCK) ? 0 : 1;
    if (pool->locked) {
        InitializeCriticalSection(&pool->lock);
    }
    return pool;
}

void DestroyPrivatePool(BlockPool* pool) {
    PoolClear(pool);
    if (pool->locked) {
        DeleteCriticalSection(&pool->lock);
    }
    HeapFree(MainHeap, 0, pool);
}

// Capacity of the next block: a sixteenth of the pool's slots, in whole sixteens, kept between the
// pool's minimum and maximum (and at least one slot).
int32_t NextCapacity(const BlockPool* pool) {
    int64_t capacity = (pool->slotTotal >> 4) & ~int64_t{15};
    if (capacity < pool->minimumSlots) {
        capacity = pool->minimumSlots;
    } else if (capacity > pool->maximumSlots) {
        capacity = pool->maximumSlots;
    }
    return capacity < 1 ? 1 : static_cast<int32_t>(capacity);
}

PoolBlock* AllocateBlock(uint64_t slotSize, int32_t capacity) {
    uint64_t bytes;
    if (__builtin_mul_overflow(static_cast<uint64_t>(capacity), slotSize, &bytes) ||
        __builtin_add_overflow(bytes, static_cast<uint64_t>(BLOCK_HEADER_SIZE), &bytes)) {
        return nullptr;
    }
    return static_cast<PoolBlock*>(HeapAlloc(MainHeap, 0, bytes));
}

// The pool's own lock, or null for a pool without one.
CRITICAL_SECTION* PoolLockOf(BlockPool* pool) {
    return pool->locked ? &pool->lock : nullptr;
}

}  // namespace

BlockPool* PoolNew(int64_t elementSize, int32_t minimumSlots, int32_t maximumSlots, int32_t flags) {
    if (elementSize < 0) {
        return nullptr;
    }
    uint64_t slotSize = (static_cast<uint64_t>(elementSize) + 8 + 7) & ~uint64_t{7};
    if (!(flags & POOL_SHARED)) {
        return NewPrivatePool(slotSize, minimumSlots, maximumSlots, flags);
    }

    OnceRun(&sharedPoolsOnce, SharedPoolsStart);
    CriticalSectionLock guard(&sharedPoolsLock);
    BlockPool* pool = nullptr;
    for (SharedPoolDescriptor* d = sharedPools; d != nullptr; d = d->next) {
        if (d->slotSize == slotSize && d->flags == flags) {
            d->userCount += 1;
            pool = d->pool;
            break;
        }
    }
    if (pool == nullptr) {
        auto* descriptor = static_cast<SharedPoolDescriptor*>(
            HeapAlloc(MainHeap, 0, sizeof(SharedPoolDescriptor)));
        if (descriptor != nullptr) {
            pool = NewPrivatePool(slotSize, minimumSlots, maximumSlots, flags & ~POOL_SHARED);
            if (pool == nullptr) {
                HeapFree(MainHeap, 0, descriptor);
            } else {
                pool->shared = descriptor;
                descriptor->pool = pool;
                descriptor->slotSize = slotSize;
                descriptor->flags = flags;
                descriptor->userCount = 1;
                descriptor->previous = nullptr;
                descriptor->next = sharedPools;
                if (sharedPools != nullptr) {
                    sharedPools->previous = descriptor;
                }
                sharedPools = descriptor;
            }
        }
    }
    return pool;
}

void* PoolAlloc(BlockPool* pool) {
    CriticalSectionLock guard(PoolLockOf(pool));
    char* slot = nullptr;
    PoolBlock* block = pool->availableBlocks;
    if (block != nullptr) {
        if (block->freeCount > 0) {
            slot = static_cast<char*>(block->freeChain);
            block->freeChain = *reinterpret_cast<void**>(slot);
            block->freeCount -= 1;
        } else {
            slot = SlotAt(block, block->carved, pool->slotSize);
            block->carved += 1;
        }
        if (block->freeCount == 0 && block->carved >= block->capacity) {
            ListUnlink(&pool->availableBlocks, block);
            ListPush(&pool->fullBlocks, block);
        }
    } else {
        int32_t capacity = NextCapacity(pool);
        block = AllocateBlock(pool->slotSize, capacity);
        if (block == nullptr && capacity > 1) {
            capacity = 1;  // a smaller request may still succeed when memory is short
            block = AllocateBlock(pool->slotSize, capacity);
        }
        if (block == nullptr) {
            return nullptr;
        }
        pool->slotTotal += capacity;
        block->freeChain = nullptr;
        block->capacity = capacity;
        block->carved = 1;
        block->freeCount = 0;
        block->unused = 0;
        ListPush(capacity > 1 ? &pool->availableBlocks : &pool->fullBlocks, block);
        slot = SlotAt(block, 0, pool->slotSize);
    }
    *reinterpret_cast<PoolBlock**>(slot) = block;
    return slot + 8;
}

void PoolFree(BlockPool* pool, void* data) {
    CriticalSectionLock guard(PoolLockOf(pool));
    char* slot = static_cast<char*>(data) - 8;
    PoolBlock* block = *reinterpret_cast<PoolBlock**>(slot);
    *reinterpret_cast<void**>(slot) = block->freeChain;
    block->freeChain = slot;
    block->freeCount += 1;
    if (block->freeCount == block->carved) {
        ListUnlink(block->capacity == 1 ? &pool->fullBlocks : &pool->availableBlocks, block);
        pool->slotTotal -= block->capacity;
        HeapFree(MainHeap, 0, block);
    } else if (block->freeCount == 1 && block->carved >= block->capacity) {
        ListUnlink(&pool->fullBlocks, block);
        ListPush(&pool->availableBlocks, block);
    }
}

void PoolClear(BlockPool* pool) {
    CriticalSectionLock guard(PoolLockOf(pool));
    FreeBlockList(pool->availableBlocks);
    FreeBlockList(pool->fullBlocks);
    pool->availableBlocks = nullptr;
    pool->fullBlocks = nullptr;
    pool->slotTotal = 0;
}

void PoolDelete(BlockPool* pool) {
    SharedPoolDescriptor* descriptor = pool->shared;
    if (descriptor == nullptr) {
        DestroyPrivatePool(pool);
        return;
    }
    CriticalSectionLock guard(&sharedPoolsLock);
    descriptor->userCount -= 1;
    if (descriptor->userCount <= 0) {
        pool->shared = nullptr;
        DestroyPrivatePool(pool);
        if (descriptor->previous != nullptr) {
            descriptor->previous->next = descriptor->next;
        } else {
            sharedPools = descriptor->next;
        }
        if (descriptor->next != nullptr) {
            descriptor->next->previous = descriptor->previous;
        }
        HeapFree(MainHeap, 0, descriptor);
    }
}

}  // namespace rt
