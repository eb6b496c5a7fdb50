// The per-thread event queue and the current event.
//
// Every operation acts on the calling thread's queue, kept in the event library's section of the
// per-thread record: a singly linked list from head (oldest) to tail, whose entries are slots of
// the thread's own unlocked pool. The pool is made when the thread first uses the section and
// deleted after the thread has ended, with whatever entries are still queued (their data is not
// released). EventLock is held while events are added, taken and peeked, so that bound callbacks,
// which may run on any thread, see one event at a time; the removals touch only the calling
// thread's queue and take no lock.
#include "events_internal.h"

namespace rt {

CRITICAL_SECTION EventLock;
int64_t EventThreadDataOffset = 0;

namespace {

constexpr int32_t MERGE_CODE_LIMIT = 0x10000;

bool Matches(int64_t pattern, int64_t value) {
    return pattern == -1 || pattern == value;
}

// Unlinks every entry for which `remove` holds, giving it back to the pool.
template <typename Predicate>
void QueueRemoveIf(Predicate remove) {
    EventThreadData* queue = EventThreadSection();
    EventEntry* kept = nullptr;  // the last entry kept so far
    EventEntry** link = &queue->head;
    while (EventEntry* entry = *link) {
        if (remove(*entry)) {
            *link = entry->next;
            PoolFree(queue->pool, entry);
        } else {
            kept = entry;
            link = &entry->next;
        }
    }
    queue->tail = kept;
}

}  // namespace

// The section's init routine: the pool of the thread's entries. One slot is taken and kept, so
// that the pool's first block is never handed back to the heap each time the queue runs empty.
void EventThreadInit(void* section) {
    auto* queue = static_cast<EventThreadData*>(section);
    queue->pool = PoolNew(sizeof(EventEntry), 16, 256, POOL_NO_LOCK);
    if (queue->pool != nullptr) {
        PoolAlloc(queue->pool);
    }
}

// The section's free routine, after the thread has ended.
void EventThreadFree(void* section) {
    auto* queue = static_cast<EventThreadData*>(section);
    if (queue->pool != nullptr) {
        PoolDelete(queue->pool);
    }
}

void EventQueueAdd(int32_t code, int64_t object, int64_t window, int64_t type, int64_t data,
                   EventRelease release, int32_t flags) {
    CriticalSectionLock guard(&EventLock);
    EventThreadData* queue = EventThreadSection();
    EventEntry* tail = queue->tail;
    bool deferred = (flags & EVENT_FLAG_DEFER_BINDINGS) != 0;
    // An event equal to the youngest one is already represented by it: the newcomer's data and
    // release function are dropped.
    bool merged = tail != nullptr && code < MERGE_CODE_LIMIT && !deferred && tail->code == code &&
                  tail->object == object && tail->window == window && tail->type == type;
    if (!merged) {
        auto* entry =
            queue->pool != nullptr ? static_cast<EventEntry*>(PoolAlloc(queue->pool)) : nullptr;
        if (entry == nullptr) {
            // No slot: the event is lost, and nothing else changes.
            return;
        }
        *entry = {nullptr, code, flags, object, window, type, data, release};
        if (tail != nullptr) {
            tail->next = entry;
        } else {
            queue->head = entry;
        }
        queue->tail = entry;
    }
    if (!deferred && EventBindingsInUse()) {
        // The callbacks read the event being added as the current one; the thread's own current
        // event is put back afterwards.
        CurrentEventRecord saved = queue->current;
        queue->current = {code, window, object, type, data, release};
        EventBindingsDispatchAll(code, window, object, type);
        queue->current = saved;
    }
}

int64_t EventQueueTake() {
    EventThreadData* queue = EventThreadSection();
    queue->current.code = 0;
    CriticalSectionLock guard(&EventLock);
    CurrentEventRecord& current = queue->current;
    if (current.data != 0 && current.release != nullptr) {
        // Cleared before the call, so that a release function that reaches the queue again
        // cannot release the same data twice.
        EventRelease release = current.release;
        int64_t data = current.data;
        current.data = 0;
        current.release = nullptr;
        release(data);
    }
    current.type = -1;
    if (EventEntry* head = queue->head) {
        current = {head->code, head->window, head->object, head->type, head->data, head->release};
        queue->head = head->next;
        if (queue->head == nullptr) {
            queue->tail = nullptr;
        }
        int32_t flags = head->flags;
        PoolFree(queue->pool, head);
        if ((flags & EVENT_FLAG_DEFER_BINDINGS) != 0 && EventBindingsInUse()) {
            EventBindingsDispatchAll(current.code, current.window, current.object, current.type);
        }
    }
    return current.code;
}

void EventQueueRemove(int64_t code, int64_t object, int64_t window, int64_t type) {
    // Codes are 32-bit: the pattern is compared as one.
    auto code32 = static_cast<int32_t>(code);
    QueueRemoveIf([&](const EventEntry& entry) {
        return Matches(code32, entry.code) && Matches(object, entry.object) &&
               Matches(window, entry.window) && Matches(type, entry.type);
    });
}

void EventQueueRemoveWindow(int64_t window) {
    QueueRemoveIf([&](const EventEntry& entry) { return entry.window == window; });
}

int64_t EventQueuePeek(int64_t* object, int64_t* window, int64_t* type) {
    CriticalSectionLock guard(&EventLock);
    const EventEntry* head = EventThreadSection()->head;
    if (head == nullptr) {
        return 0;
    }
    *object = head->object;
    *window = head->window;
    *type = head->type;
    return head->code;
}

int64_t EventQueuePeekCode() {
    CriticalSectionLock guard(&EventLock);
    const EventEntry* head = EventThreadSection()->head;
    return head != nullptr ? head->code : 0;
}

int64_t EventCurrentCode() {
    return EventThreadSection()->current.code;
}

int64_t EventGadgetId() {
    return EventThreadSection()->current.object;
}

int64_t EventWindowId() {
    return EventThreadSection()->current.window;
}

int64_t EventType() {
    return EventThreadSection()->current.type;
}

int64_t EventData() {
    return EventThreadSection()->current.data;
}

}  // namespace rt
