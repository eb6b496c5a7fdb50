// The runtime core: the main heap, block chains, block pools, one-time initialisation, the memory
// library's heap and the object registry.
//
// Every runtime record comes from MainHeap, which the entry routine creates before any library
// starts and destroys after every library has ended. Block chains take no lock (their owner
// serialises them); locked pools and registries guard themselves with re-entrant critical sections;
// unlocked pools (POOL_NO_LOCK) belong to one thread. Lock order: the shared-pool list lock is
// taken before a pool's own lock, never the other way round.
#pragma once

#include <cstdint>

#include "../platform/platform.h"

namespace rt {

// The process heap of the runtime, HeapCreate(0, 4096, 0), owned by the entry routine.
extern HANDLE MainHeap;

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
};
static_assert(offsetof(ObjectRegistry, walkCursor) == 40 && offsetof(ObjectRegistry, lock) == 48);

ObjectRegistry* RegistryNew(int32_t recordSize, int32_t growStep, ObjectFreeRoutine freeRoutine);
// A zero-filled record for `id` (a new dynamic record for DYNAMIC_ID), replacing any object the
// number held; null when no record can be had (the registry is then unchanged).
void* RegistryCreate(ObjectRegistry* registry, ObjectId id);
// The live record of `id`, or null. Any id is safe: one that names no object gives null.
void* RegistryLookup(ObjectRegistry* registry, ObjectId id);
// The validating lookup: a live numbered record, or `id` itself when it is a dynamic record.
void* RegistryIsObject(ObjectRegistry* registry, ObjectId id);
// Gives the record of `id` back: a numbered record is zero-filled in place, a dynamic one freed.
void RegistryFree(ObjectRegistry* registry, ObjectId id);
// Calls the free routine for every object: numbers ascending, then dynamic newest first.
void RegistryFreeAll(ObjectRegistry* registry);
// The walk under RegistryFreeAll; it holds the registry lock until it reports the end (null).
void RegistryWalkStart(ObjectRegistry* registry);
void* RegistryWalkNext(ObjectRegistry* registry, ObjectId* id);

}  // namespace rt
