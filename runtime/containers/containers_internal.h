// What the map and the list share inside the containers library: the pool their elements come
// from and the chain of extra heap blocks each of them frees with itself.
#pragma once

#include "containers.h"

namespace rt {

// Every map and list takes its elements from the shared pool of their size, so that containers
// with equal element sizes draw from one set of blocks. `elementBytes` includes the 16 bytes of
// links (a list) or of link and key (a map).
inline BlockPool* ContainerPoolNew(int64_t elementBytes) {
    return PoolNew(elementBytes, 16, 65536, POOL_SHARED);
}

// Frees a chain of MainHeap blocks, each of which starts with the address of the next one.
inline void ContainerBuffersFree(void* chain) {
    while (chain != nullptr) {
        void* next = *static_cast<void**>(chain);
        HeapFree(MainHeap, 0, chain);
        chain = next;
    }
}

}  // namespace rt
