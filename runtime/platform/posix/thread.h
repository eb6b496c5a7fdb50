// Threads as kernel objects, and waits on them: the pseudo handles and ids of the calling thread
// and process, real thread handles that become signalled when their thread has ended, and
// registered waits whose callbacks run on a thread of the layer once the handle is signalled.
#pragma once

#include "types.h"

#define SYNCHRONIZE 0x00100000L
#define DUPLICATE_CLOSE_SOURCE 0x00000001
#define DUPLICATE_SAME_ACCESS 0x00000002

#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_TIMEOUT 258L
#define WAIT_FAILED 0xFFFFFFFFu

#define WT_EXECUTEDEFAULT 0x00000000
#define WT_EXECUTEONLYONCE 0x00000008

typedef VOID(CALLBACK* WAITORTIMERCALLBACK)(PVOID parameter, BOOLEAN timerOrWaitFired);

// Differs: none ((HANDLE)-1 and (HANDLE)-2, valid only in the calling process and thread).
HANDLE GetCurrentProcess();
HANDLE GetCurrentThread();
// Differs: the Linux thread id and process id.
DWORD GetCurrentThreadId();
DWORD GetCurrentProcessId();

// Differs: within this process only; the process pseudo handle cannot be duplicated; access rights
// and inheritance are not recorded (every handle may be waited on and duplicated).
BOOL DuplicateHandle(HANDLE sourceProcess, HANDLE source, HANDLE targetProcess, LPHANDLE target,
                     DWORD desiredAccess, BOOL inheritHandle, DWORD options);

// Differs: real thread handles only (no pseudo handles, no other kinds of object).
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);

// Differs: real thread handles only; every callback runs on one wait-service thread of the layer,
// one at a time, whatever the flags besides WT_EXECUTEONLYONCE say; no callback starts once the
// process has begun to exit, as Windows ends the pool's threads at process exit.
BOOL RegisterWaitForSingleObject(PHANDLE waitHandle, HANDLE object, WAITORTIMERCALLBACK callback,
                                 PVOID context, ULONG milliseconds, ULONG flags);
// Differs: the wait handle is an entry of the handle table; CloseHandle must not be used on it
// (it would drop the handle but leave the wait registered).
BOOL UnregisterWait(HANDLE waitHandle);
