// The object registry.
//
// Numbered objects live in a table indexed by their number; a numbered record, once allocated,
// stays in its slot for the life of the process and is zero-filled when its object is freed.
// Dynamic objects are payloads of a block chain, newest first, and their id is the record address.
//
// Any id outside the numbered table is checked against a set of the live dynamic record addresses
// (open addressing, linear probing, at most half full) before it is used, so that a number that
// names no object does nothing instead of being dereferenced. The check costs one hash probe.
//
// Every operation that changes the registry takes its re-entrant lock: RegistryCreate holds it
// while it calls the free routine, and the free-all walk holds it from its start to its end while
// the free routine looks records up and frees them on the same thread. A numbered lookup, the one
// every file operation makes, reads the table without the lock while no writer holds it: writers
// set the count in the registry's lookup word to 0 for as long as they hold the lock and publish
// it again at the end, changing the word at both ends, and a reader that finds its number beyond
// the count or the word changed takes the lock and reads again, so it sees what it would have
// seen behind the lock. One word for both tests spares a lookup a load and a branch.
// A table replaced by growth stays allocated for the registry's life, since a lock-free reader may
// still be reading it; a reader therefore announces itself to nobody and costs no locked
// instruction. So that the replaced tables stay small, a table that must grow is allocated at
// least twice as long as before (the slot count itself grows as ever, to the number plus the grow
// step, and the entries beyond it stay empty): the replaced ones together hold fewer entries than
// the current one, and numbering upwards replaces the table only every doubling.
#include <algorithm>
#include <atomic>
#include <cstring>

#include "core.h"

namespace rt {

namespace {

constexpr int64_t INITIAL_SET_CAPACITY = 16;

// The lookup word (ObjectRegistry): `spans` starts and ends of writer spans, and the slot count
// that lock-free lookups may use, at most what 32 bits hold (a number beyond is looked up behind
// the lock).
uint64_t LookupWord(uint64_t spans, int64_t slotCount) {
    return spans << 32 | static_cast<uint64_t>(std::min<int64_t>(slotCount, UINT32_MAX));
}

// The owner of the lock starts (and ends) changing the registry. Spans nest, since the free
// routine that a create or the free-all walk calls frees records on the same thread. While one is
// open the word's count is 0, so lock-free lookups take the lock; its end publishes the count.
void WriterEnter(ObjectRegistry* registry) {
    if (registry->writerDepth++ == 0) {
        auto word = RegistryShared(registry->lookupWord);
        word.exchange(LookupWord((word.load(std::memory_order_relaxed) >> 32) + 1, 0),
                      std::memory_order_seq_cst);
    }
}

void WriterLeave(ObjectRegistry* registry) {
    if (--registry->writerDepth == 0) {
        auto word = RegistryShared(registry->lookupWord);
        word.store(
            LookupWord((word.load(std::memory_order_relaxed) >> 32) + 1, registry->slotCount),
            std::memory_order_release);
    }
}

// Holds the lock for changing the registry: the writer span lies inside the lock's.
class RegistryWriter {
  public:
    explicit RegistryWriter(ObjectRegistry* registry)
        : lock_(&registry->lock), registry_(registry) {
        WriterEnter(registry);
    }
    ~RegistryWriter() { WriterLeave(registry_); }
    RegistryWriter(const RegistryWriter&) = delete;
    RegistryWriter& operator=(const RegistryWriter&) = delete;

  private:
    CriticalSectionLock lock_;
    ObjectRegistry* registry_;
};

uint64_t SetHash(const void* address, int64_t capacity) {
    // Records are 16-byte aligned: drop the constant low bits, then spread with a Fibonacci hash.
    uint64_t value = reinterpret_cast<uintptr_t>(address) >> 4;
    return (value * 0x9E3779B97F4A7C15ull) >> 32 & static_cast<uint64_t>(capacity - 1);
}

// The slot holding `address`, or -1.
int64_t SetFind(const ObjectRegistry* registry, const void* address) {
    if (registry->dynamicSetCapacity == 0 || address == nullptr) {
        return -1;
    }
    int64_t mask = registry->dynamicSetCapacity - 1;
    for (int64_t i = SetHash(address, registry->dynamicSetCapacity);; i = (i + 1) & mask) {
        void* entry = registry->dynamicSet[i];
        if (entry == address) {
            return i;
        }
        if (entry == nullptr) {
            return -1;
        }
    }
}

void SetPlace(void** table, int64_t capacity, void* address) {
    int64_t i = SetHash(address, capacity);
    while (table[i] != nullptr) {
        i = (i + 1) & (capacity - 1);
    }
    table[i] = address;
}

// Makes room for one more address; false when the larger table cannot be allocated.
bool SetReserve(ObjectRegistry* registry) {
    if ((registry->dynamicCount + 1) * 2 <= registry->dynamicSetCapacity) {
        return true;
    }
    int64_t capacity =
        registry->dynamicSetCapacity == 0 ? INITIAL_SET_CAPACITY : registry->dynamicSetCapacity * 2;
    auto** table =
        static_cast<void**>(HeapAlloc(MainHeap, HEAP_ZERO_MEMORY, capacity * sizeof(void*)));
    if (table == nullptr) {
        return false;
    }
    for (int64_t i = 0; i < registry->dynamicSetCapacity; ++i) {
        if (registry->dynamicSet[i] != nullptr) {
            SetPlace(table, capacity, registry->dynamicSet[i]);
        }
    }
    HeapFree(MainHeap, 0, registry->dynamicSet);
    registry->dynamicSet = table;
    registry->dynamicSetCapacity = capacity;
    return true;
}

// Removes the entry at `slot`, shifting later entries of its probe run back so that every
// remaining address stays reachable from its home slot.
void SetErase(ObjectRegistry* registry, int64_t slot) {
    void** table = registry->dynamicSet;
    int64_t mask = registry->dynamicSetCapacity - 1;
    int64_t hole = slot;
    for (int64_t i = (slot + 1) & mask; table[i] != nullptr; i = (i + 1) & mask) {
        int64_t home = SetHash(table[i], registry->dynamicSetCapacity);
        // The entry may fill the hole unless its home lies cyclically in (hole, i].
        bool homeBetween = hole <= i ? (hole < home && home <= i) : (hole < home || home <= i);
        if (!homeBetween) {
            table[hole] = table[i];
            hole = i;
        }
    }
    table[hole] = nullptr;
    registry->dynamicCount -= 1;
}

bool IsNumbered(const ObjectRegistry* registry, ObjectId id) {
    return id >= 0 && id < registry->slotCount;
}

// Zero-fills a record whose object has gone; its live word is cleared as a library clears it, for
// the lookups that may read it meanwhile.
void ClearRecord(const ObjectRegistry* registry, void* record) {
    RegistryPublish(record, nullptr);
    std::memset(static_cast<char*>(record) + sizeof(void*), 0,
                static_cast<size_t>(registry->recordSize) - sizeof(void*));
}

void* CreateDynamic(ObjectRegistry* registry) {
    if (!SetReserve(registry)) {
        return nullptr;
    }
    void* record =
        BlockChainAdd(&registry->dynamicChain,
                      registry->recordSize + static_cast<int32_t>(sizeof(BlockChainNode)));
    if (record != nullptr) {
        SetPlace(registry->dynamicSet, registry->dynamicSetCapacity, record);
        registry->dynamicCount += 1;
    }
    return record;
}

// Grows the numbered table so that it holds `id`; the old table stays in place when it cannot.
bool GrowTable(ObjectRegistry* registry, ObjectId id) {
    int64_t slotCount;
    if (__builtin_add_overflow(id, static_cast<int64_t>(registry->growStep), &slotCount)) {
        return false;
    }
    if (slotCount > registry->tableEntries) {
        int64_t entries = std::max(slotCount, registry->tableEntries * 2);
        uint64_t bytes;
        if (__builtin_mul_overflow(static_cast<uint64_t>(entries), sizeof(void*), &bytes)) {
            return false;
        }
        // A new table rather than a reallocation: a lock-free reader may still read the old one,
        // which stays allocated.
        auto** table = static_cast<void**>(HeapAlloc(MainHeap, HEAP_ZERO_MEMORY, bytes));
        if (table == nullptr) {
            return false;
        }
        if (registry->numberedTable != nullptr) {
            std::memcpy(table, registry->numberedTable,
                        static_cast<size_t>(registry->slotCount) * sizeof(void*));
        }
        RegistryShared(registry->numberedTable).store(table, std::memory_order_release);
        registry->tableEntries = entries;
    }
    registry->slotCount = slotCount;  // lock-free lookups see it when the writer span ends
    return true;
}

void* CreateNumbered(ObjectRegistry* registry, ObjectId id) {
    if (id >= registry->slotCount && !GrowTable(registry, id)) {
        return nullptr;
    }
    void* record = registry->numberedTable[id];
    if (record != nullptr) {
        // The number is reused: the library releases the object it held (if any is live) and
        // RegistryFree zero-fills the record, which is then handed out again.
        if (registry->freeRoutine != nullptr) {
            registry->freeRoutine(id);
            // The free routine may leave the record as it was: its object could not be closed (a
            // window of another thread), or it is closed later than the call returns. The caller
            // is promised a zero-filled record all the same.
            ClearRecord(registry, record);
        }
        return record;
    }
    record = HeapAlloc(MainHeap, HEAP_ZERO_MEMORY, registry->recordSize);
    RegistryShared(registry->numberedTable[id]).store(record, std::memory_order_release);
    return record;
}

}  // namespace

ObjectRegistry* RegistryNew(int32_t recordSize, int32_t growStep, ObjectFreeRoutine freeRoutine) {
    auto* registry =
        static_cast<ObjectRegistry*>(HeapAlloc(MainHeap, HEAP_ZERO_MEMORY, sizeof(ObjectRegistry)));
    if (registry == nullptr) {
        return nullptr;
    }
    registry->recordSize = recordSize;
    registry->growStep = growStep;
    registry->freeRoutine = freeRoutine;
    if (growStep > 0) {
        registry->numberedTable =
            static_cast<void**>(HeapAlloc(MainHeap, HEAP_ZERO_MEMORY, growStep * sizeof(void*)));
        registry->slotCount = registry->numberedTable != nullptr ? growStep : 0;
        registry->tableEntries = registry->slotCount;
        registry->lookupWord = LookupWord(0, registry->slotCount);
    }
    InitializeCriticalSection(&registry->lock);
    return registry;
}

void* RegistryCreate(ObjectRegistry* registry, ObjectId id) {
    RegistryWriter guard(registry);
    if (id == DYNAMIC_ID) {
        return CreateDynamic(registry);
    }
    if (id < 0) {
        return nullptr;  // numbers below -1 name nothing
    }
    return CreateNumbered(registry, id);
}

void* RegistryLookupBehindLock(ObjectRegistry* registry, ObjectId id) {
    CriticalSectionLock guard(&registry->lock);
    void* candidate = reinterpret_cast<void*>(id);
    if (IsNumbered(registry, id)) {
        candidate = registry->numberedTable[id];
    } else if (SetFind(registry, candidate) < 0) {
        return nullptr;
    }
    return RegistryIsLive(candidate) ? candidate : nullptr;
}

void* RegistryIsObject(ObjectRegistry* registry, ObjectId id) {
    CriticalSectionLock guard(&registry->lock);
    if (IsNumbered(registry, id)) {
        void* record = registry->numberedTable[id];
        return RegistryIsLive(record) ? record : nullptr;
    }
    void* address = reinterpret_cast<void*>(id);
    return SetFind(registry, address) >= 0 ? address : nullptr;
}

void RegistryFree(ObjectRegistry* registry, ObjectId id) {
    RegistryWriter guard(registry);
    if (IsNumbered(registry, id)) {
        if (void* record = registry->numberedTable[id]) {
            ClearRecord(registry, record);
        }
        return;
    }
    void* address = reinterpret_cast<void*>(id);
    int64_t slot = SetFind(registry, address);
    if (slot >= 0) {
        SetErase(registry, slot);
        BlockChainRemove(&registry->dynamicChain, address);
    }
}

void RegistryFreeAll(ObjectRegistry* registry) {
    if (registry->freeRoutine == nullptr) {
        return;
    }
    RegistryWalkStart(registry);
    ObjectId id;
    while (RegistryWalkNext(registry, &id) != nullptr) {
        registry->freeRoutine(id);
    }
}

void RegistryWalkStart(ObjectRegistry* registry) {
    EnterCriticalSection(&registry->lock);
    WriterEnter(registry);
    registry->walkCursor = 0;
    registry->walkLastReported = nullptr;
}

void* RegistryWalkNext(ObjectRegistry* registry, ObjectId* id) {
    while (registry->walkCursor >= 0 && registry->walkCursor < registry->slotCount) {
        ObjectId number = registry->walkCursor++;
        void* record = registry->numberedTable[number];
        if (RegistryIsLive(record)) {
            *id = number;
            return record;
        }
    }
    while (registry->dynamicChain != nullptr) {
        void* record = BlockChainPayload(registry->dynamicChain);
        if (record != registry->walkLastReported) {
            registry->walkLastReported = record;
            *id = reinterpret_cast<ObjectId>(record);
            return record;
        }
        // The free routine left the record reported last in place (its live marker was already
        // zero, so the library found no object to close): release it here, or the walk would
        // report it forever.
        RegistryFree(registry, reinterpret_cast<ObjectId>(record));
    }
    registry->walkLastReported = nullptr;
    WriterLeave(registry);
    LeaveCriticalSection(&registry->lock);
    return nullptr;
}

}  // namespace rt
