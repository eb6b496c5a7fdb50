// The entry routine and the main loop: the runtime is started, the utility's window opened with
// its two buttons, and events are served until the window is asked to close; then the runtime is
// taken down and the process ends.
//
// Everything runs on the process's first thread, which owns the window; the actions run on it
// too, so a close request that arrives while an action copies a file waits in the system's queue
// until the action returns.
#include "app.h"

#include "runtime/gui/events/events.h"
#include "runtime/gui/gadgets/gadgets.h"
#include "runtime/gui/windows/window.h"
#include "runtime/libraries/libraries.h"
#include "runtime/strings/strings.h"

namespace app {

namespace {

// Passed to ExitProcess; nothing changes it.
UINT exitCode = 0;
// The code the latest EventWait returned.
int64_t lastEvent = 0;

// Window 0 and its buttons. The window's flags: WS_CAPTION | WS_SYSMENU (a close box and no
// minimise or maximise box) and centred on the screen, which overrides the position (0, 0).
constexpr rt::ObjectId MAIN_WINDOW = 0;
constexpr uint32_t MAIN_WINDOW_FLAGS = rt::WINDOW_DEFAULT_FLAGS | rt::WINDOW_SCREEN_CENTRED;
constexpr rt::ObjectId DECRYPT_BUTTON = 1;
constexpr rt::ObjectId ENCRYPT_BUTTON = 2;
// EventWait's time-out: the loop comes back about once a millisecond while nothing happens.
constexpr int32_t WAIT_MS = 1;

}  // namespace

void AppMain() {
    // The program-wide state starts from zero, whatever the C runtime's start-up left.
    rt::MainHeap = nullptr;
    rt::ModuleHandle = nullptr;
    CurrentLine = nullptr;
    exitCode = 0;
    lastEvent = 0;

    // The module handle before any library starts: the window library registers its classes and
    // loads the window icon with it.
    rt::ModuleHandle = GetModuleHandleW(nullptr);
    // Every runtime record comes from MainHeap, so it exists before the first start routine.
    rt::MainHeap = HeapCreate(0, 4096, 0);
    rt::LibrariesStart();

    // The window first: it becomes the current gadget list, so the buttons go into it. No result
    // is examined; without a window the loop runs all the same.
    rt::WindowOpen(MAIN_WINDOW, 0, 0, 250, 80, RT_TEXT("File Encryption"), MAIN_WINDOW_FLAGS);
    rt::ButtonCreate(ENCRYPT_BUTTON, 15, 15, 100, 50, RT_TEXT("Encrypt File"));
    rt::ButtonCreate(DECRYPT_BUTTON, 135, 15, 100, 50, RT_TEXT("Decrypt File"));

    // The close test follows the dispatch: the loop runs at least once, and an action that is
    // running delays the close until it returns.
    do {
        lastEvent = rt::EventWait(WAIT_MS);
        if (lastEvent == rt::EVENT_GADGET) {
            switch (rt::EventGadgetId()) {
                case DECRYPT_BUTTON:
                    DecryptFileAction();
                    break;
                case ENCRYPT_BUTTON:
                    EncryptFileAction();
                    break;
                default:
                    break;
            }
        }
    } while (lastEvent != rt::EVENT_CLOSE_WINDOW);

    // The window is destroyed and any open file flushed and closed by the libraries' ends; the
    // string heap and MainHeap go after every library, since their records live there.
    rt::LibrariesEnd();
    rt::StringLibraryEnd();
    HeapDestroy(rt::MainHeap);
    ExitProcess(exitCode);
}

}  // namespace app
