#include <gtest/gtest.h>

#include <functional>
#include <utility>
#include <vector>

#include "../dialogdriver.h"
#include "../testwindow.h"
#include "runtime/gui/events/events.h"
#include "runtime/gui/gadgets/gadgets.h"

namespace rt {
namespace {

using test::TestWindow;

GadgetRecord* Record(ObjectId id) {
    return static_cast<GadgetRecord*>(RegistryLookup(GadgetRegistry, id));
}

// The (code, object) of every queued event, oldest first; the queue is empty afterwards.
std::vector<std::pair<int64_t, int64_t>> TakeEvents() {
    std::vector<std::pair<int64_t, int64_t>> events;
    while (EventQueueTake() != 0) {
        events.emplace_back(EventCurrentCode(), EventGadgetId());
    }
    return events;
}

// What the test window does, from inside the notification, when one of its buttons is clicked.
std::function<void()> onClick;

LRESULT CALLBACK ClickWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED && onClick) {
        onClick();
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// An event callback ending the gadget that raised its event, while the control is in its click.
void FreedByItsOwnClick(ObjectId id, HWND control) {
    onClick = [id] {
        EventQueueAdd(EVENT_GADGET, id, 0, 1);
        GadgetFree(id);
    };
    SendMessageW(control, BM_CLICK, 0, 0);
    onClick = nullptr;
}

TEST(GadgetWindowProc, EveryEndOfAGadgetCleansUpThatGadgetAlone) {
    TestWindow window;
    SetWindowLongPtrW(window.Handle(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ClickWindowProc));
    GadgetListUse(window.Handle());
    struct Case {
        const char* name;
        ObjectId number;
        bool reused;
        void (*end)(ObjectId id, HWND control);
    } cases[] = {
        {"reused", 4, true, [](ObjectId id, HWND) { ButtonCreate(id, 0, 0, 9, 9, L"New"); }},
        {"GadgetFree", 4, false, [](ObjectId id, HWND) { GadgetFree(id); }},
        {"DestroyWindow", DYNAMIC_ID, false, [](ObjectId, HWND c) { DestroyWindow(c); }},
        {"own click", 5, false, FreedByItsOwnClick},
        {"own click, dynamic", DYNAMIC_ID, false, FreedByItsOwnClick},
    };
    ASSERT_NE(ButtonCreate(9, 0, 0, 50, 20, L"Bystander"), 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int64_t created = ButtonCreate(c.number, 0, 30, 50, 20, L"Doomed");
        ObjectId id = c.number == DYNAMIC_ID ? created : c.number;
        GadgetRecord* record = Record(id);
        ASSERT_NE(record, nullptr);
        HWND control = record->window;
        EventQueueAdd(EVENT_GADGET, id, 0, 0);
        EventQueueAdd(EVENT_GADGET, 9, 0, 0);
        EventQueueAdd(EVENT_CLOSE_WINDOW, id, 0, 0);
        c.end(id, control);
        EXPECT_FALSE(IsWindow(control));
        EXPECT_EQ(Record(id), c.reused ? record : nullptr);
        EXPECT_TRUE(IsWindow(Record(9)->window));
        std::vector<std::pair<int64_t, int64_t>> left = {{EVENT_GADGET, 9},
                                                         {EVENT_CLOSE_WINDOW, id}};
        EXPECT_EQ(TakeEvents(), left);
    }
}

TEST(GadgetWindowProc, ControlOfAnotherThreadLeavesTheNumberToItsNewGadget) {
    test::OtherThread other;
    TestWindow* farWindow = nullptr;
    HWND farButton = nullptr;
    other.Run([&] {
        farWindow = new TestWindow(0, false);
        GadgetListUse(farWindow->Handle());
        farButton = reinterpret_cast<HWND>(ButtonCreate(7, 0, 0, 50, 20, L"Far"));
    });
    TestWindow window;
    GadgetListUse(window.Handle());
    auto nearButton = reinterpret_cast<HWND>(ButtonCreate(7, 0, 0, 50, 20, L"Near"));
    // The far control cannot be destroyed from this thread; when its own thread destroys it,
    // the record that its number now names must stay with the new button.
    EXPECT_TRUE(IsWindow(farButton));
    other.Run([&] { delete farWindow; });
    EXPECT_FALSE(IsWindow(farButton));
    ASSERT_NE(Record(7), nullptr);
    EXPECT_EQ(Record(7)->window, nearButton);
}

TEST(GadgetTopWindow, ClimbsToTheNearestRuntimeWindowOrTheTopOfTheChain) {
    TestWindow runtime;
    GadgetListUse(runtime.Handle());
    auto button = reinterpret_cast<HWND>(ButtonCreate(8, 0, 0, 50, 20, L"Top"));
    HWND panel = CreateWindowExW(0, L"Static", L"", WS_CHILD, 0, 0, 9, 9, runtime.Handle(), nullptr,
                                 nullptr, nullptr);
    EXPECT_EQ(GadgetTopWindow(panel), runtime.Handle());  // the top of a chain without the property
    SetPropW(panel, L"RT_WindowID", reinterpret_cast<HANDLE>(1));
    EXPECT_EQ(GadgetTopWindow(panel), panel);  // the window itself is tested first
    SetPropW(runtime.Handle(), L"RT_WindowID", reinterpret_cast<HANDLE>(2));
    EXPECT_EQ(GadgetTopWindow(button), runtime.Handle());
    RemovePropW(runtime.Handle(), L"RT_WindowID");
}

}  // namespace
}  // namespace rt
