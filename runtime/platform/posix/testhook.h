// Allocation- and read-failure injection for tests. Not Windows calls: they exist only in this
// build, so that every "on failure" path of the runtime can be driven from a test.
#pragma once

#include <cstdint>

#include "types.h"

// Makes the nth heap allocation (HeapAlloc or HeapReAlloc on any heap, any thread) counted from now
// fail, and the count - 1 allocations after it; 1 is the very next one. 0 disarms the hook. Given
// a heap, only that heap's allocations count and fail.
void PlatformFailAllocation(int64_t nth, int64_t count = 1, HANDLE heap = nullptr);
// True while an armed failure has not happened yet.
bool PlatformAllocationFailurePending();
// Makes the nth ReadFile call (any handle, any thread) counted from now fail with
// ERROR_READ_FAULT, reading nothing; 1 is the very next one. 0 disarms the hook.
void PlatformFailRead(int64_t nth);
// The same for WriteFile, failing with ERROR_WRITE_FAULT and writing nothing.
void PlatformFailWrite(int64_t nth);
