// TLS slots: each thread keeps a fixed array of values, zero until the thread stores one. A thread
// that has stored a value is on the list of listed threads, and TlsFree clears the slot in every
// listed thread, as Windows does, so that a value stored under an earlier allocation of the same
// index reads as null and a read is one load. A thread leaves the list in a key destructor, the
// last code of the thread, which also clears its array: nothing can be left there for TlsFree to
// miss.
#include <pthread.h>

#include <atomic>
#include <mutex>

#include "../platform.h"

namespace {

constexpr DWORD SLOT_COUNT = 128;

// A thread's values and its links on the list. Trivial, so that the thread's first read needs no
// initialisation check.
struct ThreadValues {
    void* values[SLOT_COUNT];
    ThreadValues* next;
    ThreadValues* previous;
    bool listed;
};

// Guards the changes of slotInUse, the list and every store into another thread's values.
std::mutex slotLock;
std::atomic<bool> slotInUse[SLOT_COUNT];
ThreadValues* listed;

thread_local ThreadValues threadValues;

// Values are read by their own thread without the lock while TlsFree may clear them from another.
std::atomic_ref<void*> Value(ThreadValues& thread, DWORD index) {
    return std::atomic_ref<void*>(thread.values[index]);
}

bool IsAllocated(DWORD index) {
    return index < SLOT_COUNT && slotInUse[index].load(std::memory_order_acquire);
}

void Unlist(void* value) {
    auto* thread = static_cast<ThreadValues*>(value);
    std::lock_guard<std::mutex> guard(slotLock);
    (thread->previous != nullptr ? thread->previous->next : listed) = thread->next;
    if (thread->next != nullptr) {
        thread->next->previous = thread->previous;
    }
    for (DWORD index = 0; index < SLOT_COUNT; ++index) {
        Value(*thread, index).store(nullptr, std::memory_order_relaxed);
    }
    thread->listed = false;
}

// Puts the calling thread on the list; false when its key cannot be had. A thread that stores a
// value from a key destructor after leaving the list is listed again and leaves once more, since
// the key's value is set again.
bool List() {
    static pthread_key_t key;
    static const bool keyCreated = pthread_key_create(&key, Unlist) == 0;
    if (!keyCreated || pthread_setspecific(key, &threadValues) != 0) {
        return false;
    }
    std::lock_guard<std::mutex> guard(slotLock);
    threadValues.next = listed;
    threadValues.previous = nullptr;
    if (listed != nullptr) {
        listed->previous = &threadValues;
    }
    listed = &threadValues;
    threadValues.listed = true;
    return true;
}

}  // namespace

DWORD TlsAlloc() {
    std::lock_guard<std::mutex> guard(slotLock);
    for (DWORD index = 0; index < SLOT_COUNT; ++index) {
        if (!slotInUse[index].load(std::memory_order_relaxed)) {
            slotInUse[index].store(true, std::memory_order_release);
            return index;
        }
    }
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return TLS_OUT_OF_INDEXES;
}

BOOL TlsFree(DWORD index) {
    std::lock_guard<std::mutex> guard(slotLock);
    if (index >= SLOT_COUNT || !slotInUse[index].load(std::memory_order_relaxed)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    slotInUse[index].store(false, std::memory_order_release);
    for (ThreadValues* thread = listed; thread != nullptr; thread = thread->next) {
        Value(*thread, index).store(nullptr, std::memory_order_relaxed);
    }
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

LPVOID TlsSlotValue(DWORD index) {
    return index < SLOT_COUNT ? Value(threadValues, index).load(std::memory_order_relaxed)
                              : nullptr;
}

BOOL TlsSetValue(DWORD index, LPVOID value) {
    if (!IsAllocated(index)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!threadValues.listed && !List()) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    Value(threadValues, index).store(value, std::memory_order_relaxed);
    return TRUE;
}
