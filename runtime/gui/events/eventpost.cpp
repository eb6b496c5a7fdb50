// The post window: a hidden window of the thread that started the event library, through which
// any thread hands it an event. The sender allocates a record from MainHeap, fills it and posts
// the registered message with the record's address; the window's procedure queues the event on
// its own thread and frees the record.
//
// The registered message number is the same in every process of the desktop, so a message of
// that number may come from elsewhere with an address that is not ours. The procedure therefore
// accepts only records that EventPost handed out and that have not been received yet: EventPost
// records each address in a set of its own, under a lock of its own, before posting it.
#include "events_internal.h"

namespace rt {

HWND PostEventWindow = nullptr;
UINT PostEventMessage = 0;

namespace {

constexpr const WCHAR* POST_CLASS_NAME = RT_TEXT("PostEventClass");
constexpr int32_t PENDING_BUCKETS = 256;

// The records posted and not yet received, keyed by address.
KeyedMap* pendingRecords = nullptr;
CRITICAL_SECTION pendingLock;

int64_t AddressKey(const void* record) {
    return static_cast<int64_t>(reinterpret_cast<intptr_t>(record));
}

// Records the address as posted; false when memory runs out.
bool PendingAdd(const PostedEventRecord* record) {
    CriticalSectionLock guard(&pendingLock);
    return pendingRecords != nullptr &&
           MapAddInteger(pendingRecords, AddressKey(record), 0) != nullptr;
}

// Forgets the address; whether it was one that EventPost had posted.
bool PendingRemove(const PostedEventRecord* record) {
    CriticalSectionLock guard(&pendingLock);
    if (pendingRecords == nullptr ||
        MapFindInteger(pendingRecords, AddressKey(record)) == nullptr) {
        return false;
    }
    MapDeleteCurrent(pendingRecords);
    return true;
}

}  // namespace

void PostEventWindowStart() {
    WNDCLASSW windowClass = {};
    windowClass.style = CS_DBLCLKS;
    windowClass.lpfnWndProc = PostEventWindowProc;
    windowClass.hInstance = ModuleHandle;
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<intptr_t>(COLOR_BTNFACE + 1));
    windowClass.lpszClassName = POST_CLASS_NAME;
    RegisterClassW(&windowClass);
    InitializeCriticalSection(&pendingLock);
    if (MapCreate(1, 0, nullptr, &pendingRecords, PENDING_BUCKETS) != nullptr) {
        pendingRecords->flags |= MAP_INTEGER_KEYS;
    }
    PostEventWindow = CreateWindowExW(0, POST_CLASS_NAME, nullptr, WS_CAPTION, 0, 0, 1, 1, nullptr,
                                      nullptr, ModuleHandle, nullptr);
    PostEventMessage = RegisterWindowMessageW(RT_TEXT("RT_PostEventMessage"));
}

void PostEventWindowEnd() {
    DestroyWindow(PostEventWindow);
    PostEventWindow = nullptr;
    UnregisterClassW(POST_CLASS_NAME, ModuleHandle);
}

LRESULT CALLBACK PostEventWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == PostEventMessage && PostEventMessage != 0) {
        auto* record = reinterpret_cast<PostedEventRecord*>(lParam);
        if (PendingRemove(record)) {
            EventQueueAdd(record->code, record->object, record->window, record->type, record->data,
                          nullptr, EVENT_FLAG_POSTED);
            HeapFree(MainHeap, 0, record);
        }
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

int64_t EventPost(int32_t code, int64_t object, int64_t window, int64_t type, int64_t data) {
    if (PostEventWindow == nullptr) {
        return 0;
    }
    MainHeapBlock<PostedEventRecord> record(
        static_cast<PostedEventRecord*>(HeapAlloc(MainHeap, 0, sizeof(PostedEventRecord))));
    if (record == nullptr) {
        return 0;
    }
    *record = {code, object, window, type, data};
    if (!PendingAdd(record.get())) {
        return 0;
    }
    if (!PostMessageW(PostEventWindow, PostEventMessage, 0,
                      reinterpret_cast<LPARAM>(record.get()))) {
        PendingRemove(record.get());
        return 0;
    }
    // The post window's procedure frees the record once it has queued the event.
    record.release();
    return 1;
}

}  // namespace rt
