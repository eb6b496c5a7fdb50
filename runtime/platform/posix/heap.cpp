// Private heaps over malloc.
//
// Each heap keeps its blocks on a doubly linked ring behind a lock, so that HeapDestroy can
// release every block still allocated and HeapReAlloc knows how many bytes it adds. A block is a
// 32-byte header followed by the caller's bytes; the header keeps the caller's bytes 16-byte
// aligned, as Windows heaps do on 64-bit systems.
//
// Like the front end of a Windows heap, each heap keeps lookaside lists of freed small blocks, by
// size class, and serves allocations of the same class from them without calling malloc: the
// runtime allocates and frees a line buffer and a conversion block for every line of text it
// copies. Small blocks are allocated at the full size of their class so that any block of a class
// serves any request of it. Lookaside blocks are outside the ring (HeapWalk does not report them)
// and are released by HeapDestroy with the rest. Under AddressSanitizer nothing is kept, so that
// every use of a freed block is still caught.
#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

#include "../platform.h"

namespace {

struct BlockHeader {
    BlockHeader* next;
    BlockHeader* previous;
    SIZE_T size;      // what the caller asked for
    SIZE_T capacity;  // what malloc provided after the header
    void* heap;       // the owning heap, checked on free so that a stray pointer is refused
    void* unused;
};
static_assert(sizeof(BlockHeader) % 16 == 0, "caller bytes must stay 16-byte aligned");

constexpr SIZE_T LOOKASIDE_GRAIN = 64;
constexpr int LOOKASIDE_CLASSES = 128;  // blocks up to 8192 bytes
#if RT_ADDRESS_SANITIZER
constexpr int LOOKASIDE_DEPTH = 0;
#else
constexpr int LOOKASIDE_DEPTH = 8;  // freed blocks kept per class
#endif

// The lookaside class of a block of `bytes` bytes, or -1 for blocks that are not kept.
int LookasideClass(SIZE_T bytes) {
    if (bytes == 0 || bytes > LOOKASIDE_GRAIN * LOOKASIDE_CLASSES) {
        return -1;
    }
    return static_cast<int>((bytes - 1) / LOOKASIDE_GRAIN);
}

// The bytes malloc provides for a block of `bytes` bytes: the full size of its class.
SIZE_T Capacity(SIZE_T bytes) {
    int sizeClass = LookasideClass(bytes);
    return sizeClass < 0 ? bytes : (sizeClass + 1) * LOOKASIDE_GRAIN;
}

// Blocks this large ask the system for transparent huge pages, which it gives on request: a block
// of hundreds of megabytes (one long line of text, and its wide form in the string builder and in
// its variable) then costs hundreds of page faults instead of a hundred thousand. On the virtual
// machines the runtime is measured on those faults were most of a 64 MiB line's time (1.7 s of
// processor time, 0.75 s with huge pages).
constexpr SIZE_T HUGE_PAGE = SIZE_T{2} << 20;
constexpr SIZE_T HUGE_BLOCK = 2 * HUGE_PAGE;

// Advises huge pages for the whole huge pages inside a block of `capacity` bytes after its header.
void AdviseHugePages(BlockHeader* block, SIZE_T capacity) {
    if (capacity < HUGE_BLOCK) {
        return;
    }
    auto start = (reinterpret_cast<uintptr_t>(block) + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
    auto end = (reinterpret_cast<uintptr_t>(block + 1) + capacity) & ~(HUGE_PAGE - 1);
    madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
}

// The lock of a heap: held for a few pointer moves only, so an uncontended lock is one atomic
// exchange and a waiter yields the processor until the holder is done.
class HeapLock {
  public:
    void lock() {
        while (held_.exchange(true, std::memory_order_acquire)) {
            while (held_.load(std::memory_order_relaxed)) {
                std::this_thread::yield();
            }
        }
    }
    void unlock() { held_.store(false, std::memory_order_release); }

  private:
    std::atomic<bool> held_{false};
};

struct Heap {
    HeapLock lock;
    BlockHeader ring;                                // sentinel of the block ring
    BlockHeader* lookaside[LOOKASIDE_CLASSES] = {};  // chained through `next`
    int lookasideCount[LOOKASIDE_CLASSES] = {};

    // A freed block of the class (not -1), or null; the caller holds the lock.
    BlockHeader* TakeLookaside(int sizeClass) {
        if (lookaside[sizeClass] == nullptr) {
            return nullptr;
        }
        BlockHeader* block = lookaside[sizeClass];
        lookaside[sizeClass] = block->next;
        lookasideCount[sizeClass] -= 1;
        return block;
    }
    // Keeps an unlinked block for reuse; false when its class is full. The caller holds the lock.
    bool KeepLookaside(BlockHeader* block) {
        int sizeClass = LookasideClass(block->capacity);
        if (sizeClass < 0 || lookasideCount[sizeClass] >= LOOKASIDE_DEPTH) {
            return false;
        }
        block->next = lookaside[sizeClass];
        lookaside[sizeClass] = block;
        lookasideCount[sizeClass] += 1;
        return true;
    }

    Heap() { ring.next = ring.previous = &ring; }

    void Link(BlockHeader* block) {
        block->heap = this;
        block->previous = &ring;
        block->next = ring.next;
        ring.next->previous = block;
        ring.next = block;
    }
    static void Unlink(BlockHeader* block) {
        block->previous->next = block->next;
        block->next->previous = block->previous;
    }
};

// The test hook: allocations still to pass before the first failure, failures still to come, and
// the one heap whose allocations count (null: all).
std::mutex hookLock;
std::atomic<bool> hookArmed{false};
int64_t hookPassing = 0;
int64_t hookFailing = 0;
bool hookFired = false;
const Heap* hookHeap = nullptr;

// AllocationFails while the hook is armed; out of line, as only tests arm it.
[[gnu::noinline]] bool ArmedAllocationFails(const Heap* heap) {
    std::lock_guard<std::mutex> guard(hookLock);
    if (hookHeap != nullptr && hookHeap != heap) {
        return false;
    }
    if (hookPassing > 0) {
        hookPassing -= 1;
        return false;
    }
    if (hookFailing > 0) {
        hookFailing -= 1;
        hookFired = true;
        hookArmed.store(hookFailing > 0);
        return true;
    }
    return false;
}

// Counts one allocation from `heap` against the test hook; true when this one is to fail.
bool AllocationFails(const Heap* heap) {
    return hookArmed.load(std::memory_order_relaxed) && ArmedAllocationFails(heap);
}

// Sets a new block's size and clears it if asked to.
void Prepare(BlockHeader* block, DWORD flags, SIZE_T bytes) {
    block->size = bytes;
    if (flags & HEAP_ZERO_MEMORY) {
        std::memset(block + 1, 0, bytes);
    }
}

BlockHeader* HeaderOf(LPCVOID block) {
    return static_cast<BlockHeader*>(const_cast<void*>(block)) - 1;
}

}  // namespace

void PlatformFailAllocation(int64_t nth, int64_t count, HANDLE heap) {
    std::lock_guard<std::mutex> guard(hookLock);
    hookHeap = static_cast<const Heap*>(heap);
    hookPassing = nth > 0 ? nth - 1 : 0;
    hookFailing = nth > 0 && count > 0 ? count : 0;
    hookFired = false;
    hookArmed.store(hookFailing > 0);
}

bool PlatformAllocationFailurePending() {
    std::lock_guard<std::mutex> guard(hookLock);
    return hookFailing > 0 && !hookFired;
}

HANDLE HeapCreate(DWORD, SIZE_T, SIZE_T) {
    Heap* heap = new (std::nothrow) Heap;
    if (heap == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
    return heap;
}

BOOL HeapDestroy(HANDLE handle) {
    Heap* heap = static_cast<Heap*>(handle);
    if (heap == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    for (BlockHeader* block = heap->ring.next; block != &heap->ring;) {
        BlockHeader* next = block->next;
        std::free(block);
        block = next;
    }
    for (BlockHeader* chain : heap->lookaside) {
        while (chain != nullptr) {
            BlockHeader* next = chain->next;
            std::free(chain);
            chain = next;
        }
    }
    delete heap;
    return TRUE;
}

LPVOID HeapAlloc(HANDLE handle, DWORD flags, SIZE_T bytes) {
    Heap* heap = static_cast<Heap*>(handle);
    if (heap == nullptr || bytes > SIZE_MAX - sizeof(BlockHeader) || AllocationFails(heap)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    int sizeClass = LookasideClass(bytes);
    if (sizeClass >= 0) {
        std::lock_guard<HeapLock> guard(heap->lock);
        if (BlockHeader* block = heap->TakeLookaside(sizeClass)) {
            Prepare(block, flags, bytes);  // a lookaside block has the full size of its class
            heap->Link(block);
            return block + 1;
        }
    }
    auto* block = static_cast<BlockHeader*>(std::malloc(sizeof(BlockHeader) + Capacity(bytes)));
    if (block == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    block->capacity = Capacity(bytes);
    AdviseHugePages(block, block->capacity);
    Prepare(block, flags, bytes);
    std::lock_guard<HeapLock> guard(heap->lock);
    heap->Link(block);
    return block + 1;
}

namespace {

// Zero-fills the bytes a block gained, if asked to.
void ZeroGrowth(BlockHeader* block, DWORD flags, SIZE_T oldSize, SIZE_T bytes) {
    if ((flags & HEAP_ZERO_MEMORY) && bytes > oldSize) {
        std::memset(reinterpret_cast<char*>(block + 1) + oldSize, 0, bytes - oldSize);
    }
}

// The bytes a block grew by in place from `oldSize`, if it grew, cleared: the caller's bytes. Out
// of line, as is Refused below, so that a reallocation within the block's room makes no call and
// saves no registers.
[[gnu::noinline]] LPVOID ZeroedGrowth(BlockHeader* block, SIZE_T oldSize) {
    ZeroGrowth(block, HEAP_ZERO_MEMORY, oldSize, block->size);
    return block + 1;
}

// A refused call: null, with `error` as the last-error code.
[[gnu::noinline]] LPVOID Refused(DWORD error) {
    SetLastError(error);
    return nullptr;
}

// The block with room for `capacity` bytes: moved by realloc, or for a huge block into a new one
// that has been advised huge pages before the old bytes are copied into it (realloc would copy them
// into small pages first). Null, with the block unchanged, when there is no memory.
BlockHeader* Moved(BlockHeader* block, SIZE_T capacity) {
    if (capacity < HUGE_BLOCK) {
        return static_cast<BlockHeader*>(std::realloc(block, sizeof(BlockHeader) + capacity));
    }
    auto* moved = static_cast<BlockHeader*>(std::malloc(sizeof(BlockHeader) + capacity));
    if (moved != nullptr) {
        AdviseHugePages(moved, capacity);
        std::memcpy(moved, block, sizeof(BlockHeader) + std::min(block->size, capacity));
        std::free(block);
    }
    return moved;
}

// The reallocation that may move the block. Out of line, so that a reallocation within the
// block's room saves no registers for it.
[[gnu::noinline]] LPVOID ReAllocMoving(Heap* heap, BlockHeader* block, DWORD flags, SIZE_T bytes) {
    SIZE_T oldSize = block->size;
    std::lock_guard<HeapLock> guard(heap->lock);
    // The block leaves the ring while it may move; on failure it goes back unchanged.
    Heap::Unlink(block);
    BlockHeader* moved = Moved(block, Capacity(bytes));
    if (moved == nullptr) {
        heap->Link(block);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    moved->size = bytes;
    moved->capacity = Capacity(bytes);
    heap->Link(moved);
    ZeroGrowth(moved, flags, oldSize, bytes);
    return moved + 1;
}

}  // namespace

LPVOID HeapReAlloc(HANDLE handle, DWORD flags, LPVOID old, SIZE_T bytes) {
    Heap* heap = static_cast<Heap*>(handle);
    if (heap == nullptr || old == nullptr || HeaderOf(old)->heap != heap) {
        return Refused(ERROR_INVALID_PARAMETER);
    }
    BlockHeader* block = HeaderOf(old);
    if (flags & HEAP_REALLOC_IN_PLACE_ONLY) {
        if (bytes > block->size) {
            return Refused(ERROR_NOT_ENOUGH_MEMORY);
        }
        block->size = bytes;
        return old;
    }
    if (bytes > SIZE_MAX - sizeof(BlockHeader) || AllocationFails(heap)) {
        return Refused(ERROR_NOT_ENOUGH_MEMORY);
    }
    if (bytes <= block->capacity &&
        (LookasideClass(block->capacity) >= 0 || bytes >= block->capacity / 2)) {
        // The block has room for the new size (a string variable reassigned with another text):
        // it stays where it is, unless a large block would keep much more than it needs.
        SIZE_T oldSize = block->size;
        block->size = bytes;
        // The flag is looked at first: whether a text grew or shrank is as good as random.
        if (flags & HEAP_ZERO_MEMORY) [[unlikely]] {
            return ZeroedGrowth(block, oldSize);
        }
        return old;
    }
    return ReAllocMoving(heap, block, flags, bytes);
}

BOOL HeapFree(HANDLE handle, DWORD, LPVOID old) {
    Heap* heap = static_cast<Heap*>(handle);
    if (old == nullptr) {
        return TRUE;
    }
    if (heap == nullptr || HeaderOf(old)->heap != heap) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    BlockHeader* block = HeaderOf(old);
    {
        std::lock_guard<HeapLock> guard(heap->lock);
        Heap::Unlink(block);
        if (heap->KeepLookaside(block)) {
            return TRUE;
        }
    }
    std::free(block);
    return TRUE;
}

SIZE_T HeapSize(HANDLE, DWORD, LPCVOID block) {
    return block == nullptr ? static_cast<SIZE_T>(-1) : HeaderOf(block)->size;
}

BOOL HeapWalk(HANDLE handle, LPPROCESS_HEAP_ENTRY entry) {
    Heap* heap = static_cast<Heap*>(handle);
    if (heap == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::lock_guard<HeapLock> guard(heap->lock);
    BlockHeader* next = entry->lpData == nullptr ? heap->ring.next : HeaderOf(entry->lpData)->next;
    if (next == &heap->ring) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    entry->lpData = next + 1;
    entry->cbData = static_cast<DWORD>(next->size);
    entry->cbOverhead = sizeof(BlockHeader);
    entry->iRegionIndex = 0;
    entry->wFlags = PROCESS_HEAP_ENTRY_BUSY;
    return TRUE;
}
