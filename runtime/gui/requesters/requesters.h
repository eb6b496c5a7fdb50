// The requester library: the system's modal open and save file dialogs, and the disabling of the
// calling thread's other windows while one of them is shown.
//
// Modal owner handling keeps one process-wide list of the windows it changed; every entry carries
// the id of the thread that made it, and each thread changes, restores and removes only its own
// entries. The list is guarded by a lock of its own, so threads may call RequesterModal at the
// same time.
#pragma once

#include <cstdint>

#include "../../core/core.h"

namespace rt {

// ---------------------------------------------------------------------------------------------
// Modal owner handling.

// One window that RequesterModal(1) recorded: the payload of a ModalWindowList node.
struct ModalWindowEntry {
    DWORD threadId;  // the thread that made the entry
    HWND window;
    BYTE wasTopmost;    // 1: the window had WS_EX_TOPMOST when recorded
    BYTE disabledHere;  // 1: RequesterModal(1) disabled the window
};
static_assert(sizeof(ModalWindowEntry) == 24, "an entry fills a 40-byte chain node");

// The windows recorded by RequesterModal(1) of every thread, newest first.
extern BlockChainNode* ModalWindowList;

// Non-zero: records every visible window of the calling thread, disables those that are enabled
// except the foreground window, and takes topmost windows out of the topmost band. Zero: undoes
// exactly that for the calling thread's entries and removes them.
void RequesterModal(int32_t on);
// The EnumWindows callback of RequesterModal(1): records one window of the calling thread.
// Always returns TRUE, so that every top-level window is visited.
BOOL CALLBACK ModalEnumProc(HWND window, LPARAM unused);

}  // namespace rt
