#include <chrono>

#include "windowtest.h"

namespace rt::test {
namespace {

struct Press {
    const char* name;
    UINT dispatched;  // the message during which the button sends its command
    void (*press)(HWND button);
};

// The wait returns the dispatched message's number, then the gadget event it queued.
TEST(EventWait, APressComesOutAfterTheMessageThatCausedIt) {
    auto window = TestWindow::Runtime(0, WINDOW_DEFAULT_FLAGS | WINDOW_SCREEN_CENTRED);
    auto button = reinterpret_cast<HWND>(ButtonCreate(2, 15, 15, 100, 50, L"Encrypt File"));
    SetForegroundWindow(window.Handle());
    const Press presses[] = {
        {"BM_CLICK", BM_CLICK, [](HWND b) { PostMessageW(b, BM_CLICK, 0, 0); }},
        {"Space", WM_KEYUP,
         [](HWND b) {
             SetFocus(b);
             PressKeys({VK_SPACE});
         }},
    };
    for (const Press& p : presses) {
        WaitResults();
        p.press(button);
        int64_t previous = 0;
        int64_t result = 0;
        for (int call = 0; call < 100 && result != EVENT_GADGET; ++call) {
            previous = result != 0 ? result : previous;
            result = EventWait(1);
        }
        ASSERT_EQ(result, EVENT_GADGET) << p.name;
        EXPECT_EQ(previous, p.dispatched) << p.name;
        EXPECT_EQ(EventGadgetId(), 2) << p.name;
        EXPECT_EQ(EventType(), 0) << p.name;
    }
}

TEST(EventWait, QueuedEventsFirstThenMessagesThenTheTimeOut) {
    WaitResults();
    EventQueueAdd(EVENT_MENU, 1, 0, 0);
    EventQueueAdd(EVENT_MENU, 2, 0, 0);
    PostThreadMessageW(GetCurrentThreadId(), WM_USER, 0, 0);
    EXPECT_EQ(EventWait(0), EVENT_MENU);
    EXPECT_EQ(EventGadgetId(), 1);
    EXPECT_EQ(EventWait(0), EVENT_MENU);
    EXPECT_EQ(EventGadgetId(), 2);
    EXPECT_EQ(EventWait(0), WM_USER);
    for (int32_t timeout : {0, 1}) {
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(EventWait(timeout), 0);
        // Generous for a loaded machine, far below a wait that spins on or blocks.
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
    }
    PostQuitMessage(0);
    EXPECT_EQ(EventWait(-1), WM_QUIT);
}

}  // namespace
}  // namespace rt::test
