// TLS slots: each thread keeps a fixed array of (generation, value) pairs. A slot's generation
// changes every time it is allocated, so a value a thread stored under an earlier allocation of the
// same index reads as null, as on Windows, without touching other threads' arrays.
#include <atomic>
#include <mutex>

#include "../platform.h"

namespace {

constexpr DWORD SLOT_COUNT = 128;

struct Slot {
    uint64_t generation;
    void* value;
};

std::mutex slotLock;
bool slotInUse[SLOT_COUNT];
std::atomic<uint64_t> slotGeneration[SLOT_COUNT];

thread_local Slot threadSlots[SLOT_COUNT];

bool IsAllocated(DWORD index) {
    return index < SLOT_COUNT && slotGeneration[index].load(std::memory_order_acquire) % 2 == 1;
}

}  // namespace

// Generations are odd while a slot is allocated and even while it is free.
DWORD TlsAlloc() {
    std::lock_guard<std::mutex> guard(slotLock);
    for (DWORD index = 0; index < SLOT_COUNT; ++index) {
        if (!slotInUse[index]) {
            slotInUse[index] = true;
            slotGeneration[index].fetch_add(1, std::memory_order_acq_rel);
            return index;
        }
    }
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return TLS_OUT_OF_INDEXES;
}

BOOL TlsFree(DWORD index) {
    std::lock_guard<std::mutex> guard(slotLock);
    if (index >= SLOT_COUNT || !slotInUse[index]) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    slotInUse[index] = false;
    slotGeneration[index].fetch_add(1, std::memory_order_acq_rel);
    return TRUE;
}

LPVOID TlsGetValue(DWORD index) {
    if (!IsAllocated(index)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    SetLastError(ERROR_SUCCESS);
    return TlsSlotValue(index);
}

// A thread's value counts only when it was stored under the slot's present allocation, whose
// generation is odd: a slot this thread never stored (generation 0) holds null, and the value of a
// freed slot, stored under an odd generation, no longer matches the even one.
LPVOID TlsSlotValue(DWORD index) {
    if (index >= SLOT_COUNT) {
        return nullptr;
    }
    const Slot& slot = threadSlots[index];
    return slot.generation == slotGeneration[index].load(std::memory_order_acquire) ? slot.value
                                                                                    : nullptr;
}

BOOL TlsSetValue(DWORD index, LPVOID value) {
    if (!IsAllocated(index)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    threadSlots[index] = {slotGeneration[index].load(std::memory_order_relaxed), value};
    return TRUE;
}
