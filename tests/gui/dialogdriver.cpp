#include "dialogdriver.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace rt::test {

namespace {

// Long enough for the first open dialog of a Wine prefix, which enumerates the shell folders.
constexpr DWORD WAIT_MS = 15000;
// The test thread must be back this long after the script has ended.
constexpr DWORD HARD_LIMIT_MS = 60000;
constexpr DWORD POLL_MS = 10;
constexpr int FILE_NAME_BOX = 0x47C;
constexpr int MESSAGE_TEXT = 0xFFFF;

std::string Narrow(const std::wstring& text) {
    std::string result;
    for (wchar_t c : text) {
        result += c < 128 ? static_cast<char>(c) : '?';
    }
    return result;
}

bool IsDialogOf(HWND window, DWORD processId) {
    WCHAR className[16] = {};
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    return process == processId && IsWindowVisible(window) &&
           GetClassNameW(window, className, 16) > 0 && wcscmp(className, L"#32770") == 0;
}

struct DialogSearch {
    DWORD processId;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectDialog(HWND window, LPARAM search) {
    auto* dialogs = reinterpret_cast<DialogSearch*>(search);
    if (IsDialogOf(window, dialogs->processId)) {
        dialogs->found.push_back(window);
    }
    return TRUE;
}

}  // namespace

HWND FindWindowOf(DWORD processId, const WCHAR* className, const WCHAR* title) {
    // Every top-level window with the title is looked at: the process's window may share its
    // title with a window of another process.
    for (HWND window = FindWindowExW(nullptr, nullptr, className, title); window != nullptr;
         window = FindWindowExW(nullptr, window, className, title)) {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (process == processId && IsWindowVisible(window)) {
            return window;
        }
    }
    return nullptr;
}

HWND FindDialogOf(DWORD processId, const WCHAR* title) {
    return FindWindowOf(processId, L"#32770", title);
}

HWND FindProcessDialog(const WCHAR* title) {
    return FindDialogOf(GetCurrentProcessId(), title);
}

std::wstring ControlText(HWND dialog, int control) {
    WCHAR text[1024] = {};
    GetDlgItemTextW(dialog, control, text, 1024);
    return text;
}

OtherThread::OtherThread() : thread_(&OtherThread::Loop, this) {
    if (!WaitUntil([&] { return threadId_ != 0; }, WAIT_MS)) {
        std::fprintf(stderr, "the other thread did not start\n");
        std::abort();
    }
}

OtherThread::~OtherThread() {
    PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
    thread_.join();
}

void OtherThread::Loop() {
    MSG message;
    // The thread's message queue exists once it has looked into it; only then can tasks be posted.
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
    threadId_ = GetCurrentThreadId();
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.hwnd == nullptr && message.message == WM_APP) {
            (*reinterpret_cast<const std::function<void()>*>(message.lParam))();
            taskDone_ = true;
        } else {
            DispatchMessageW(&message);
        }
    }
}

void OtherThread::Run(const std::function<void()>& task) {
    taskDone_ = false;
    PostThreadMessageW(threadId_, WM_APP, 0, reinterpret_cast<LPARAM>(&task));
    bool done = WaitUntil(
        [&] {
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                DispatchMessageW(&message);
            }
            return taskDone_.load();
        },
        WAIT_MS);
    if (!done) {
        std::fprintf(stderr, "a task of the other thread did not end\n");
        std::abort();
    }
}

DialogDriver::DialogDriver(Script script, DWORD processId)
    : processId_(processId != 0 ? processId : GetCurrentProcessId()),
      helper_(&DialogDriver::Run, this, std::move(script)) {}

DialogDriver::~DialogDriver() {
    Finish();
}

std::string DialogDriver::Finish() {
    testThreadBack_ = true;
    if (helper_.joinable()) {
        helper_.join();
    }
    return failures_;
}

void DialogDriver::Run(Script script) {
    script(*this);
    CloseStrayDialogs();
}

void DialogDriver::CloseStrayDialogs() {
    for (DWORD start = GetTickCount(); !testThreadBack_;) {
        DialogSearch dialogs = {processId_, {}};
        EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&dialogs));
        for (HWND dialog : dialogs.found) {
            WCHAR title[256] = {};
            GetWindowTextW(dialog, title, 256);
            Fail("unexpected dialog \"" + Narrow(title) +
                 "\": " + Narrow(ControlText(dialog, MESSAGE_TEXT)));
            PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
            WaitUntil([&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }, WAIT_MS);
        }
        if (GetTickCount() - start > HARD_LIMIT_MS) {
            std::fprintf(stderr, "the test thread did not come back from its dialog:\n%s\n",
                         failures_.c_str());
            std::abort();
        }
        Sleep(POLL_MS);
    }
}

void DialogDriver::Fail(const std::string& what) {
    failures_ += what + "\n";
}

HWND DialogDriver::WaitForDialog(const WCHAR* title) {
    HWND dialog = nullptr;
    if (!WaitUntil([&] { return (dialog = FindDialogOf(processId_, title)) != nullptr; },
                   WAIT_MS)) {
        Fail("no dialog \"" + Narrow(title) + "\" appeared");
        return nullptr;
    }
    return dialog;
}

bool DialogDriver::Press(HWND dialog, int button) {
    PostMessageW(dialog, WM_COMMAND, button, 0);
    if (!WaitUntil([&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }, WAIT_MS)) {
        Fail("a dialog did not close after button " + std::to_string(button));
        return false;
    }
    return true;
}

bool DialogDriver::ChooseFile(const WCHAR* title, const std::wstring& fileName) {
    HWND dialog = WaitForDialog(title);
    if (dialog == nullptr) {
        return false;
    }
    SetDlgItemTextW(dialog, FILE_NAME_BOX, fileName.c_str());
    return Press(dialog, IDOK);
}

bool DialogDriver::Cancel(const WCHAR* title) {
    HWND dialog = WaitForDialog(title);
    return dialog != nullptr && Press(dialog, IDCANCEL);
}

std::wstring DialogDriver::AnswerMessageBox(const WCHAR* caption, HWND* owner) {
    HWND box = WaitForDialog(caption);
    if (box == nullptr) {
        return {};
    }
    std::wstring text = ControlText(box, MESSAGE_TEXT);
    if (owner != nullptr) {
        *owner = GetWindow(box, GW_OWNER);
    }
    Press(box, IDOK);
    return text;
}

}  // namespace rt::test
