// Critical sections, interlocked operations and Sleep.
#pragma once

#include <atomic>

#include "types.h"

// Differs: a futex-based lock word with the owner and recursion count beside it, so its size is
// not Windows' 40 bytes; no spin count, no debug information.
struct CRITICAL_SECTION {
    std::atomic<uint32_t> word;    // 0 free, 1 held, 2 held with threads waiting
    std::atomic<uintptr_t> owner;  // the holding thread's tag, 0 when free
    int32_t recursion;             // entries by the holder not yet left
};
typedef CRITICAL_SECTION* LPCRITICAL_SECTION;

// Differs: none (re-entrant for the owning thread).
void InitializeCriticalSection(LPCRITICAL_SECTION section);
void EnterCriticalSection(LPCRITICAL_SECTION section);
void LeaveCriticalSection(LPCRITICAL_SECTION section);
void DeleteCriticalSection(LPCRITICAL_SECTION section);

// Differs: none; full barriers, as on Windows.
LONG InterlockedCompareExchange(LONG volatile* target, LONG exchange, LONG comparand);
LONG InterlockedExchange(LONG volatile* target, LONG value);

// Differs: Sleep(0) yields the processor with sched_yield.
void Sleep(DWORD milliseconds);

// One-time initialisation records, for callers that look InitOnceExecuteOnce up at run time.
// Differs: InitOnceExecuteOnce itself is not provided; GetProcAddress never finds it here.
typedef union {
    PVOID Ptr;
} INIT_ONCE;
typedef INIT_ONCE* PINIT_ONCE;
typedef BOOL(CALLBACK* PINIT_ONCE_FN)(PINIT_ONCE initOnce, PVOID parameter, PVOID* context);
