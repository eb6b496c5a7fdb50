#include <string>
#include <vector>

#include "eventtest.h"
#include "support/support.h"

namespace rt {
namespace {

// What each callback saw, in the order the callbacks ran.
struct Seen {
    std::string tag;
    test::EventRow event;
    bool operator==(const Seen&) const = default;
};
std::vector<Seen> seen;

void Note(const char* tag) {
    seen.push_back({tag, {EventCurrentCode(), EventGadgetId(), EventWindowId(), EventType()}});
}

template <int N>
void Tagged() {
    static const std::string tag = "callback " + std::to_string(N);
    Note(tag.c_str());
}

// Empties the bindings map with the nodes of its entries, which the map does not own.
void ClearBindings() {
    MapResetIteration(EventBindings);
    while (auto* entry = static_cast<BindingEntry*>(MapNext(EventBindings))) {
        for (BindingNode* node = entry->first; node != nullptr;) {
            BindingNode* next = node->next;
            HeapFree(MainHeap, 0, node);
            node = next;
        }
    }
    MapClear(EventBindings);
}

// Leaves the queue and the bindings map as it found them.
class EventBindingsTest : public testing::Test {
  protected:
    void SetUp() override {
        seen.clear();
        ASSERT_EQ(EventBindings->count, 0);
    }
    void TearDown() override {
        test::DrainEvents();
        ClearBindings();
    }
};

using EventBindingsDispatchTest = EventBindingsTest;

TEST_F(EventBindingsDispatchTest, RunsTheFiveKeysMostSpecificFirstWithTheEventCurrent) {
    const test::EventRow press = {EVENT_GADGET, 2, 0, 0};
    // Bound in an order other than the dispatch order, with keys that must not match beside them.
    ASSERT_EQ(EventBind(EVENT_GADGET, -1, 2, 0, Tagged<5>), 1);
    ASSERT_EQ(EventBind(EVENT_GADGET, -1, -1, -1, Tagged<4>), 1);
    ASSERT_EQ(EventBind(EVENT_GADGET, 0, -1, -1, Tagged<3>), 1);
    ASSERT_EQ(EventBind(EVENT_GADGET, 0, 2, -1, Tagged<2>), 1);
    ASSERT_EQ(EventBind(EVENT_GADGET, 0, 2, 0, Tagged<1>), 1);
    ASSERT_EQ(EventBind(EVENT_GADGET, 1, 2, 0, Tagged<6>), 1);
    ASSERT_EQ(EventBind(EVENT_GADGET, 0, 1, 0, Tagged<7>), 1);
    ASSERT_EQ(EventBind(EVENT_MENU, -1, -1, -1, Tagged<8>), 1);

    // The thread's own current event before the add, to be put back after it.
    EventQueueAdd(EVENT_TIMER, 9, 4, 0);
    ASSERT_EQ(EventQueueTake(), EVENT_TIMER);
    seen.clear();
    EventQueueAdd(EVENT_GADGET, 2, 0, 0);
    EventQueueAdd(EVENT_GADGET, 2, 0, 0);  // merged, and dispatched all the same
    std::vector<Seen> expected;
    for (int round = 0; round < 2; ++round) {
        for (const char* tag :
             {"callback 1", "callback 2", "callback 3", "callback 4", "callback 5"}) {
            expected.push_back({tag, press});
        }
    }
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(EventCurrentCode(), EVENT_TIMER);
    EXPECT_EQ(EventGadgetId(), 9);
    EXPECT_EQ(EventWindowId(), 4);
    test::ExpectEvents("dispatched", {press});
}

void UnbindsItselfAndTheThird();
TEST_F(EventBindingsDispatchTest, CallbacksMayUnbindDuringThePassAndEmptyEntriesGo) {
    ASSERT_EQ(EventBind(EVENT_CLOSE_WINDOW, -1, -1, -1, UnbindsItselfAndTheThird), 1);
    ASSERT_EQ(EventBind(EVENT_CLOSE_WINDOW, -1, -1, -1, Tagged<2>), 1);
    ASSERT_EQ(EventBind(EVENT_CLOSE_WINDOW, -1, -1, -1, Tagged<3>), 1);
    EventQueueAdd(EVENT_CLOSE_WINDOW, 0, 0, 0);
    EventQueueAdd(EVENT_CLOSE_WINDOW, 1, 1, 0);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].tag, "unbinder");
    EXPECT_EQ(seen[1].tag, "callback 2");
    EXPECT_EQ(seen[2].tag, "callback 2");
    EXPECT_EQ(EventBindings->count, 1);
    EXPECT_EQ(EventUnbind(EVENT_CLOSE_WINDOW, -1, -1, -1, Tagged<2>), 1);
    EXPECT_EQ(EventUnbind(EVENT_CLOSE_WINDOW, -1, -1, -1, Tagged<2>), 0);
    EXPECT_EQ(EventBindings->count, 1);  // unbinding never unlinks
    EventQueueAdd(EVENT_CLOSE_WINDOW, 2, 2, 0);
    EXPECT_EQ(seen.size(), 3u);
    EXPECT_EQ(EventBindings->count, 0);  // its last node went in the dispatch
}

void UnbindsItselfAndTheThird() {
    Note("unbinder");
    EventUnbind(EVENT_CLOSE_WINDOW, -1, -1, -1, UnbindsItselfAndTheThird);
    EventUnbind(EVENT_CLOSE_WINDOW, -1, -1, -1, Tagged<3>);
}

TEST_F(EventBindingsDispatchTest, DeferredBindingsRunWhenTheEventIsTaken) {
    ASSERT_EQ(EventBind(EVENT_TIMER, 0, -1, -1, Tagged<1>), 1);
    EventQueueAdd(EVENT_TIMER, 5, 0, 0, 0, nullptr, EVENT_FLAG_DEFER_BINDINGS);
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(EventQueueTake(), EVENT_TIMER);
    EXPECT_EQ(seen, (std::vector<Seen>{{"callback 1", {EVENT_TIMER, 5, 0, 0}}}));
}

// Closing a window from inside one of its own callbacks deletes the entry that is being walked,
// and adding an event there dispatches again inside the running dispatch.
void ClosesItsWindow() {
    Note("closer");
    EventQueueAdd(EVENT_REPAINT, 0, 3, 0);
    EventBindingsRemoveWindow(3);
}

TEST_F(EventBindingsDispatchTest, ACallbackMayCloseItsWindowAndAddEvents) {
    int64_t blocksBefore = test::CountBusyBlocks(MainHeap);
    ASSERT_EQ(EventBind(EVENT_CLOSE_WINDOW, 3, -1, -1, ClosesItsWindow), 1);
    ASSERT_EQ(EventBind(EVENT_CLOSE_WINDOW, 3, -1, -1, Tagged<2>), 1);
    ASSERT_EQ(EventBind(EVENT_REPAINT, 3, -1, -1, Tagged<3>), 1);
    ASSERT_EQ(EventBind(EVENT_CLOSE_WINDOW, -1, -1, -1, Tagged<4>), 1);
    EventQueueAdd(EVENT_CLOSE_WINDOW, 3, 3, 0);
    const std::vector<Seen> expected = {{"closer", {EVENT_CLOSE_WINDOW, 3, 3, 0}},
                                        {"callback 3", {EVENT_REPAINT, 0, 3, 0}},
                                        {"callback 4", {EVENT_CLOSE_WINDOW, 3, 3, 0}}};
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(EventBindings->count, 1);  // the entry keyed with window -1 stays
    ClearBindings();
    // Every node of the window's entries has been freed.
    EXPECT_EQ(test::CountBusyBlocks(MainHeap), blocksBefore);
    test::ExpectEvents("closed", {{EVENT_CLOSE_WINDOW, 3, 3, 0}, {EVENT_REPAINT, 0, 3, 0}});
}

TEST_F(EventBindingsTest, BindingFailsWholeWhenMemoryRunsOut) {
    EXPECT_EQ(EventBind(EVENT_GADGET, 0, 1, 0, nullptr), 0);
#if RT_HAS_ALLOCATION_HOOK
    test::SweepAllocationFailures([](int) {
        int64_t bound = EventBind(EVENT_GADGET, 0, 1, 0, Tagged<1>);
        EXPECT_EQ(EventBindings->count, bound);  // no entry without a node
        ClearBindings();
        return bound == 1;
    });
#endif
}

}  // namespace
}  // namespace rt
