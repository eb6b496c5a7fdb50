// The event wait: the one call through which a program's loop receives events. Runtime events
// queued on the calling thread come out first, one per call, oldest first; only when none is queued
// is one system message fetched, run through the active window's accelerators and dispatched.
//
// It keeps no state between calls beyond the thread's event queue and current event, and must be
// called on the thread that owns the windows, since messages and queues belong to that thread.
#include "window_internal.h"

namespace rt {

namespace {

constexpr UINT EVENT_WAIT_PEEK = PM_REMOVE | PM_NOYIELD;
constexpr DWORD EVENT_WAIT_WAKE = QS_ALLINPUT | QS_ALLPOSTMESSAGE;

// One message for any window of the thread or for the thread itself; false when none came.
bool EventWaitFetch(MSG* message, int32_t timeout) {
    if (timeout == -1) {
        // WM_QUIT is fetched like any other message; only a failed call counts as nothing.
        return GetMessageW(message, nullptr, 0, 0) != -1;
    }
    if (PeekMessageW(message, nullptr, 0, 0, EVENT_WAIT_PEEK)) {
        return true;
    }
    if (timeout == 0) {
        return false;
    }
    // The wake-up may be for a message sent from another thread, which PeekMessageW handles
    // itself; the rest of the time-out is not waited for again.
    if (MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(timeout),
                                  EVENT_WAIT_WAKE) == WAIT_TIMEOUT) {
        return false;
    }
    return PeekMessageW(message, nullptr, 0, 0, EVENT_WAIT_PEEK) != 0;
}

}  // namespace

int64_t EventWait(int32_t timeout) {
    if (int64_t code = EventQueueTake()) {
        return code;
    }
    MSG message = {};
    if (!EventWaitFetch(&message, timeout)) {
        return 0;
    }
    HWND active = GetActiveWindow();
    HACCEL table = ActiveAccelerators(active);
    if (table != nullptr && TranslateAcceleratorW(active, table, &message)) {
        // The command has been sent to the active window; the key is neither translated nor
        // dispatched.
        KeyboardCues(active, true);
    } else {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int32_t>(message.message);
}

}  // namespace rt
