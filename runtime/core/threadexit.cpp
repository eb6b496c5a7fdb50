// The thread-exit service: clean-up routines that run after the thread that queued them has ended.
//
// Each thread that queues a routine gets a context, found through the service's TLS slot, that
// holds its items and a real handle to the thread. A wait registered on that handle calls
// ThreadExitWaitCallback on a system thread once the thread has ended; the routines then run there,
// newest first, and touch only the ended thread's memory. Items are written only by their own
// thread while it runs and read only after it has ended, so they need no lock; the chain of live
// contexts is shared and every insertion and removal holds the service lock.
//
// The service starts (slot, lock) on the first ThreadExitRegister of the process, through OnceRun,
// so that two threads arriving first at the same moment cannot make two slots or initialise the
// lock twice. It has no end: its slot and lock last as long as the process, and the items of
// threads still running when the process ends never run; their memory goes with MainHeap.
#include "core.h"

namespace rt {

ThreadExitState ThreadExitService = {};

namespace {

void ThreadExitStart() {
    ThreadExitService.tlsIndex = TlsAlloc();
    InitializeCriticalSection(&ThreadExitService.lock);
    __atomic_store_n(&ThreadExitService.started, 1, __ATOMIC_RELEASE);
}

// The chain of live contexts is shared by every thread: both changes hold the service lock.
void ContextLink(ThreadExitContext* context) {
    CriticalSectionLock guard(&ThreadExitService.lock);
    context->next = ThreadExitService.contexts;
    if (context->next != nullptr) {
        context->next->previous = context;
    }
    ThreadExitService.contexts = context;
}

void ContextUnlink(ThreadExitContext* context) {
    CriticalSectionLock guard(&ThreadExitService.lock);
    if (context->previous == nullptr) {
        ThreadExitService.contexts = context->next;
    } else {
        context->previous->next = context->next;
    }
    if (context->next != nullptr) {
        context->next->previous = context->previous;
    }
}

// Makes the calling thread's context and links it at the head of the chain; null when it cannot be
// allocated. The wait is registered before the first item is queued; that is safe because the
// callback cannot run before this very thread has ended.
ThreadExitContext* ThreadExitContextNew() {
    auto* context = static_cast<ThreadExitContext*>(
        HeapAlloc(MainHeap, HEAP_ZERO_MEMORY, sizeof(ThreadExitContext)));
    if (context == nullptr) {
        return nullptr;
    }
    ContextLink(context);

    // If either call fails the clean-up of this thread simply never runs; the thread goes on.
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(),
                    &context->threadHandle, SYNCHRONIZE, FALSE, 0);
    RegisterWaitForSingleObject(&context->waitHandle, context->threadHandle, ThreadExitWaitCallback,
                                context, INFINITE, WT_EXECUTEONLYONCE);
    TlsSetValue(ThreadExitService.tlsIndex, context);
    return context;
}

}  // namespace

void* ThreadExitRegister(void (*routine)(void*), void* argument) {
    // The flag spares every later call the system look-up that OnceRun makes.
    if (__atomic_load_n(&ThreadExitService.started, __ATOMIC_ACQUIRE) == 0) {
        OnceRun(&ThreadExitService.startOnce, ThreadExitStart);
    }
    auto* context = static_cast<ThreadExitContext*>(TlsGetValue(ThreadExitService.tlsIndex));
    if (context == nullptr) {
        context = ThreadExitContextNew();
        if (context == nullptr) {
            return nullptr;
        }
    }
    auto* item = static_cast<ThreadExitItem*>(HeapAlloc(MainHeap, 0, sizeof(ThreadExitItem)));
    if (item == nullptr) {
        return nullptr;
    }
    *item = {context->items, routine, argument};
    context->items = item;
    return item;
}

void CALLBACK ThreadExitWaitCallback(PVOID context, BOOLEAN timedOut) {
    if (!timedOut) {
        ThreadExitRun(static_cast<ThreadExitContext*>(context));
    }
}

void ThreadExitRun(ThreadExitContext* context) {
    UnregisterWait(context->waitHandle);
    CloseHandle(context->threadHandle);

    ContextUnlink(context);

    // Outside the lock: a routine may take locks of its own, and other threads may queue meanwhile.
    for (ThreadExitItem* item = context->items; item != nullptr;) {
        ThreadExitItem* next = item->next;
        item->routine(item->argument);
        HeapFree(MainHeap, 0, item);
        item = next;
    }
    HeapFree(MainHeap, 0, context);
}

}  // namespace rt
