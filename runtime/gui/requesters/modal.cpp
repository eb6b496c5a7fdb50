// Modal owner handling: while a file dialog is up, the calling thread's other windows are disabled
// and none of them stays in the topmost band.
//
// ModalWindowList is shared by the process; each entry names its thread, and a thread restores and
// removes only its own entries, so that dialogs shown on two threads do not undo each other's
// changes. A lock of the list's own (created on first use) keeps its links consistent when threads
// record and restore at the same time. The lock is held across EnumWindows; that is safe because
// the calls made under it only reach windows of the calling thread, whose window procedures run
// on that same thread and may re-enter (the lock is re-entrant).
#include "requesters.h"

namespace rt {

BlockChainNode* ModalWindowList = nullptr;

namespace {

constexpr int32_t MODAL_NODE_SIZE = sizeof(BlockChainNode) + sizeof(ModalWindowEntry);

OnceFlag modalLockOnce;
CRITICAL_SECTION modalLock;

void ModalLockCreate() {
    InitializeCriticalSection(&modalLock);
}

ModalWindowEntry* ModalEntryOf(BlockChainNode* node) {
    return static_cast<ModalWindowEntry*>(BlockChainPayload(node));
}

}  // namespace

BOOL CALLBACK ModalEnumProc(HWND window, LPARAM) {
    if (GetWindowThreadProcessId(window, nullptr) != GetCurrentThreadId() ||
        !IsWindowVisible(window)) {
        return TRUE;
    }
    auto* entry = static_cast<ModalWindowEntry*>(BlockChainAdd(&ModalWindowList, MODAL_NODE_SIZE));
    if (entry == nullptr) {
        // Without an entry the window could not be restored, so it is not changed either.
        return TRUE;
    }
    entry->threadId = GetCurrentThreadId();
    entry->window = window;
    if (GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) {
        entry->wasTopmost = 1;
    }
    // The foreground window stays enabled: it owns the dialog when it is one of the program's.
    if (window != GetForegroundWindow() && IsWindowEnabled(window)) {
        entry->disabledHere = 1;
        EnableWindow(window, FALSE);
    }
    return TRUE;
}

void RequesterModal(int32_t on) {
    OnceRun(&modalLockOnce, ModalLockCreate);
    CriticalSectionLock guard(&modalLock);
    DWORD thread = GetCurrentThreadId();
    if (on != 0) {
        EnumWindows(ModalEnumProc, 1);
        // Lowered only after every window is recorded, so that the changed z-order cannot make
        // the enumeration visit a window twice or miss one.
        for (BlockChainNode* node = ModalWindowList; node != nullptr; node = node->next) {
            ModalWindowEntry* entry = ModalEntryOf(node);
            if (entry->threadId == thread && entry->wasTopmost) {
                SetWindowPos(entry->window, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
            }
        }
        return;
    }
    BlockChainNode* next = nullptr;
    for (BlockChainNode* node = ModalWindowList; node != nullptr; node = next) {
        next = node->next;
        ModalWindowEntry* entry = ModalEntryOf(node);
        if (entry->threadId != thread) {
            continue;
        }
        if (entry->disabledHere) {
            EnableWindow(entry->window, TRUE);
        }
        if (entry->wasTopmost) {
            SetWindowPos(entry->window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
        }
        BlockChainRemove(&ModalWindowList, entry);
    }
}

}  // namespace rt
