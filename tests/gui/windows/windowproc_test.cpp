#include <functional>

#include "windowtest.h"

namespace rt::test {
namespace {

constexpr uint32_t SIZEABLE =
    WINDOW_DEFAULT_FLAGS | WINDOW_SCREEN_CENTRED | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;

int notifications = 0;

// Handles the gadget's commands and leaves everything else (its colour messages) to the default.
int64_t CountingNotify(GadgetRecord*, HWND, UINT message, WPARAM, LPARAM) {
    if (message != WM_COMMAND) {
        return GADGET_NOT_HANDLED;
    }
    ++notifications;
    return 0;
}

struct Scenario {
    const char* name;
    std::function<void(HWND window, HWND button)> action;
    std::vector<EventRow> events;
};

// Window 0 holds gadget 2 ("Encrypt File"); every scenario starts from an empty queue. The
// close request and the move carry the window's number, 0, as their object.
TEST(WindowProc, MessagesBecomeTheseEvents) {
    auto window = TestWindow::Runtime(0, SIZEABLE);
    auto button = reinterpret_cast<HWND>(ButtonCreate(2, 15, 15, 100, 50, L"Encrypt File"));
    ASSERT_NE(button, nullptr);
    auto resize = [](HWND w, int size) {
        SetWindowPos(w, nullptr, 0, 0, size, size, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    };
    const Scenario scenarios[] = {
        {"close request",
         [](HWND w, HWND) { SendMessageW(w, WM_CLOSE, 0, 0); },
         {{EVENT_CLOSE_WINDOW, 0, 0, 0}}},
        {"button press",
         [](HWND, HWND b) { SendMessageW(b, BM_CLICK, 0, 0); },
         {{EVENT_GADGET, 2, 0, BN_CLICKED}}},
        {"resize burst",
         [&](HWND w, HWND) {
             resize(w, 300);
             SendMessageW(w, WM_MOVE, 0, 0);
             resize(w, 310);
             resize(w, 320);
         },
         // Each resize erases the background before it sizes the window.
         {{EVENT_REPAINT, 0, 0, 0},
          {EVENT_WINDOW_MOVED, 0, 0, 0},
          {EVENT_REPAINT, 0, 0, 0},
          {EVENT_REPAINT, 0, 0, 0},
          {EVENT_WINDOW_SIZED, 0, 0, 0}}},
        {"maximise",
         [](HWND w, HWND) { ShowWindow(w, SW_MAXIMIZE); },
         {{EVENT_REPAINT, 0, 0, 0},
          {EVENT_WINDOW_MOVED, 0, 0, 0},
          {EVENT_WINDOW_MAXIMIZED, 0, 0, 0},
          {EVENT_WINDOW_SIZED, 0, 0, 0}}},
        {"restore",
         [](HWND w, HWND) { ShowWindow(w, SW_RESTORE); },
         {{EVENT_WINDOW_MOVED, 0, 0, 0},
          {EVENT_WINDOW_RESTORED, 0, 0, 0},
          {EVENT_WINDOW_SIZED, 0, 0, 0}}},
        {"minimise",
         [](HWND w, HWND) { ShowWindow(w, SW_MINIMIZE); },
         {{EVENT_WINDOW_MOVED, 0, 0, 0}, {EVENT_WINDOW_MINIMIZED, 0, 0, 0}}},
    };
    for (const Scenario& s : scenarios) {
        DispatchPending();
        DrainEvents();
        s.action(window.Handle(), button);
        ExpectEvents(s.name, s.events);
    }
    EXPECT_TRUE(IsWindowVisible(window.Handle()));  // a close request closes nothing
}

TEST(WindowProc, OnlyTheGadgetsOwnControlReachesItsHandler) {
    auto window = TestWindow::Runtime(0, WINDOW_DEFAULT_FLAGS);
    auto gadget = reinterpret_cast<HWND>(ButtonCreate(0, 15, 15, 100, 50, L"Gadget"));
    ASSERT_NE(gadget, nullptr);
    GadgetKind counting = ButtonKind;
    counting.notify = CountingNotify;
    static_cast<GadgetRecord*>(RegistryLookup(GadgetRegistry, 0))->kind = &counting;
    // A control made by someone else, without "RT_ID" and with identifier 0.
    HWND foreign = CreateWindowExW(0, L"Button", L"Foreign", WS_CHILD | WS_VISIBLE, 120, 15, 80, 30,
                                   window.Handle(), nullptr, ModuleHandle, nullptr);
    DispatchPending();
    DrainEvents();
    notifications = 0;
    SendMessageW(foreign, BM_CLICK, 0, 0);
    ExpectEvents("foreign control", {{EVENT_GADGET, 0, 0, BN_CLICKED}});
    EXPECT_EQ(notifications, 0);
    SendMessageW(gadget, BM_CLICK, 0, 0);
    ExpectEvents("handled by its gadget", {});
    EXPECT_EQ(notifications, 1);
    static_cast<GadgetRecord*>(RegistryLookup(GadgetRegistry, 0))->kind = &ButtonKind;
    DestroyWindow(foreign);
}

TEST(WindowProc, ReactivationGivesTheFocusBackOnlyToTheWindowsOwnControl) {
    auto first = TestWindow::Runtime(0, WINDOW_DEFAULT_FLAGS);
    ButtonCreate(1, 15, 15, 100, 30, L"One");
    auto second = reinterpret_cast<HWND>(ButtonCreate(2, 15, 50, 100, 30, L"Two"));
    auto other = TestWindow::Runtime(1, WINDOW_DEFAULT_FLAGS | WINDOW_NO_GADGET_LIST, 300, 300);
    SetForegroundWindow(first.Handle());
    SetFocus(second);
    DispatchPending();
    DrainEvents();
    SetForegroundWindow(other.Handle());
    SetForegroundWindow(first.Handle());
    EXPECT_EQ(GetFocus(), second);
    ExpectEvents("switched", {{EVENT_WINDOW_DEACTIVATED, 0, 0, 0},
                              {EVENT_WINDOW_ACTIVATED, 0, 1, 0},
                              {EVENT_WINDOW_DEACTIVATED, 0, 1, 0},
                              {EVENT_WINDOW_ACTIVATED, 0, 0, 0}});
    // A remembered handle that now names a window elsewhere is not focused (which would
    // activate that window).
    SetPropW(first.Handle(), L"RT_Focus", other.Handle());
    SendMessageW(first.Handle(), WM_ACTIVATE, WA_ACTIVE, 0);
    EXPECT_EQ(GetActiveWindow(), first.Handle());
    EXPECT_NE(GetFocus(), other.Handle());
    ExpectEvents("stale focus", {{EVENT_WINDOW_ACTIVATED, 0, 0, 0}});
}

}  // namespace
}  // namespace rt::test
