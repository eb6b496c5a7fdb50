// Per-thread data: the one record per thread in which every library that keeps per-thread state
// owns a section.
//
// The layout (slot, total size, section chain) is written by the registrations alone, during
// library start-up on the main thread, and only read afterwards, so no lock guards it. A thread
// reaches its record through its own value of the slot: ThreadDataGet takes no lock. A thread's
// record belongs to that thread until it ends; then the thread-exit service releases it on a system
// thread. The main thread's record grows with every registration and is never released: it goes
// with MainHeap.
//
// An allocation that fails here stops the process. Every library takes the address of its section
// on trust, and an address into a record that could not be made would corrupt memory far from the
// cause; a missing descriptor would silently skip a section's routines on every later thread.
#include "core.h"

namespace rt {

ThreadDataState ThreadDataLayout = {};

namespace {

// Calls the chosen routine of every section, newest section first, with its address in `record`.
void RunSectionRoutines(char* record, bool init) {
    for (BlockChainNode* node = ThreadDataLayout.sections; node != nullptr; node = node->next) {
        auto* section = static_cast<ThreadDataSection*>(BlockChainPayload(node));
        void (*routine)(void*) = init ? section->initRoutine : section->freeRoutine;
        if (routine != nullptr) {
            routine(record + section->offset);
        }
    }
}

}  // namespace

int64_t ThreadDataRegister(int32_t size, void (*initRoutine)(void*), void (*freeRoutine)(void*)) {
    ThreadDataState& layout = ThreadDataLayout;
    // Every section starts at a multiple of 8, so that the libraries may keep pointers in them.
    int64_t rounded = (static_cast<int64_t>(size) + 7) & ~int64_t{7};
    if (layout.totalSize == 0) {
        layout.tlsIndex = TlsAlloc();
        if (layout.tlsIndex == TLS_OUT_OF_INDEXES) {
            FatalStop(RT_TEXT("no TLS slot is left for the per-thread records"));
        }
        void* first = HeapAlloc(MainHeap, HEAP_ZERO_MEMORY, rounded);
        if (first == nullptr) {
            FatalStop(RT_TEXT("the main thread's record cannot be allocated"));
        }
        TlsSetValue(layout.tlsIndex, first);
    }
    int64_t offset = layout.totalSize;
    layout.totalSize += rounded;
    // The bytes added read as zero, as they do in every record made later.
    auto* record = static_cast<char*>(
        HeapReAlloc(MainHeap, HEAP_ZERO_MEMORY, TlsGetValue(layout.tlsIndex), layout.totalSize));
    if (record == nullptr) {
        FatalStop(RT_TEXT("the main thread's record cannot grow"));
    }
    TlsSetValue(layout.tlsIndex, record);

    if (initRoutine != nullptr || freeRoutine != nullptr) {
        auto* section = static_cast<ThreadDataSection*>(
            BlockChainAdd(&layout.sections, sizeof(BlockChainNode) + sizeof(ThreadDataSection)));
        if (section == nullptr) {
            FatalStop(RT_TEXT("a section descriptor cannot be allocated"));
        }
        *section = {offset, initRoutine, freeRoutine};
        // The main thread's record is made here, so its init routines run in registration order.
        if (initRoutine != nullptr) {
            initRoutine(record + offset);
        }
    }
    return offset;
}

void* ThreadDataGet(int64_t offset) {
    auto* record = static_cast<char*>(TlsSlotValue(ThreadDataLayout.tlsIndex));
    if (record == nullptr) {
        record =
            static_cast<char*>(HeapAlloc(MainHeap, HEAP_ZERO_MEMORY, ThreadDataLayout.totalSize));
        if (record == nullptr) {
            FatalStop(RT_TEXT("a thread's record cannot be allocated"));
        }
        // Stored before the init routines run, so that a routine reaching another section of its
        // thread finds this record instead of making a second one.
        TlsSetValue(ThreadDataLayout.tlsIndex, record);
        RunSectionRoutines(record, true);
        // If the clean-up cannot be queued the record stays until MainHeap goes: a leak, not a
        // fault, and the thread can still use its sections.
        ThreadExitRegister(ThreadDataRelease, record);
    }
    return record + offset;
}

void ThreadDataRelease(void* record) {
    // A null record has no sections: calling free routines with offsets as addresses would crash.
    if (record == nullptr) {
        return;
    }
    RunSectionRoutines(static_cast<char*>(record), false);
    HeapFree(MainHeap, 0, record);
}

void ThreadDataEnd() {
    if (ThreadDataLayout.totalSize != 0) {
        TlsFree(ThreadDataLayout.tlsIndex);
    }
}

}  // namespace rt
