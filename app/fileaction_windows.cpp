// The encrypt and decrypt actions as the main window's buttons run them: the open-file dialog for
// the input, then the portable file work, with failures told in a message box.
//
// Runs on the thread of the event loop, which owns the program's window.
#include "app.h"

#include "runtime/gui/requesters/requesters.h"
#include "runtime/strings/strings.h"

namespace app {

namespace {

// The message box is owned by the program's window that is in front: the one the dialog was
// owned by, which is active again once the dialog has closed.
void TellInMessageBox(const WCHAR* text) {
    MessageBoxW(rt::RequesterOwnerWindow(), text, RT_TEXT("File Encryption"), MB_OK | MB_ICONERROR);
}

int64_t FileAction(const WCHAR* title, const WCHAR* suffix) {
    rt::StringBuilderEnsure();
    WCHAR* chosenPath = nullptr;
    int32_t mark = rt::StringBuilderMark();
    rt::RequestOpenFile(title, RT_TEXT(""), RT_TEXT("*.*"), 0, mark);
    rt::StringAssign(&chosenPath, mark);
    if (!rt::StringEqual(chosenPath, RT_TEXT(""))) {
        FileActionRun(chosenPath, suffix, TellInMessageBox);
    }
    rt::StringFree(chosenPath);
    return 0;
}

}  // namespace

int64_t EncryptFileAction() {
    return FileAction(RT_TEXT("Open file to encrypt"), RT_TEXT("-enc."));
}

int64_t DecryptFileAction() {
    return FileAction(RT_TEXT("Open file to decrypt"), RT_TEXT("-dec."));
}

}  // namespace app
