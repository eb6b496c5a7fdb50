// Thread-local storage slots.
#pragma once

#include "types.h"

#define TLS_OUT_OF_INDEXES 0xFFFFFFFFu

// Differs: 128 slots per process instead of 1088.
DWORD TlsAlloc();
// Differs: none (a freed slot reads as null on every thread when it is allocated again).
BOOL TlsFree(DWORD index);
// Differs: none (sets the last-error code to ERROR_SUCCESS when it succeeds, as Windows does).
LPVOID TlsGetValue(DWORD index);
// Differs: a thread's first store fails with ERROR_NOT_ENOUGH_MEMORY when no thread key is left.
BOOL TlsSetValue(DWORD index, LPVOID value);
// Not a Windows call (the Windows build reads the thread's environment block): TlsGetValue's value
// without touching the last-error code.
LPVOID TlsSlotValue(DWORD index);
