// Event bindings: callbacks attached to a combination of event code, window, object and type.
//
// One process-wide keyed map holds them: the key is "code:window:object:type" (-1 standing for any
// value), the value the first node of the entry's list and the window it belongs to. Callbacks run
// in list order on the thread that adds or takes the event, with EventLock held; every operation
// here holds EventLock, so the map and the lists are touched by one thread at a time.
//
// A callback may bind, unbind, add events (which dispatches again, inside the running dispatch) or
// close windows (which deletes their entries). Nodes are therefore never freed while a dispatch
// may be walking them: unbinding only clears a node's flag; the outermost dispatch of a key frees
// the unbound nodes of that key after its walk; the nodes of an entry deleted while a dispatch
// runs wait on a list of their own until the outermost dispatch ends.
#include "../../strings/strings.h"
#include "events_internal.h"

namespace rt {

KeyedMap* EventBindings = nullptr;

namespace {

// "%d:%I64d:%I64d:%I64d" of the largest values, with room to spare.
constexpr int KEY_UNITS = 96;

struct BindingKey {
    WCHAR text[KEY_UNITS];

    BindingKey(int32_t code, int64_t window, int64_t object, int64_t type) {
        FormatString(text, RT_TEXT("%d:%I64d:%I64d:%I64d"), code, window, object, type);
    }
};

int32_t dispatchDepth = 0;             // dispatches running, nested ones included
BindingNode* orphanedNodes = nullptr;  // nodes of entries deleted while a dispatch ran

void FreeNodes(BindingNode* node) {
    while (node != nullptr) {
        BindingNode* next = node->next;
        HeapFree(MainHeap, 0, node);
        node = next;
    }
}

// Deletes the map's current entry, which `entry` is the value of. Its nodes are freed at once
// when no dispatch can be walking them, and otherwise kept until the outermost dispatch ends.
void EntryDelete(BindingEntry* entry) {
    BindingNode* nodes = entry->first;
    MapDeleteCurrent(EventBindings);
    if (dispatchDepth == 0) {
        FreeNodes(nodes);
        return;
    }
    for (BindingNode* node = nodes; node != nullptr; node = node->next) {
        node->active = 0;
        if (node->next == nullptr) {
            node->next = orphanedNodes;
            orphanedNodes = nodes;
            break;
        }
    }
}

// Unlinks and frees the unbound nodes of the entry that is the map's current element; deletes the
// entry when its list runs empty.
void EntrySweep(BindingEntry* entry) {
    BindingNode** link = &entry->first;
    while (BindingNode* node = *link) {
        if (node->active == 0) {
            *link = node->next;
            HeapFree(MainHeap, 0, node);
        } else {
            link = &node->next;
        }
    }
    if (entry->first == nullptr) {
        MapDeleteCurrent(EventBindings);
    }
}

}  // namespace

void EventBindingsDispatch(int32_t code, int64_t window, int64_t object, int64_t type) {
    CriticalSectionLock guard(&EventLock);
    if (EventBindings == nullptr) {
        return;
    }
    BindingKey key(code, window, object, type);
    auto* entry = static_cast<BindingEntry*>(MapFind(EventBindings, key.text));
    if (entry == nullptr || entry->first == nullptr) {
        return;
    }
    // Nodes bound by the callbacks of this pass join the list after `last` and wait for the next
    // event, so that a callback that binds another cannot keep the pass going.
    BindingNode* last = entry->first;
    while (last->next != nullptr) {
        last = last->next;
    }
    ++dispatchDepth;
    bool sawUnbound = false;
    for (BindingNode* node = entry->first;; node = node->next) {
        if (node->active != 0) {
            node->callback();
        }
        sawUnbound = sawUnbound || node->active == 0;
        if (node == last) {
            break;
        }
    }
    --dispatchDepth;
    if (dispatchDepth == 0) {
        FreeNodes(orphanedNodes);
        orphanedNodes = nullptr;
    }
    // The callbacks may have moved the map's current element, or deleted this entry with its
    // window: the entry is looked up again before it is swept.
    if (sawUnbound && dispatchDepth == 0) {
        if (auto* current = static_cast<BindingEntry*>(MapFind(EventBindings, key.text))) {
            EntrySweep(current);
        }
    }
}

void EventBindingsDispatchAll(int32_t code, int64_t window, int64_t object, int64_t type) {
    EventBindingsDispatch(code, window, object, type);
    EventBindingsDispatch(code, window, object, -1);
    EventBindingsDispatch(code, window, -1, -1);
    EventBindingsDispatch(code, -1, -1, -1);
    EventBindingsDispatch(code, -1, object, type);
}

void EventBindingsRemoveWindow(int64_t window) {
    CriticalSectionLock guard(&EventLock);
    if (EventBindings == nullptr) {
        return;
    }
    MapResetIteration(EventBindings);
    while (auto* entry = static_cast<BindingEntry*>(MapNext(EventBindings))) {
        if (entry->window == window) {
            EntryDelete(entry);
        }
    }
}

int64_t EventBind(int32_t code, int64_t window, int64_t object, int64_t type,
                  BindingCallback callback) {
    CriticalSectionLock guard(&EventLock);
    if (EventBindings == nullptr || callback == nullptr) {
        return 0;
    }
    BindingKey key(code, window, object, type);
    auto* entry = static_cast<BindingEntry*>(MapFind(EventBindings, key.text));
    bool made = entry == nullptr;
    if (made) {
        entry = static_cast<BindingEntry*>(MapAdd(EventBindings, key.text, 0));
        if (entry == nullptr) {
            return 0;
        }
        entry->window = window;
    }
    auto* node =
        static_cast<BindingNode*>(HeapAlloc(MainHeap, HEAP_ZERO_MEMORY, sizeof(BindingNode)));
    if (node == nullptr) {
        if (made) {
            MapDeleteCurrent(EventBindings);  // the entry MapAdd just made current
        }
        return 0;
    }
    node->callback = callback;
    node->active = 1;
    // Appended, so that callbacks run in the order they were bound.
    BindingNode** link = &entry->first;
    while (*link != nullptr) {
        link = &(*link)->next;
    }
    *link = node;
    return 1;
}

int64_t EventUnbind(int32_t code, int64_t window, int64_t object, int64_t type,
                    BindingCallback callback) {
    CriticalSectionLock guard(&EventLock);
    if (EventBindings == nullptr) {
        return 0;
    }
    BindingKey key(code, window, object, type);
    auto* entry = static_cast<BindingEntry*>(MapFind(EventBindings, key.text));
    int64_t marked = 0;
    for (BindingNode* node = entry != nullptr ? entry->first : nullptr; node != nullptr;
         node = node->next) {
        if (node->active != 0 && node->callback == callback) {
            node->active = 0;
            ++marked;
        }
    }
    return marked;
}

}  // namespace rt
