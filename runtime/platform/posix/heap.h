// Private heaps. Every block is tracked by its heap, so that HeapDestroy releases all of them.
#pragma once

#include "types.h"

#define HEAP_NO_SERIALIZE 0x00000001
#define HEAP_GENERATE_EXCEPTIONS 0x00000004
#define HEAP_ZERO_MEMORY 0x00000008
#define HEAP_REALLOC_IN_PLACE_ONLY 0x00000010

// Differs: the sizes are advisory (blocks come from malloc); HEAP_NO_SERIALIZE is ignored and every
// heap is serialised; HEAP_GENERATE_EXCEPTIONS is ignored (failures return NULL).
HANDLE HeapCreate(DWORD options, SIZE_T initialSize, SIZE_T maximumSize);
// Differs: none beyond HeapCreate's notes; every block still allocated is released.
BOOL HeapDestroy(HANDLE heap);
// Differs: alignment is 16 bytes, as on 64-bit Windows; fails when the test hook says so.
LPVOID HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes);
// Differs: HEAP_REALLOC_IN_PLACE_ONLY fails unless the size does not grow; HEAP_ZERO_MEMORY zeroes
// the bytes added, as on Windows. Counts for the test hook like HeapAlloc.
LPVOID HeapReAlloc(HANDLE heap, DWORD flags, LPVOID block, SIZE_T bytes);
// Differs: freeing NULL succeeds, as on Windows.
BOOL HeapFree(HANDLE heap, DWORD flags, LPVOID block);
// Differs: none.
SIZE_T HeapSize(HANDLE heap, DWORD flags, LPCVOID block);

#define PROCESS_HEAP_REGION 0x0001
#define PROCESS_HEAP_ENTRY_BUSY 0x0004

// Only the members that a walk over busy blocks needs.
struct PROCESS_HEAP_ENTRY {
    PVOID lpData;
    DWORD cbData;
    BYTE cbOverhead;
    BYTE iRegionIndex;
    WORD wFlags;
};
typedef PROCESS_HEAP_ENTRY* LPPROCESS_HEAP_ENTRY;

// Differs: reports only the allocated blocks (all flagged PROCESS_HEAP_ENTRY_BUSY), no regions or
// free ranges; the heap must not change during the walk.
BOOL HeapWalk(HANDLE heap, LPPROCESS_HEAP_ENTRY entry);
