// Drives the system dialogs that a test's thread, or a program the test started, shows, from a
// helper thread.
//
// The test thread creates a DialogDriver with a script and then calls the operation that shows
// the dialog, which blocks it until the dialog closes. The script runs on the helper thread: it
// waits for each dialog by its title, reads it, fills it in or cancels it, and answers message
// boxes. Every wait has a time-out, and a step that times out records a failure. Once the script
// has ended, the helper closes every further dialog the process shows (recording each as
// unexpected) until the test thread calls Finish; if the test thread is still not back after a
// hard limit, the program ends with a message. So a test fails, it never hangs.
//
// Values the script records are read by the test thread after Finish, which joins the helper.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "support/support.h"

namespace rt::test {

// A visible top-level window of the process with the class (null: any) and `title`, or null.
HWND FindWindowOf(DWORD processId, const WCHAR* className, const WCHAR* title);
// The same with the dialog class.
HWND FindDialogOf(DWORD processId, const WCHAR* title);
// The same for this process.
HWND FindProcessDialog(const WCHAR* title);
// The text of a dialog's control.
std::wstring ControlText(HWND dialog, int control);

// A second thread of the test with a message loop of its own, for windows and calls that must
// belong to another thread. Run executes a task there and waits for it, pumping the calling
// thread's messages meanwhile so that neither thread can block the other; a task that does not end
// within the time-out ends the program with a message.
class OtherThread {
  public:
    OtherThread();
    ~OtherThread();
    OtherThread(const OtherThread&) = delete;
    OtherThread& operator=(const OtherThread&) = delete;

    void Run(const std::function<void()>& task);

  private:
    void Loop();

    std::atomic<DWORD> threadId_{0};
    std::atomic<bool> taskDone_{false};
    std::thread thread_;
};

class DialogDriver {
  public:
    using Script = std::function<void(DialogDriver&)>;

    // The script drives the dialogs of the process `processId` (0: this process).
    explicit DialogDriver(Script script, DWORD processId = 0);
    ~DialogDriver();
    DialogDriver(const DialogDriver&) = delete;
    DialogDriver& operator=(const DialogDriver&) = delete;

    // Called by the test thread after the dialog operation has returned: stops the helper and
    // returns what went wrong, one line each (empty when everything went as scripted).
    std::string Finish();

    // Script steps, on the helper thread.
    // The dialog titled `title` once it is visible, or null (a failure is recorded).
    HWND WaitForDialog(const WCHAR* title);
    // Fills the file-name box and presses the default button; true once the dialog is gone.
    bool ChooseFile(const WCHAR* title, const std::wstring& fileName);
    // Presses Cancel; true once the dialog is gone.
    bool Cancel(const WCHAR* title);
    // Presses `button` of an open dialog and waits until it is gone.
    bool Press(HWND dialog, int button);
    // Reads the text of the message box captioned `caption`, presses its OK button and returns
    // the text; empty (and a failure recorded) when no such message box appears.
    std::wstring AnswerMessageBox(const WCHAR* caption, HWND* owner = nullptr);
    void Fail(const std::string& what);

  private:
    void Run(Script script);
    void CloseStrayDialogs();

    DWORD processId_;
    std::atomic<bool> testThreadBack_{false};
    std::string failures_;
    std::thread helper_;
};

}  // namespace rt::test
