// The event library's start and end. Both run once, on the main thread: the start before the
// window library starts, the end after the files have been closed.
#include "events_internal.h"

namespace rt {

void EventLibraryStart() {
#ifdef _WIN32
    // First, so that events can be posted to this thread from the moment the library exists.
    PostEventWindowStart();
#endif
    // The section's init routine runs at once for this thread: its pool exists before any event.
    EventThreadDataOffset =
        ThreadDataRegister(sizeof(EventThreadData), EventThreadInit, EventThreadFree);
    MapCreate(sizeof(BindingEntry), 7, nullptr, &EventBindings, 1024);
    InitializeCriticalSection(&EventLock);
}

void EventLibraryEnd() {
#ifdef _WIN32
    PostEventWindowEnd();
#endif
    // The lock and the bindings stay: a thread still running may use them until the process ends,
    // and their memory goes with MainHeap.
}

}  // namespace rt
