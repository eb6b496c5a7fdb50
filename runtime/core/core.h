// The runtime core: the main heap, the scope holders of locks and heap blocks, block chains, block
// pools, one-time initialisation, the memory library's heap, the object registry, per-thread data
// and the thread-exit service.
//
// Every runtime record comes from MainHeap, which the entry routine creates before any library
// starts and destroys after every library has ended. Block chains take no lock (their owner
// serialises them); locked pools and registries guard themselves with re-entrant critical sections;
// unlocked pools (POOL_NO_LOCK) belong to one thread. Lock order: the shared-pool list lock is
// taken before a pool's own lock, never the other way round. The per-thread data layout is written
// only by the library start routines, on the main thread; afterwards any thread may reach its own
// record without a lock. The thread-exit service guards its chain of contexts with its own lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "../platform/platform.h"

namespace rt {

// The process heap of the runtime, HeapCreate(0, 4096, 0), owned by the entry routine.
extern HANDLE MainHeap;
// The program's module, GetModuleHandleW(NULL), taken by the entry routine: window classes are
// registered with it and per-window property names are formed from it.
extern HMODULE ModuleHandle;

// ---------------------------------------------------------------------------------------------
// The fatal stop: when the runtime cannot go on (the string heap or a thread's record cannot be
// had, and no caller expects a failure), it ends the program with a message. Work that must not be
// left half done by such a stop registers a clean-up for as long as it runs: the file actions
// remove their incomplete copy in it. One clean-up at a time, process-wide; the stop runs it on
// the stopping thread, which may be any thread, so it must not wait for the thread that set it.

struct FatalStopCleanup {
    void (*routine)(void* context);
    void* context;
};

// Makes `cleanup` (null: none) the one that the stop runs, until it is replaced; returns the one it
// replaces, so that the caller can put it back. The record must live while it is registered.
FatalStopCleanup* FatalStopCleanupSet(FatalStopCleanup* cleanup);
// Runs the registered clean-up, if any, then shows `message` and ends the process.
[[noreturn]] void FatalStop(const WCHAR* message);

// ---------------------------------------------------------------------------------------------
// Scope holders: what a scope takes from the system is given back however the scope is left.

// Holds a critical section from construction to the end of the scope. Null holds nothing, for
// the structures (unlocked pools) that have no lock to take.
class CriticalSectionLock {
  public:
    explicit CriticalSectionLock(CRITICAL_SECTION* section) : section_(section) {
        if (section_ != nullptr) {
            EnterCriticalSection(section_);
        }
    }
    ~CriticalSectionLock() {
        if (section_ != nullptr) {
            LeaveCriticalSection(section_);
        }
    }
    CriticalSectionLock(const CriticalSectionLock&) = delete;
    CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

  private:
    CRITICAL_SECTION* section_;
};

struct MainHeapFree {
    void operator()(void* block) const { HeapFree(MainHeap, 0, block); }
};
// A MainHeap block that a scope owns: freed at the scope's end unless release() hands it on.
template <typename T>
using MainHeapBlock = std::unique_ptr<T, MainHeapFree>;

// ---------------------------------------------------------------------------------------------
// Block chains: doubly linked chains of zero-filled MainHeap nodes. The owner keeps the head and
// passes around payload addresses (node + 16).

struct BlockChainNode {
    BlockChainNode* next;      // toward the oldest node
    BlockChainNode* previous;  // toward the head; null for the head
};
static_assert(sizeof(BlockChainNode) == 16, "the payload starts 16 bytes into a node");

// Adds a zero-filled node of nodeSize bytes (header included) at the head; its payload, or null
// when the node cannot be allocated (the chain is then unchanged).
void* BlockChainAdd(BlockChainNode** head, int32_t nodeSize);
// Unlinks and frees the node of `payload`, which must belong to the chain.
void BlockChainRemove(BlockChainNode** head, void* payload);
// The payload of a node and the node of a payload.
inline void* BlockChainPayload(BlockChainNode* node) {
    return node + 1;
}
inline BlockChainNode* BlockChainNodeOf(void* payload) {
    return static_cast<BlockChainNode*>(payload) - 1;
}

// ---------------------------------------------------------------------------------------------
// Block pools: fixed-size slots carved from growing MainHeap blocks.

constexpr int32_t POOL_NO_LOCK = 2;  // no lock: the pool belongs to one thread
constexpr int32_t POOL_SHARED = 4;   // one pool per slot size and flags, shared by its users

struct PoolBlock {
    PoolBlock* next;
    PoolBlock* previous;
    void* freeChain;    // slots given back, most recent first
    int32_t capacity;   // slots in the block
    int32_t carved;     // slots handed out at least once, from the front
    int32_t freeCount;  // slots on the free chain
    int32_t unused;
};
static_assert(sizeof(PoolBlock) == 40, "a pool block has a 40-byte header");

struct BlockPool;

struct SharedPoolDescriptor {
    SharedPoolDescriptor* next;
    SharedPoolDescriptor* previous;
    BlockPool* pool;
    uint64_t slotSize;
    int32_t flags;  // including POOL_SHARED
    int32_t userCount;
};
static_assert(sizeof(SharedPoolDescriptor) == 40);

struct BlockPool {
    PoolBlock* fullBlocks;       // no slot left to hand out
    PoolBlock* availableBlocks;  // a free or never-used slot left
    SharedPoolDescriptor* shared;
    int64_t slotTotal;  // slots in all blocks
    uint64_t slotSize;  // element size + 8, rounded up to a multiple of 8
    int32_t minimumSlots;
    int32_t maximumSlots;
    int32_t locked;
    CRITICAL_SECTION lock;  // initialised only when locked is 1
};
static_assert(offsetof(BlockPool, minimumSlots) == 40 && offsetof(BlockPool, locked) == 48);

BlockPool* PoolNew(int64_t elementSize, int32_t minimumSlots, int32_t maximumSlots, int32_t flags);
// The data of a slot (not cleared), or null when not even a one-slot block can be allocated.
void* PoolAlloc(BlockPool* pool);
// Gives back data that PoolAlloc on the same pool returned.
void PoolFree(BlockPool* pool, void* data);
// Frees every block; every slot becomes invalid.
void PoolClear(BlockPool* pool);
// A shared pool loses one user and dies with its last; a private pool is cleared and destroyed.
void PoolDelete(BlockPool* pool);

// ---------------------------------------------------------------------------------------------
// One-time initialisation.

// Zero before first use; an INIT_ONCE where the system offers InitOnceExecuteOnce, otherwise a
// 32-bit state: 0 not started, 1 running, 2 done.
union OnceFlag {
    void* initOnce;
    LONG state;
};
static_assert(sizeof(OnceFlag) == 8);

// Runs `routine` exactly once per flag in the process; every caller returns after it completed.
void OnceRun(OnceFlag* flag, void (*routine)());

// ---------------------------------------------------------------------------------------------
// The memory library: a private heap of its own, released whole at the library's end.

constexpr int32_t MEMORY_NO_CLEAR = 1;

void MemoryLibraryStart();
void MemoryLibraryEnd();
// A block of `size` bytes, zero-filled unless flags has MEMORY_NO_CLEAR; null for size <= 0.
void* MemoryAlloc(int64_t size, int32_t flags);
void MemoryFree(void* block);

// ---------------------------------------------------------------------------------------------
// The object registry: numbered and dynamic objects of one library.

// 0 and above: a numbered object. DYNAMIC_ID: to a create, a new dynamic object whose id is its
// record's address; to a free routine, every object.
using ObjectId = int64_t;
constexpr ObjectId DYNAMIC_ID = -1;

// A library's free or close operation, also called by the registry.
using ObjectFreeRoutine = void (*)(ObjectId id);

struct ObjectRegistry {
    int32_t recordSize;
    int32_t growStep;
    int64_t slotCount;
    void** numberedTable;
    BlockChainNode* dynamicChain;  // dynamic records, newest first
    ObjectFreeRoutine freeRoutine;
    int64_t walkCursor;
    CRITICAL_SECTION lock;
    // Beyond the classic fields: the addresses of the dynamic records in an open-addressing table,
    // so that an id outside the numbered table is recognised in expected constant time.
    void** dynamicSet;
    int64_t dynamicSetCapacity;  // a power of two, or 0 before the first dynamic object
    int64_t dynamicCount;
    void* walkLastReported;  // the dynamic record the free-all walk reported last
    // Numbered lookups read the table without the lock through one word: its low 32 bits are the
    // slot count they may use, 0 while a writer holding the lock may change the table, slots or
    // records; its high 32 bits count the starts and ends of writer spans, so that a reader that
    // sees the word change takes the lock instead. Written with atomic operations only.
    uint64_t lookupWord;
    int64_t writerDepth;   // nested writer spans of the lock's owner
    int64_t tableEntries;  // entries allocated in the numbered table: the slot count or more
};
static_assert(offsetof(ObjectRegistry, walkCursor) == 40 && offsetof(ObjectRegistry, lock) == 48);

ObjectRegistry* RegistryNew(int32_t recordSize, int32_t growStep, ObjectFreeRoutine freeRoutine);
// A zero-filled record for `id` (a new dynamic record for DYNAMIC_ID), replacing any object the
// number held; null when no record can be had (the registry is then unchanged).
void* RegistryCreate(ObjectRegistry* registry, ObjectId id);
// The live record of `id`, or null. Any id is safe: one that names no object gives null.
inline void* RegistryLookup(ObjectRegistry* registry, ObjectId id);
// RegistryLookup behind the lock: for an id outside the numbered table, or while a writer is
// active.
void* RegistryLookupBehindLock(ObjectRegistry* registry, ObjectId id);
// The validating lookup: a live numbered record, or `id` itself when it is a dynamic record.
void* RegistryIsObject(ObjectRegistry* registry, ObjectId id);
// Gives the record of `id` back: a numbered record is zero-filled in place, a dynamic one freed.
void RegistryFree(ObjectRegistry* registry, ObjectId id);
// Calls the free routine for every object: numbers ascending, then dynamic newest first.
void RegistryFreeAll(ObjectRegistry* registry);
// The walk under RegistryFreeAll; it holds the registry lock until it reports the end (null).
void RegistryWalkStart(ObjectRegistry* registry);
void* RegistryWalkNext(ObjectRegistry* registry, ObjectId* id);

// The registry's fields that lock-free readers see are only read and written through this.
template <typename T>
std::atomic_ref<T> RegistryShared(T& field) {
    return std::atomic_ref<T>(field);
}

// A record is live while its first 8 bytes, the object's system handle, are non-zero. A library
// publishes the handle once the record holds everything a lookup's caller may read, and clears it
// the same way when the object goes; lookups read it through RegistryIsLive. The store releases and
// the load acquires, so a lookup on another thread that sees the handle sees the record whole, and
// creating on one thread while looking up on another is defined behaviour.
inline void RegistryPublish(void* record, const void* handle) {
    std::atomic_ref<void*>(*static_cast<void**>(record))
        .store(const_cast<void*>(handle), std::memory_order_release);
}
inline bool RegistryIsLive(const void* record) {
    return record != nullptr &&
           std::atomic_ref<void*>(*static_cast<void**>(const_cast<void*>(record)))
                   .load(std::memory_order_acquire) != nullptr;
}

// A numbered lookup, the one every file operation makes, reads the table without the lock while no
// writer is active: the lookup word lets the number through, and it is the same before and after
// the slot's read. Inline, so that it costs no call; registry.cpp describes the writers' side.
inline void* RegistryLookup(ObjectRegistry* registry, ObjectId id) {
    auto word = RegistryShared(registry->lookupWord);
    uint64_t before = word.load(std::memory_order_acquire);
    // Compared without sign, so that a negative id fails as well as one beyond the count.
    if (static_cast<uint64_t>(id) < static_cast<uint32_t>(before)) {
        // The count is published after the table that holds it, so this table has it.
        void** table = RegistryShared(registry->numberedTable).load(std::memory_order_acquire);
        // Acquired, so that the second look at the word cannot move before the slot's read: a
        // writer's store seen here makes that look see its start or a later value.
        void* record = RegistryShared(table[id]).load(std::memory_order_acquire);
        if (word.load(std::memory_order_relaxed) == before) {
            return RegistryIsLive(record) ? record : nullptr;
        }
    }
    return RegistryLookupBehindLock(registry, id);
}

// ---------------------------------------------------------------------------------------------
// Per-thread data: one record per thread in which every library with per-thread state owns a
// section, reserved by its start routine. A thread's record is made on its first ThreadDataGet and
// released by the thread-exit service after the thread has ended; the main thread's record is made
// by the registrations and goes with MainHeap.

// The descriptor of a registration with routines: the payload of a section-chain node.
struct ThreadDataSection {
    int64_t offset;                      // where the section starts in the record
    void (*initRoutine)(void* section);  // when a thread's record is made, or null
    void (*freeRoutine)(void* section);  // when a thread's record is released, or null
};
static_assert(sizeof(ThreadDataSection) == 24);

struct ThreadDataState {
    DWORD tlsIndex;            // every thread's record; allocated by the first registration
    int64_t totalSize;         // the sum of the section sizes; 0 before the first registration
    BlockChainNode* sections;  // ThreadDataSection descriptors, newest first
};
// Written by the registrations only, at start-up, on the main thread.
extern ThreadDataState ThreadDataLayout;

// Reserves a section of `size` bytes (rounded up to a multiple of 8) in every thread's record and
// returns its offset. Library start routines only: on the main thread, before any other thread
// exists. The init routine runs at once for the main thread's section. Stops the process when the
// slot, the main thread's record or the descriptor cannot be had.
int64_t ThreadDataRegister(int32_t size, void (*initRoutine)(void*), void (*freeRoutine)(void*));
// The calling thread's section at `offset`. A thread's first call makes its zero-filled record,
// runs the init routines newest section first and queues the record's release for after the
// thread's end; it stops the process when the record cannot be allocated.
void* ThreadDataGet(int64_t offset);
// Runs every free routine (newest section first) on `record` and frees it; nothing for null.
void ThreadDataRelease(void* record);
// Frees the slot of the per-thread records, in the shut-down order.
void ThreadDataEnd();

// ---------------------------------------------------------------------------------------------
// The thread-exit service: clean-up routines that run, on a system thread, after the thread that
// queued them has ended. The routines of threads still running when the process ends never run.

struct ThreadExitItem {
    ThreadExitItem* next;
    void (*routine)(void* argument);
    void* argument;
};
static_assert(sizeof(ThreadExitItem) == 24);

// One per thread that queued a clean-up, zero-filled.
struct ThreadExitContext {
    ThreadExitContext* previous;  // toward the head of the chain
    ThreadExitContext* next;
    ThreadExitItem* items;  // newest first
    HANDLE waitHandle;      // from RegisterWaitForSingleObject
    HANDLE threadHandle;    // a real handle to the thread, SYNCHRONIZE access
};
static_assert(sizeof(ThreadExitContext) == 40);

struct ThreadExitState {
    OnceFlag startOnce;           // the start runs once, whichever threads reach it first
    LONG started;                 // 1 once the slot and the lock exist
    DWORD tlsIndex;               // the calling thread's context
    ThreadExitContext* contexts;  // every live context, newest first
    CRITICAL_SECTION lock;        // guards the context chain
};
extern ThreadExitState ThreadExitService;

// Queues routine(argument) to run once the calling thread has ended; the item, or null (nothing
// queued) when the context or the item cannot be allocated. Any thread.
void* ThreadExitRegister(void (*routine)(void*), void* argument);
// The wait callback registered for every context.
void CALLBACK ThreadExitWaitCallback(PVOID context, BOOLEAN timedOut);
// Drops the wait and the thread handle of an ended thread's context, runs its items newest first
// and frees them and the context.
void ThreadExitRun(ThreadExitContext* context);

}  // namespace rt
