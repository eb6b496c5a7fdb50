// Internal to the event library: the calling thread's queue section, the running of the bindings
// of one event, and the post window's start and end.
#pragma once

#include "events.h"

namespace rt {

// The calling thread's section; its record is made on the thread's first use.
inline EventThreadData* EventThreadSection() {
    return static_cast<EventThreadData*>(ThreadDataGet(EventThreadDataOffset));
}

// The init and free routines of the section: the thread's pool of entries.
void EventThreadInit(void* section);
void EventThreadFree(void* section);

// Whether any binding exists: with none, an event's five keys are neither formatted nor looked
// up, which is every event of a program that binds nothing.
inline bool EventBindingsInUse() {
    return EventBindings != nullptr && EventBindings->count != 0;
}

// Runs the bindings of one event under its five keys, most specific first. EventLock is held.
void EventBindingsDispatchAll(int32_t code, int64_t window, int64_t object, int64_t type);

#ifdef _WIN32
// The post window and its message: created first at library start, destroyed at library end.
void PostEventWindowStart();
void PostEventWindowEnd();
#endif

}  // namespace rt
