// The event library: the per-thread event queue with its current event, the process-wide event
// lock, the bindings of callbacks to events, and the post window through which any thread hands an
// event to the thread that started the library.
//
// Queues are per thread: every queue operation acts on the calling thread's queue and current
// event, kept in the library's section of the per-thread record. Entries come from the thread's own
// pool (no lock); if no slot can be had, the event is dropped and the queue stays as it was.
// EventLock is one re-entrant critical section for the process: adding, taking and peeking hold it,
// bound callbacks run under it (so a callback may add events), and EventBindingsRemoveWindow takes
// it too, since any thread may own windows. The bindings map is shared by all threads.
//
// The queue and the bindings need no window system and build on every platform; the post window
// and EventPost exist on Windows only.
#pragma once

#include <cstdint>

#include "../../containers/containers.h"
#include "../../core/core.h"

namespace rt {

// ---------------------------------------------------------------------------------------------
// Event codes. Any other non-zero value that the event wait returns is a system message number.

constexpr int32_t EVENT_GADGET = 13100;
constexpr int32_t EVENT_MENU = 13101;
constexpr int32_t EVENT_WINDOW_ACTIVATED = 13104;
constexpr int32_t EVENT_WINDOW_MINIMIZED = 13107;
constexpr int32_t EVENT_WINDOW_MAXIMIZED = 13108;
constexpr int32_t EVENT_WINDOW_RESTORED = 13109;
constexpr int32_t EVENT_TIMER = 13110;
constexpr int32_t EVENT_RIGHT_CLICK = 13111;
constexpr int32_t EVENT_LEFT_CLICK = 13112;
constexpr int32_t EVENT_LEFT_DOUBLE_CLICK = 13113;
constexpr int32_t EVENT_WINDOW_DEACTIVATED = 13114;
constexpr int32_t EVENT_REPAINT = 13115;
constexpr int32_t EVENT_CLOSE_WINDOW = 13116;
constexpr int32_t EVENT_WINDOW_MOVED = 13117;
constexpr int32_t EVENT_WINDOW_SIZED = 13118;

// Entry flags.
constexpr int32_t EVENT_FLAG_POSTED = 1;          // arrived through the post window
constexpr int32_t EVENT_FLAG_DEFER_BINDINGS = 2;  // bindings run at take time; never merged

// Called with an event's data when the event stops being current.
using EventRelease = void (*)(int64_t data);

// One queued event, a slot of the thread's pool.
struct EventEntry {
    EventEntry* next;  // the next younger entry; null for the tail
    int32_t code;
    int32_t flags;
    int64_t object;
    int64_t window;
    int64_t type;
    int64_t data;
    EventRelease release;
};
static_assert(sizeof(EventEntry) == 56 && offsetof(EventEntry, object) == 16 &&
              offsetof(EventEntry, release) == 48);

// The event taken last on a thread.
struct CurrentEventRecord {
    int32_t code;
    int64_t window;
    int64_t object;
    int64_t type;
    int64_t data;
    EventRelease release;
};

// The event library's section of the per-thread record, zero-filled when a thread first uses it.
struct EventThreadData {
    BlockPool* pool;   // EventEntry slots, POOL_NO_LOCK
    EventEntry* head;  // oldest
    EventEntry* tail;
    CurrentEventRecord current;
};
static_assert(sizeof(EventThreadData) == 72 && offsetof(EventThreadData, current) == 24);

extern CRITICAL_SECTION EventLock;
// Where the EventThreadData section lies in the per-thread record.
extern int64_t EventThreadDataOffset;

void EventLibraryStart();
void EventLibraryEnd();

// Appends an event to the calling thread's queue (or merges it into an equal tail) and runs its
// bindings, unless flags hold EVENT_FLAG_DEFER_BINDINGS.
void EventQueueAdd(int32_t code, int64_t object, int64_t window, int64_t type, int64_t data = 0,
                   EventRelease release = nullptr, int32_t flags = 0);
// Releases the previous current event's data, makes the oldest queued event current and returns
// its code; 0 when the queue is empty.
int64_t EventQueueTake();
// Removes every entry that matches; -1 in any argument matches every value.
void EventQueueRemove(int64_t code, int64_t object, int64_t window, int64_t type);
void EventQueueRemoveWindow(int64_t window);
// The oldest entry's code with its object, window and type written out; 0 and nothing written
// when the queue is empty.
int64_t EventQueuePeek(int64_t* object, int64_t* window, int64_t* type);
int64_t EventQueuePeekCode();

// The calling thread's current event.
int64_t EventCurrentCode();
int64_t EventGadgetId();
int64_t EventWindowId();
int64_t EventType();
int64_t EventData();

// ---------------------------------------------------------------------------------------------
// Event bindings.

using BindingCallback = void (*)();

struct BindingNode {
    BindingNode* next;
    BindingCallback callback;
    uint8_t active;  // 0: unbound, freed by the next dispatch of its key
};

// The value of a bindings entry.
struct BindingEntry {
    BindingNode* first;
    int64_t window;
};
static_assert(sizeof(BindingEntry) == 16);

// The process-wide map from keys "code:window:object:type" to binding lists.
extern KeyedMap* EventBindings;

// Runs the active callbacks bound under the key, then frees unbound nodes (and the entry when its
// list runs empty). Called under EventLock.
void EventBindingsDispatch(int32_t code, int64_t window, int64_t object, int64_t type);
// Deletes every entry that belongs to the window.
void EventBindingsRemoveWindow(int64_t window);
// Binds a callback to events that match; -1 in window, object or type matches every value. 1, or
// 0 when memory runs out (nothing changed).
int64_t EventBind(int32_t code, int64_t window, int64_t object, int64_t type,
                  BindingCallback callback);
// Marks the active nodes of `callback` under exactly that key as unbound; the number marked.
int64_t EventUnbind(int32_t code, int64_t window, int64_t object, int64_t type,
                    BindingCallback callback);

#ifdef _WIN32
// ---------------------------------------------------------------------------------------------
// The post window: events handed over from any thread to the thread that started the library.

struct PostedEventRecord {
    int32_t code;
    int64_t object;
    int64_t window;
    int64_t type;
    int64_t data;
};
static_assert(sizeof(PostedEventRecord) == 40);

extern HWND PostEventWindow;
// RegisterWindowMessageW("RT_PostEventMessage").
extern UINT PostEventMessage;

LRESULT CALLBACK PostEventWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Hands an event to the post window's thread, from any thread: 1, or 0 when the record could not
// be allocated or posted (it is then freed).
int64_t EventPost(int32_t code, int64_t object, int64_t window, int64_t type, int64_t data);
#endif

}  // namespace rt
