// Critical sections: a three-state futex lock word (free, held, held with waiters), so that an
// uncontended enter and leave are one atomic operation each and only contention reaches the
// kernel; the owner's tag and a recursion count make it re-entrant for the holding thread.
// Interlocked operations are sequentially consistent atomics.
#include <linux/futex.h>
#include <sched.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include "../platform.h"

namespace {

// A value unique to the calling thread while it lives: the address of a thread-local byte.
uintptr_t ThreadTag() {
    static thread_local char tag;
    return reinterpret_cast<uintptr_t>(&tag);
}

void FutexWait(std::atomic<uint32_t>* word, uint32_t expected) {
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), FUTEX_WAIT_PRIVATE, expected, nullptr,
            nullptr, 0);
}

void FutexWakeOne(std::atomic<uint32_t>* word) {
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr,
            0);
}

}  // namespace

void InitializeCriticalSection(LPCRITICAL_SECTION section) {
    section->word.store(0, std::memory_order_relaxed);
    section->owner.store(0, std::memory_order_relaxed);
    section->recursion = 0;
}

void EnterCriticalSection(LPCRITICAL_SECTION section) {
    uintptr_t self = ThreadTag();
    // Only this thread ever stores its own tag, so a relaxed read cannot see it by mistake.
    if (section->owner.load(std::memory_order_relaxed) == self) {
        section->recursion += 1;
        return;
    }
    uint32_t state = 0;
    if (!section->word.compare_exchange_strong(state, 1, std::memory_order_acquire)) {
        // Contended: announce a waiter (state 2) and sleep until the word was found free.
        if (state != 2) {
            state = section->word.exchange(2, std::memory_order_acquire);
        }
        while (state != 0) {
            FutexWait(&section->word, 2);
            state = section->word.exchange(2, std::memory_order_acquire);
        }
    }
    section->owner.store(self, std::memory_order_relaxed);
    section->recursion = 1;
}

void LeaveCriticalSection(LPCRITICAL_SECTION section) {
    if (--section->recursion > 0) {
        return;
    }
    section->owner.store(0, std::memory_order_relaxed);
    if (section->word.exchange(0, std::memory_order_release) == 2) {
        FutexWakeOne(&section->word);
    }
}

void DeleteCriticalSection(LPCRITICAL_SECTION) {}

LONG InterlockedCompareExchange(LONG volatile* target, LONG exchange, LONG comparand) {
    __atomic_compare_exchange_n(target, &comparand, exchange, false, __ATOMIC_SEQ_CST,
                                __ATOMIC_SEQ_CST);
    return comparand;  // on failure the builtin stored the value it found
}

LONG InterlockedExchange(LONG volatile* target, LONG value) {
    return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}

void Sleep(DWORD milliseconds) {
    if (milliseconds == 0) {
        sched_yield();
        return;
    }
    timespec delay{static_cast<time_t>(milliseconds / 1000),
                   static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&delay, &delay) != 0) {
    }
}
