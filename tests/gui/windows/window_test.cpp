#include <string>

#include "windowtest.h"

namespace rt::test {
namespace {

struct OpenCase {
    const char* name;
    uint32_t flags;
    int32_t x;
    int32_t y;
    uint32_t style;  // of WS_CAPTION, WS_SYSMENU, WS_MINIMIZEBOX, WS_MAXIMIZEBOX, WS_VISIBLE
    bool centred;
    bool activated;
};

TEST(WindowOpen, StyleSizePositionAndActivationFollowTheFlags) {
    constexpr uint32_t captionAndClose = WS_CAPTION | WS_SYSMENU | WS_VISIBLE;
    constexpr uint32_t application = WINDOW_DEFAULT_FLAGS | WINDOW_SCREEN_CENTRED;
    const OpenCase cases[] = {
        {"application", application, 0, 0, captionAndClose, true, true},
        {"no flags", 0, 30, 40, WS_CAPTION | WS_VISIBLE, false, true},
        {"centring only", WINDOW_SCREEN_CENTRED, 30, 40, WS_CAPTION | WS_VISIBLE, true, true},
        {"hidden", WINDOW_DEFAULT_FLAGS | WINDOW_INVISIBLE, 30, 40, WS_CAPTION | WS_SYSMENU, false,
         false},
        {"not activated", WINDOW_DEFAULT_FLAGS | WINDOW_NO_ACTIVATE, 30, 40, captionAndClose, false,
         false},
        {"centred, y default", application, 0, WINDOW_POS_DEFAULT, captionAndClose, true, true},
        {"x default", WINDOW_DEFAULT_FLAGS, WINDOW_POS_DEFAULT, 40, captionAndClose, false, true},
        {"tool", WINDOW_DEFAULT_FLAGS | WS_MINIMIZEBOX | WINDOW_TOOL, 30, 40, captionAndClose,
         false, true},
    };
    for (const OpenCase& c : cases) {
        ExpectEvents("before", {});
        auto window = TestWindow::Runtime(0, c.flags | WINDOW_NO_GADGET_LIST, c.x, c.y);
        HWND handle = window.Handle();
        ASSERT_EQ(window.Result(), reinterpret_cast<int64_t>(handle)) << c.name;
        RECT client, outer;
        GetClientRect(handle, &client);
        GetWindowRect(handle, &outer);
        EXPECT_EQ(client.right, 250) << c.name;
        EXPECT_EQ(client.bottom, 80) << c.name;
        constexpr uint32_t checked =
            WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_VISIBLE;
        EXPECT_EQ(GetWindowLongPtrW(handle, GWL_STYLE) & checked, c.style) << c.name;
        EXPECT_EQ((GetWindowLongPtrW(handle, GWL_EXSTYLE) & WS_EX_TOOLWINDOW) != 0,
                  (c.flags & WINDOW_TOOL) != 0)
            << c.name;
        if (c.centred) {
            EXPECT_EQ(outer.left, (1024 - (outer.right - outer.left)) / 2) << c.name;
            EXPECT_EQ(outer.top, (768 - (outer.bottom - outer.top)) / 2) << c.name;
        } else if (c.x == WINDOW_POS_DEFAULT) {
            EXPECT_GE(outer.left, 0) << c.name;  // the system's place, on the screen
        } else {
            EXPECT_EQ(outer.left, c.x) << c.name;
            EXPECT_EQ(outer.top, c.y) << c.name;
        }
        std::vector<EventRow> events;
        if (c.activated) {
            events.push_back({EVENT_WINDOW_ACTIVATED, 0, 0, 0});
        }
        if (c.style & WS_VISIBLE) {
            events.push_back({EVENT_REPAINT, 0, 0, 0});  // shown: the background is erased
        }
        ExpectEvents(c.name, events);
    }
}

TEST(WindowOpen, ALiveNumberIsClosedFirstWithItsEvents) {
    auto window = TestWindow::Runtime(5, WINDOW_DEFAULT_FLAGS | WINDOW_NO_GADGET_LIST);
    HWND old = window.Handle();
    EventQueueAdd(EVENT_MENU, 7, 5, 0);
    ASSERT_NE(WindowOpen(5, 0, 0, 100, 100, nullptr, WINDOW_INVISIBLE | WINDOW_NO_GADGET_LIST), 0);
    EXPECT_FALSE(IsWindow(old));
    // The old window's events and those of its destruction are gone; the new one is hidden.
    ExpectEvents("reopened", {});
    WCHAR name[40];
    GetClassNameW(window.Handle(), name, 40);
    EXPECT_EQ(std::wstring(name), L"WindowClass_5");
}

TEST(WindowOpen, DynamicWindowsHaveTheirRecordInTheClassName) {
    HWND handle;
    std::wstring name;
    {
        auto window = TestWindow::Runtime(DYNAMIC_ID, WINDOW_INVISIBLE | WINDOW_NO_GADGET_LIST);
        handle = window.Handle();
        ASSERT_NE(handle, nullptr);
        EXPECT_EQ(RegistryLookup(WindowRegistry, window.Number()),
                  reinterpret_cast<void*>(window.Number()));
        EXPECT_EQ(WindowNumberFromHandle(handle), window.Number());
        name = L"WindowClass_" + std::to_wstring(window.Number());
        WCHAR actual[40];
        GetClassNameW(handle, actual, 40);
        EXPECT_EQ(std::wstring(actual), name);
    }
    WNDCLASSW unused;
    EXPECT_FALSE(IsWindow(handle));
    EXPECT_FALSE(GetClassInfoW(ModuleHandle, name.c_str(), &unused));
    EXPECT_EQ(WindowNumberFromHandle(GetDesktopWindow()), -1);
    EXPECT_EQ(WindowFromHandle(GetDesktopWindow()), nullptr);
}

void CloseWindowSix() {
    WindowClose(6);
}

// Bindings run inside the window procedure, while WindowOpen or the system is still at work on the
// window: closing it there must leave no record, no window and no event behind.
TEST(WindowClose, FromTheWindowsOwnCallbacks) {
    struct Case {
        const char* name;
        int32_t code;
        int showCommand;  // 0: the activation inside WindowOpen closes it
    };
    const Case cases[] = {{"activated while opening", EVENT_WINDOW_ACTIVATED, 0},
                          {"maximised", EVENT_WINDOW_MAXIMIZED, SW_SHOWMAXIMIZED},
                          {"restored", EVENT_WINDOW_RESTORED, SW_RESTORE}};
    for (const Case& c : cases) {
        uint32_t flags =
            WINDOW_NO_GADGET_LIST | WS_THICKFRAME | WS_MAXIMIZEBOX | WINDOW_DEFAULT_FLAGS;
        if (c.code == EVENT_WINDOW_RESTORED) {
            flags |= WS_MAXIMIZE;
        }
        if (c.showCommand == 0) {
            ASSERT_EQ(EventBind(c.code, 6, -1, -1, CloseWindowSix), 1);
        }
        int64_t opened = WindowOpen(6, 10, 10, 200, 100, nullptr, flags);
        if (c.showCommand != 0) {
            ASSERT_NE(opened, 0) << c.name;
            ASSERT_EQ(EventBind(c.code, 6, -1, -1, CloseWindowSix), 1);
            ShowWindow(reinterpret_cast<HWND>(opened), c.showCommand);
        } else {
            EXPECT_EQ(opened, 0) << c.name;
        }
        EXPECT_EQ(RegistryLookup(WindowRegistry, 6), nullptr) << c.name;
        ExpectEvents(c.name, {});
        WindowClose(6);
    }
}

void ReopenWindowSix() {
    WindowOpen(6, 0, 0, 50, 50, nullptr, WINDOW_INVISIBLE | WINDOW_NO_GADGET_LIST);
}

// The destruction deactivates the window, and a binding for every window runs (or a modal loop
// dispatches) while WindowClose is still at work: a second close must find nothing to free, and a
// window reopened under the number must keep its record.
TEST(WindowClose, WhileTheWindowIsBeingDestroyed) {
    struct Case {
        const char* name;
        BindingCallback callback;
        bool reopened;
    };
    const Case cases[] = {{"closed again", CloseWindowSix, false},
                          {"reopened", ReopenWindowSix, true}};
    for (const Case& c : cases) {
        ASSERT_NE(
            WindowOpen(6, 0, 0, 200, 100, nullptr, WINDOW_DEFAULT_FLAGS | WINDOW_NO_GADGET_LIST),
            0);
        HWND old = static_cast<WindowObject*>(RegistryLookup(WindowRegistry, 6))->handle;
        ASSERT_EQ(GetActiveWindow(), old);
        ASSERT_EQ(EventBind(EVENT_WINDOW_DEACTIVATED, -1, -1, -1, c.callback), 1);
        WindowClose(6);
        EventUnbind(EVENT_WINDOW_DEACTIVATED, -1, -1, -1, c.callback);
        EXPECT_FALSE(IsWindow(old)) << c.name;
        auto* record = static_cast<WindowObject*>(RegistryLookup(WindowRegistry, 6));
        ASSERT_EQ(record != nullptr, c.reopened) << c.name;
        if (record != nullptr) {
            EXPECT_TRUE(IsWindow(record->handle)) << c.name;
            EXPECT_EQ(WindowNumberFromHandle(record->handle), 6) << c.name;
            EXPECT_NE(record->acceleratorTable, nullptr) << c.name;
        }
        WindowClose(6);
        ExpectEvents(c.name, {});
    }
}

}  // namespace
}  // namespace rt::test
