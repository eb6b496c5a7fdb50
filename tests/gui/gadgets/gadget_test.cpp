#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "../dialogdriver.h"
#include "runtime/gui/gadgets/gadgets.h"
#include "runtime/gui/windows/events.h"

namespace rt {
namespace {

using test::OtherThread;
using test::TestWindow;

struct QueuedEvent {
    int64_t code;
    int64_t object;
    int64_t window;
    int64_t type;
    bool operator==(const QueuedEvent&) const = default;
};

std::vector<QueuedEvent> TakeAllEvents() {
    std::vector<QueuedEvent> events;
    while (EventQueueTake() != 0) {
        events.push_back({EventCurrentCode(), EventGadgetId(), EventWindowId(), EventType()});
    }
    return events;
}

GadgetRecord* Record(ObjectId id) {
    return static_cast<GadgetRecord*>(RegistryLookup(GadgetRegistry, id));
}

// What the test window does when one of its buttons reports a click, from inside the notification.
std::function<void()> onClick;

LRESULT CALLBACK ClickWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED && onClick) {
        onClick();
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// A click on the control whose notification queues the gadget's event and then frees the gadget,
// the way an event callback may end the gadget that raised its event.
void FreedByItsOwnClick(ObjectId id, HWND control) {
    onClick = [id] {
        EventQueueAdd(EVENT_GADGET, id, 0, 0);
        GadgetFree(id);
    };
    SendMessageW(control, BM_CLICK, 0, 0);
}

class Gadget : public testing::Test {
  protected:
    void SetUp() override {
        TakeAllEvents();
        SetWindowLongPtrW(window.hwnd(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ClickWindowProc));
        GadgetListUse(window.hwnd());
    }
    void TearDown() override {
        onClick = nullptr;
        TakeAllEvents();
    }
    int64_t Window() const { return reinterpret_cast<int64_t>(window.hwnd()); }

    TestWindow window;
};

TEST_F(Gadget, ReusedNumberDestroysTheOldControlAndDropsOnlyItsEvents) {
    auto old = reinterpret_cast<HWND>(ButtonCreate(2, 0, 0, 50, 20, L"Old"));
    ButtonCreate(3, 0, 30, 50, 20, L"Other");
    GadgetRecord* record = Record(2);
    EventQueueAdd(EVENT_GADGET, 2, Window(), 0);
    EventQueueAdd(EVENT_GADGET, 3, Window(), 0);
    EventQueueAdd(EVENT_GADGET, 2, 0, 1);
    EventQueueAdd(EVENT_CLOSE_WINDOW, 2, Window(), 0);
    auto fresh = reinterpret_cast<HWND>(ButtonCreate(2, 60, 0, 50, 20, L"New"));
    EXPECT_FALSE(IsWindow(old));
    ASSERT_EQ(Record(2), record);
    EXPECT_EQ(record->window, fresh);
    EXPECT_EQ(GetWindowLongPtrW(fresh, GWLP_ID), 2);
    std::vector<QueuedEvent> expected = {{EVENT_GADGET, 3, Window(), 0},
                                         {EVENT_CLOSE_WINDOW, 2, Window(), 0}};
    EXPECT_EQ(TakeAllEvents(), expected);
}

TEST_F(Gadget, EveryWayOfEndingAGadgetCleansUpOnlyThatGadget) {
    struct Case {
        const char* name;
        ObjectId number;
        void (*end)(ObjectId id, HWND control);
    };
    const Case cases[] = {
        {"GadgetFree", 4, [](ObjectId id, HWND) { GadgetFree(id); }},
        {"DestroyWindow, dynamic", DYNAMIC_ID,
         [](ObjectId, HWND control) { DestroyWindow(control); }},
        {"freed by its own click", 5, FreedByItsOwnClick},
        {"freed by its own click, dynamic", DYNAMIC_ID, FreedByItsOwnClick},
    };
    ASSERT_NE(ButtonCreate(9, 0, 0, 50, 20, L"Bystander"), 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int64_t created = ButtonCreate(c.number, 0, 30, 50, 20, L"Doomed");
        ObjectId id = c.number == DYNAMIC_ID ? created : c.number;
        ASSERT_NE(Record(id), nullptr);
        HWND control = Record(id)->window;
        EventQueueAdd(EVENT_GADGET, id, Window(), 0);
        EventQueueAdd(EVENT_GADGET, 9, Window(), 0);
        c.end(id, control);
        EXPECT_FALSE(IsWindow(control));
        EXPECT_EQ(RegistryIsObject(GadgetRegistry, id), nullptr);
        ASSERT_NE(Record(9), nullptr);
        EXPECT_TRUE(IsWindow(Record(9)->window));
        std::vector<QueuedEvent> expected = {{EVENT_GADGET, 9, Window(), 0}};
        EXPECT_EQ(TakeAllEvents(), expected);
        onClick = nullptr;
    }
}

TEST_F(Gadget, FreeingAllDestroysEveryControlAndEmptiesTheRegistry) {
    HWND controls[] = {reinterpret_cast<HWND>(ButtonCreate(6, 0, 0, 50, 20, L"a")),
                       Record(ButtonCreate(DYNAMIC_ID, 0, 0, 50, 20, L"b"))->window,
                       Record(ButtonCreate(DYNAMIC_ID, 0, 0, 50, 20, L"c"))->window};
    GadgetFree(DYNAMIC_ID);
    for (HWND control : controls) {
        EXPECT_FALSE(IsWindow(control));
    }
    RegistryWalkStart(GadgetRegistry);
    ObjectId id;
    EXPECT_EQ(RegistryWalkNext(GadgetRegistry, &id), nullptr);
    EXPECT_EQ(GadgetRegistry->dynamicChain, nullptr);
}

TEST_F(Gadget, NumberTakenFromAnotherThreadsControlStaysWithTheNewControl) {
    OtherThread other;
    TestWindow* farWindow = nullptr;
    HWND farButton = nullptr;
    other.Run([&] {
        farWindow = new TestWindow(0, false);
        GadgetListUse(farWindow->hwnd());
        farButton = reinterpret_cast<HWND>(ButtonCreate(7, 0, 0, 50, 20, L"Far"));
    });
    ASSERT_NE(farButton, nullptr);
    auto nearButton = reinterpret_cast<HWND>(ButtonCreate(7, 0, 0, 50, 20, L"Near"));
    // Another thread's control cannot be destroyed from here; the number moves on all the same.
    EXPECT_TRUE(IsWindow(farButton));
    ASSERT_NE(Record(7), nullptr);
    EXPECT_EQ(Record(7)->window, nearButton);
    other.Run([&] { delete farWindow; });
    EXPECT_FALSE(IsWindow(farButton));
    ASSERT_NE(Record(7), nullptr);
    EXPECT_EQ(Record(7)->window, nearButton);
    EXPECT_EQ(GetWindowLongPtrW(nearButton, GWLP_ID), 7);
}

TEST_F(Gadget, TopWindowIsTheNearestRuntimeWindowOrTheTopOfTheChain) {
    auto child = [](HWND parent) {
        return CreateWindowExW(0, L"Static", L"", WS_CHILD, 0, 0, 10, 10, parent, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
    };
    TestWindow plain;
    HWND plainChild = child(plain.hwnd());
    HWND panel = child(window.hwnd());
    HWND inPanel = child(panel);
    HWND innerRuntime = child(window.hwnd());
    HWND inInnerRuntime = child(innerRuntime);
    auto button = reinterpret_cast<HWND>(ButtonCreate(8, 0, 0, 50, 20, L"Top"));
    SetPropW(window.hwnd(), L"RT_WindowID", reinterpret_cast<HANDLE>(1));
    SetPropW(innerRuntime, L"RT_WindowID", reinterpret_cast<HANDLE>(2));
    struct Case {
        HWND start;
        HWND expected;
    } cases[] = {{button, window.hwnd()},        {inPanel, window.hwnd()},
                 {inInnerRuntime, innerRuntime}, {innerRuntime, innerRuntime},
                 {plain.hwnd(), plain.hwnd()},   {plainChild, plain.hwnd()}};
    for (const Case& c : cases) {
        EXPECT_EQ(GadgetTopWindow(c.start), c.expected) << &c - cases;
    }
    RemovePropW(window.hwnd(), L"RT_WindowID");
    RemovePropW(innerRuntime, L"RT_WindowID");
}

}  // namespace
}  // namespace rt
