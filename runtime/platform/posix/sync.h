// Critical sections, interlocked operations and Sleep.
#pragma once

#include <pthread.h>

#include "types.h"

// Differs: a recursive pthread mutex, so its size is not Windows' 40 bytes; no spin count, no
// debug information.
struct CRITICAL_SECTION {
    pthread_mutex_t mutex;
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
