// The requester library: the system's modal open and save file dialogs, and the disabling of the
// calling thread's other windows while one of them is shown.
//
// The file requester's state (result buffers, the pending multi-file selection) is one set for the
// process and takes no lock: dialogs are shown from one thread at a time. Operations that return a
// string deliver it through the calling thread's string builder at the position passed as their
// last argument, and return its address.
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

// ---------------------------------------------------------------------------------------------
// File requester.

// Flag of RequestOpenFileEx: several files may be chosen.
constexpr int32_t REQUEST_MULTISELECT = 1;

// Starts the common controls and COM for the dialogs; the last of the libraries' start routines.
void RequesterLibraryStart();

// Single-file open dialog: the chosen full path, or the empty string when the dialog was
// cancelled or could not be shown. `pattern` is a "|"-separated list of description and pattern
// pairs (null counts as empty); `position` is the zero-based pair shown first. A default file is
// split at its last backslash into the initial directory and the initial name.
WCHAR* RequestOpenFile(const WCHAR* title, const WCHAR* defaultFile, const WCHAR* pattern,
                       int32_t position, int32_t resultPosition);
// Open dialog; with REQUEST_MULTISELECT several files may be chosen, and the first of them is
// returned as a full path. Other flag bits are ignored.
WCHAR* RequestOpenFileEx(const WCHAR* title, const WCHAR* defaultFile, const WCHAR* pattern,
                         int32_t position, int32_t flags, int32_t resultPosition);
// Single-file save dialog. It leaves a pending multi-file selection alone.
WCHAR* RequestSaveFile(const WCHAR* title, const WCHAR* defaultFile, const WCHAR* pattern,
                       int32_t position, int32_t resultPosition);
// The next full path of the last multi-file selection, or the empty string when there is none;
// the call that finds the end releases the selection.
WCHAR* RequestNextFile(int32_t resultPosition);
// The common body of the dialog operations: an open dialog for save 0, a save dialog for save 1.
WCHAR* FileRequester(const WCHAR* title, const WCHAR* defaultFile, const WCHAR* pattern,
                     int32_t position, int32_t save, int32_t flags, int32_t resultPosition);
// The owner of every dialog: the foreground window when it belongs to this process, else null.
HWND RequesterOwnerWindow();

}  // namespace rt
