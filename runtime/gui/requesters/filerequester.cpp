// The file requester: the system's open and save dialogs, with the chosen path handed back through
// the calling thread's string builder.
//
// The requester state (the result buffers, the pending multi-file selection and its read position)
// is one set for the whole process and takes no lock: dialogs are shown from one thread at a time,
// which in the utility is its main thread. The result buffers come from MainHeap. Every read of a
// buffer that the dialog filled is bounded by the buffer's length, the selection's directory is
// read where the dialog left it rather than copied, and every result is delivered whole: no buffer
// is overrun and no path is cut, whatever the dialog returns.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <string_view>

#include "../../files/files.h"
#include "../../strings/strings.h"
#include "requesters.h"

namespace rt {

namespace {

constexpr int64_t SINGLE_FILE_UNITS = MAX_PATH;
constexpr int64_t MULTI_FILE_UNITS = 512000;
// Room reserved in the builder for a result: a longer one gets what it needs.
constexpr int64_t RESULT_ROOM_UNITS = MAX_PATH;

constexpr DWORD SINGLE_FILE_FLAGS =
    OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST | OFN_EXPLORER;
constexpr DWORD MULTI_FILE_FLAGS = SINGLE_FILE_FLAGS | OFN_ALLOWMULTISELECT;
static_assert(SINGLE_FILE_FLAGS == 0x8080C && MULTI_FILE_FLAGS == 0x80A0C);

// The structure as the system has always accepted it, without the trailing reserved members.
constexpr DWORD DIALOG_STRUCTURE_SIZE =
    offsetof(OPENFILENAMEW, lpTemplateName) + sizeof(OPENFILENAMEW::lpTemplateName);
static_assert(DIALOG_STRUCTURE_SIZE == 136);

struct RequesterState {
    WCHAR* singleBuffer;   // the path of the last single-file dialog
    WCHAR* multiBuffer;    // the names of the last multi-file dialog, while a selection is pending
    int32_t readPosition;  // the next name in multiBuffer for RequestNextFile; 0: none pending
    // The directory of the pending selection is the first string of multiBuffer, which lives
    // exactly as long as the selection; a separator is put after it unless it ends in one.
    int64_t directoryUnits;
    bool directorySeparator;
};

RequesterState requester;

void BlockFree(WCHAR** block) {
    if (*block != nullptr) {
        HeapFree(MainHeap, 0, *block);
        *block = nullptr;
    }
}

WCHAR* UnitsAlloc(int64_t units) {
    return static_cast<WCHAR*>(HeapAlloc(MainHeap, HEAP_ZERO_MEMORY, units * sizeof(WCHAR)));
}

// Ends the pending selection and releases its buffer.
void SelectionEnd() {
    BlockFree(&requester.multiBuffer);
    requester.readPosition = 0;
    requester.directoryUnits = 0;
}

// The length of the string at `start`, not counting anything at or beyond `limit`.
int64_t BoundedLength(const WCHAR* buffer, int64_t start, int64_t limit) {
    int64_t end = start;
    while (end < limit && buffer[end] != 0) {
        ++end;
    }
    return end - start;
}

using Piece = std::basic_string_view<WCHAR>;

// Delivers the pieces, joined, at `resultPosition` as the operation's result. Room for a path is
// reserved as for any result whose length is not known in advance; a longer result gets the room
// it needs.
WCHAR* DeliverResult(std::initializer_list<Piece> pieces, int32_t resultPosition) {
    int64_t units = 0;
    for (Piece piece : pieces) {
        units += static_cast<int64_t>(piece.size());
    }
    int64_t room = std::max(RESULT_ROOM_UNITS, units + 1);
    WCHAR* result = StringBuilderReserve(room, resultPosition);
    WCHAR* end = result;
    for (Piece piece : pieces) {
        end = std::copy(piece.begin(), piece.end(), end);
    }
    *end = 0;
    StringBuilderUnreserve(room - units);
    return result;
}

// The name of the pending selection at `at`, joined to the selection's directory.
WCHAR* DeliverSelected(int64_t at, int64_t nameUnits, int32_t resultPosition) {
    const WCHAR* names = requester.multiBuffer;
    return DeliverResult({Piece(names, requester.directoryUnits),
                          requester.directorySeparator ? Piece(RT_TEXT("\\")) : Piece(),
                          Piece(names + at, nameUnits)},
                         resultPosition);
}

// The zero-separated, double-zero-terminated filter list of a pattern of "|"-separated items.
WCHAR* FilterListCreate(const WCHAR* pattern) {
    int64_t length = pattern == nullptr ? 0 : wcslen(pattern);
    WCHAR* list = UnitsAlloc(length + 3);
    if (list == nullptr) {
        return nullptr;
    }
    for (int64_t i = 0; i < length; ++i) {
        list[i] = pattern[i] == '|' ? 0 : pattern[i];
    }
    return list;
}

// Splits a default file at its last backslash into the initial directory (returned, a MainHeap
// block; empty when there is no directory) and the initial name, which goes into `nameBuffer`
// when it is a valid file name. Null when the block cannot be allocated.
WCHAR* DefaultFileSplit(const WCHAR* defaultFile, WCHAR* nameBuffer, int64_t nameUnits) {
    int64_t length = wcslen(defaultFile);
    WCHAR* directory = UnitsAlloc(length + 2);
    if (directory == nullptr) {
        return nullptr;
    }
    std::memcpy(directory, defaultFile, length * sizeof(WCHAR));
    int64_t separator = length - 1;
    while (separator >= 0 && defaultFile[separator] != '\\') {
        --separator;
    }
    // A backslash that is the first character does not make a directory: the whole text is taken
    // as the name, which the validity test below then rejects.
    const WCHAR* name = defaultFile;
    if (separator >= 1) {
        directory[separator] = 0;
        name = defaultFile + separator + 1;
    } else {
        directory[0] = 0;
    }
    int64_t units = BoundedLength(name, 0, nameUnits - 1);
    std::memcpy(nameBuffer, name, units * sizeof(WCHAR));
    nameBuffer[units] = 0;
    // A wildcard pattern after the directory opens the dialog there with an empty name field.
    if (!IsValidFileName(nameBuffer)) {
        nameBuffer[0] = 0;
    }
    return directory;
}

}  // namespace

void RequesterLibraryStart() {
    INITCOMMONCONTROLSEX controls = {};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_TAB_CLASSES | ICC_HOTKEY_CLASS | ICC_DATE_CLASSES | ICC_USEREX_CLASSES |
                     ICC_INTERNET_CLASSES;
    static_assert(sizeof(INITCOMMONCONTROLSEX) == 8);
    InitCommonControlsEx(&controls);
    CoInitialize(nullptr);
}

HWND RequesterOwnerWindow() {
    HWND window = GetForegroundWindow();
    if (window == nullptr) {
        return nullptr;
    }
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    return process == GetCurrentProcessId() ? window : nullptr;
}

WCHAR* FileRequester(const WCHAR* title, const WCHAR* defaultFile, const WCHAR* pattern,
                     int32_t position, int32_t save, int32_t flags, int32_t resultPosition) {
    StringBuilderEnsure();
    bool multi = (flags & REQUEST_MULTISELECT) != 0;
    // An open dialog discards a selection not yet read; a save dialog leaves it pending. A new
    // multi-file buffer always replaces the old one.
    if (save == 0 || multi) {
        SelectionEnd();
    }
    BlockFree(&requester.singleBuffer);

    WCHAR** buffer = multi ? &requester.multiBuffer : &requester.singleBuffer;
    int64_t bufferUnits = multi ? MULTI_FILE_UNITS : SINGLE_FILE_UNITS;
    *buffer = UnitsAlloc(bufferUnits);
    if (*buffer == nullptr) {
        return DeliverResult({}, resultPosition);
    }
    MainHeapBlock<WCHAR> filter(FilterListCreate(pattern));
    if (filter == nullptr) {
        return DeliverResult({}, resultPosition);
    }
    MainHeapBlock<WCHAR> initialDirectory;
    if (defaultFile != nullptr && defaultFile[0] != 0) {
        initialDirectory.reset(DefaultFileSplit(defaultFile, *buffer, bufferUnits));
        if (initialDirectory == nullptr) {
            return DeliverResult({}, resultPosition);
        }
    }

    OPENFILENAMEW dialog = {};
    dialog.lStructSize = DIALOG_STRUCTURE_SIZE;
    dialog.hwndOwner = RequesterOwnerWindow();
    dialog.lpstrFilter = filter.get();
    dialog.nFilterIndex = position + 1;
    dialog.lpstrFile = *buffer;
    dialog.nMaxFile = bufferUnits;
    dialog.lpstrInitialDir = initialDirectory.get();
    dialog.lpstrTitle = title;
    dialog.Flags = multi ? MULTI_FILE_FLAGS : SINGLE_FILE_FLAGS;

    RequesterModal(1);
    BOOL chosen = save == 1 ? GetSaveFileNameW(&dialog) : GetOpenFileNameW(&dialog);
    RequesterModal(0);

    if (!chosen) {
        return DeliverResult({}, resultPosition);
    }
    WCHAR* names = *buffer;
    int64_t firstUnits = BoundedLength(names, 0, bufferUnits);
    if (!multi) {
        return DeliverResult({Piece(names, firstUnits)}, resultPosition);
    }
    // One file chosen: the buffer holds its full path. Several: the directory, then each name,
    // each ended by a zero, then a second zero.
    int64_t next = firstUnits + 1;
    if (next >= bufferUnits || names[next] == 0) {
        WCHAR* result = DeliverResult({Piece(names, firstUnits)}, resultPosition);
        SelectionEnd();
        return result;
    }
    requester.directoryUnits = firstUnits;
    requester.directorySeparator = firstUnits == 0 || names[firstUnits - 1] != '\\';
    int64_t nameUnits = BoundedLength(names, next, bufferUnits);
    requester.readPosition = static_cast<int32_t>(next + nameUnits + 1);
    return DeliverSelected(next, nameUnits, resultPosition);
}

WCHAR* RequestOpenFile(const WCHAR* title, const WCHAR* defaultFile, const WCHAR* pattern,
                       int32_t position, int32_t resultPosition) {
    return FileRequester(title, defaultFile, pattern, position, 0, 0, resultPosition);
}

WCHAR* RequestOpenFileEx(const WCHAR* title, const WCHAR* defaultFile, const WCHAR* pattern,
                         int32_t position, int32_t flags, int32_t resultPosition) {
    return FileRequester(title, defaultFile, pattern, position, 0, flags & REQUEST_MULTISELECT,
                         resultPosition);
}

WCHAR* RequestSaveFile(const WCHAR* title, const WCHAR* defaultFile, const WCHAR* pattern,
                       int32_t position, int32_t resultPosition) {
    return FileRequester(title, defaultFile, pattern, position, 1, 0, resultPosition);
}

WCHAR* RequestNextFile(int32_t resultPosition) {
    StringBuilderEnsure();
    if (requester.readPosition == 0) {
        return DeliverResult({}, resultPosition);
    }
    int64_t at = requester.readPosition;
    int64_t nameUnits = BoundedLength(requester.multiBuffer, at, MULTI_FILE_UNITS);
    if (nameUnits == 0) {
        SelectionEnd();
        return DeliverResult({}, resultPosition);
    }
    requester.readPosition = static_cast<int32_t>(at + nameUnits + 1);
    return DeliverSelected(at, nameUnits, resultPosition);
}

}  // namespace rt
