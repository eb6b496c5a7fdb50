#include <functional>

#include "eventtest.h"
#include "support/support.h"

namespace rt {
namespace {

using test::EventRows;
using test::ExpectEvents;

void Add(int32_t code, int64_t object, int64_t window, int64_t type, int32_t flags = 0) {
    EventQueueAdd(code, object, window, type, 0, nullptr, flags);
}

struct QueueScenario {
    const char* name;
    std::function<void()> actions;
    EventRows expected;
};

TEST(EventQueueAdd, MergesRemovesAndKeepsItsTail) {
    constexpr int32_t LARGE = 70000;
    const QueueScenario scenarios[] = {
        {"two repaints merge",
         [] {
             Add(EVENT_REPAINT, 0, 3, 0);
             Add(EVENT_REPAINT, 0, 3, 0);
         },
         {{EVENT_REPAINT, 0, 3, 0}}},
        {"only the tail merges",
         [] {
             Add(EVENT_REPAINT, 0, 3, 0);
             Add(EVENT_WINDOW_MOVED, 3, 3, 0);
             Add(EVENT_REPAINT, 0, 3, 0);
         },
         {{EVENT_REPAINT, 0, 3, 0}, {EVENT_WINDOW_MOVED, 3, 3, 0}, {EVENT_REPAINT, 0, 3, 0}}},
        {"every field must match",
         [] {
             Add(EVENT_GADGET, 1, 0, 0);
             Add(EVENT_GADGET, 2, 0, 0);
             Add(EVENT_GADGET, 2, 1, 0);
             Add(EVENT_GADGET, 2, 1, 768);
         },
         {{EVENT_GADGET, 1, 0, 0},
          {EVENT_GADGET, 2, 0, 0},
          {EVENT_GADGET, 2, 1, 0},
          {EVENT_GADGET, 2, 1, 768}}},
        {"codes of 65536 and more never merge",
         [] {
             Add(LARGE, 0, 0, 0);
             Add(LARGE, 0, 0, 0);
         },
         {{LARGE, 0, 0, 0}, {LARGE, 0, 0, 0}}},
        {"deferred events never merge",
         [] {
             Add(EVENT_TIMER, 1, 0, 0, EVENT_FLAG_DEFER_BINDINGS);
             Add(EVENT_TIMER, 1, 0, 0, EVENT_FLAG_DEFER_BINDINGS);
         },
         {{EVENT_TIMER, 1, 0, 0}, {EVENT_TIMER, 1, 0, 0}}},
        {"emptied, the next add is head and tail",
         [] {
             Add(EVENT_REPAINT, 0, 3, 0);
             Add(EVENT_LEFT_CLICK, 0, 3, 0);
             EventQueueRemove(-1, -1, -1, -1);
             Add(EVENT_LEFT_CLICK, 0, 3, 0);
             Add(EVENT_RIGHT_CLICK, 0, 3, 0);
         },
         {{EVENT_LEFT_CLICK, 0, 3, 0}, {EVENT_RIGHT_CLICK, 0, 3, 0}}},
        {"a removed tail gives way to the last entry kept",
         [] {
             Add(EVENT_REPAINT, 0, 3, 0);
             Add(EVENT_GADGET, 2, 3, 0);
             EventQueueRemove(EVENT_GADGET, 2, -1, -1);
             Add(EVENT_REPAINT, 0, 3, 0);
         },
         {{EVENT_REPAINT, 0, 3, 0}}},
        {"a pattern removes every match, wherever it stands",
         [] {
             Add(EVENT_GADGET, 1, 0, 0);
             Add(EVENT_MENU, 1, 0, 0);
             Add(EVENT_GADGET, 1, 5, 1);
             Add(EVENT_GADGET, 2, 0, 0);
             Add(EVENT_GADGET, 1, 0, 0);
             EventQueueRemove(EVENT_GADGET, 1, -1, -1);
         },
         {{EVENT_MENU, 1, 0, 0}, {EVENT_GADGET, 2, 0, 0}}},
        {"the size pattern leaves other windows and types",
         [] {
             Add(EVENT_WINDOW_SIZED, 0, 1, 0);
             Add(EVENT_WINDOW_SIZED, 0, 2, 0);
             Add(EVENT_WINDOW_SIZED, 0, 1, 4);
             EventQueueRemove(EVENT_WINDOW_SIZED, 0, 1, 0);
         },
         {{EVENT_WINDOW_SIZED, 0, 2, 0}, {EVENT_WINDOW_SIZED, 0, 1, 4}}},
        {"a window's events go, whatever their code",
         [] {
             Add(EVENT_REPAINT, 0, 5, 0);
             Add(EVENT_CLOSE_WINDOW, 4, 4, 0);
             Add(EVENT_GADGET, 5, 4, 0);
             Add(EVENT_CLOSE_WINDOW, 5, 5, 0);
             EventQueueRemoveWindow(5);
             Add(EVENT_GADGET, 5, 4, 0);
         },
         {{EVENT_CLOSE_WINDOW, 4, 4, 0}, {EVENT_GADGET, 5, 4, 0}}},
    };
    for (const QueueScenario& scenario : scenarios) {
        scenario.actions();
        ExpectEvents(scenario.name, scenario.expected);
    }
}

TEST(EventQueuePeek, ShowsTheOldestWithoutTakingIt) {
    int64_t object = 99, window = 99, type = 99;
    EXPECT_EQ(EventQueuePeek(&object, &window, &type), 0);
    EXPECT_EQ(object, 99);  // nothing written for an empty queue
    EXPECT_EQ(EventQueuePeekCode(), 0);
    Add(EVENT_GADGET, 2, 0, 1);
    Add(EVENT_CLOSE_WINDOW, 0, 0, 0);
    EXPECT_EQ(EventQueuePeek(&object, &window, &type), EVENT_GADGET);
    EXPECT_EQ(object, 2);
    EXPECT_EQ(window, 0);
    EXPECT_EQ(type, 1);
    EXPECT_EQ(EventQueuePeekCode(), EVENT_GADGET);
    ExpectEvents("peeked", {{EVENT_GADGET, 2, 0, 1}, {EVENT_CLOSE_WINDOW, 0, 0, 0}});
}

int64_t releasedData[4];
int releaseCount = 0;
void RecordRelease(int64_t data) {
    releasedData[releaseCount++ % 4] = data;
}

TEST(EventQueueTake, CurrentEventLastsUntilTheNextTakeThatFindsOne) {
    Add(EVENT_GADGET, 2, 0, 0);
    EXPECT_EQ(EventQueueTake(), EVENT_GADGET);
    EXPECT_EQ(EventCurrentCode(), EVENT_GADGET);
    EXPECT_EQ(EventGadgetId(), 2);
    // An empty take resets the code and the type only.
    EXPECT_EQ(EventQueueTake(), 0);
    EXPECT_EQ(EventCurrentCode(), 0);
    EXPECT_EQ(EventType(), -1);
    EXPECT_EQ(EventGadgetId(), 2);
    EXPECT_EQ(EventWindowId(), 0);
    Add(EVENT_MENU, 7, 1, 0);
    EXPECT_EQ(EventQueueTake(), EVENT_MENU);
    EXPECT_EQ(EventGadgetId(), 7);
}

TEST(EventQueueTake, ReleasesTheDataOnceWhenTheEventStopsBeingCurrent) {
    releaseCount = 0;
    EventQueueAdd(EVENT_TIMER, 1, 0, 0, 41, RecordRelease);
    EventQueueAdd(EVENT_TIMER, 1, 0, 0, 42, RecordRelease);  // merged: never released
    EventQueueAdd(EVENT_TIMER, 2, 0, 0, 0, RecordRelease);   // no data: nothing to release
    EventQueueAdd(EVENT_TIMER, 3, 0, 0, 43, nullptr);        // no function
    EXPECT_EQ(EventQueueTake(), EVENT_TIMER);
    EXPECT_EQ(EventData(), 41);
    EXPECT_EQ(releaseCount, 0);
    EXPECT_EQ(EventQueueTake(), EVENT_TIMER);
    EXPECT_EQ(releaseCount, 1);
    EXPECT_EQ(releasedData[0], 41);
    EXPECT_EQ(EventQueueTake(), EVENT_TIMER);
    EXPECT_EQ(EventQueueTake(), 0);
    EXPECT_EQ(EventQueueTake(), 0);
    EXPECT_EQ(releaseCount, 1);
}

TEST(EventThreadData, AThreadsPoolGoesWhenTheThreadEnds) {
    int64_t blocksBefore = test::CountBusyBlocks(MainHeap);
    test::RunOnNewThread([] {
        // More than one block's worth, left queued when the thread ends.
        for (int i = 0; i < 300; ++i) {
            Add(EVENT_GADGET, i, 0, 0);
        }
        EXPECT_EQ(EventQueuePeekCode(), EVENT_GADGET);
    });
    EXPECT_TRUE(test::WaitUntil([&] { return test::CountBusyBlocks(MainHeap) == blocksBefore; }));
    // The thread's queue was its own.
    EXPECT_EQ(EventQueuePeekCode(), 0);
}

#if RT_HAS_ALLOCATION_HOOK
TEST(EventQueueAdd, AnEventWithoutASlotIsDroppedAndTheQueueStaysSound) {
    test::RunOnNewThread([] {
        // The first block holds 16 slots, one of them kept by the pool's owner: the 16th event
        // needs a new block, and the pool falls back to a one-slot block before it gives up.
        for (int i = 0; i < 15; ++i) {
            Add(EVENT_GADGET, i, 0, 0);
        }
        PlatformFailAllocation(1, 2);
        Add(EVENT_GADGET, 15, 0, 0);
        EXPECT_FALSE(PlatformAllocationFailurePending());
        Add(EVENT_GADGET, 16, 0, 0);
        EventRows expected;
        for (int i = 0; i < 17; ++i) {
            if (i != 15) {
                expected.push_back({EVENT_GADGET, i, 0, 0});
            }
        }
        ExpectEvents("pool full", expected);
    });
}
#endif

}  // namespace
}  // namespace rt
