// The memory library: a private heap of its own, created at the library's start and destroyed at
// its end with every block still allocated from it.
#include "core.h"

namespace rt {

namespace {
HANDLE memoryHeap = nullptr;
}  // namespace

void MemoryLibraryStart() {
    memoryHeap = HeapCreate(0, 4096, 0);
}

void MemoryLibraryEnd() {
    HeapDestroy(memoryHeap);
    memoryHeap = nullptr;
}

void* MemoryAlloc(int64_t size, int32_t flags) {
    if (size <= 0) {
        return nullptr;
    }
    return HeapAlloc(memoryHeap, (flags & MEMORY_NO_CLEAR) ? 0 : HEAP_ZERO_MEMORY,
                     static_cast<SIZE_T>(size));
}

void MemoryFree(void* block) {
    HeapFree(memoryHeap, 0, block);
}

}  // namespace rt
