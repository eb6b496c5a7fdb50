#include <atomic>
#include <chrono>
#include <thread>

#include "eventtest.h"
#include "support/support.h"

namespace rt {
namespace {

// Dispatches this thread's messages until `done` holds or five seconds have passed.
template <typename Condition>
bool PumpUntil(Condition done) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done()) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageW(&message);
        }
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return true;
}

TEST(EventPost, AnotherThreadsEventsReachThisThreadsQueueInOrder) {
    std::atomic<int> posted{0};
    std::thread sender([&] {
        for (int i = 0; i < 100; ++i) {
            posted += static_cast<int>(EventPost(EVENT_GADGET, i, 0, 0, 0));
        }
    });
    test::EventRows received;
    EXPECT_TRUE(PumpUntil([&] {
        for (test::EventRow row : test::DrainEvents()) {
            received.push_back(row);
        }
        return received.size() == 100;
    }));
    sender.join();
    EXPECT_EQ(posted, 100);
    for (int i = 0; i < static_cast<int>(received.size()); ++i) {
        EXPECT_EQ(received[i], (test::EventRow{EVENT_GADGET, i, 0, 0})) << "row " << i;
    }
}

TEST(EventPost, IdenticalPostsMergeAndEveryRecordIsFreed) {
    int64_t blocksBefore = test::CountBusyBlocks(MainHeap);
    ASSERT_EQ(EventPost(EVENT_REPAINT, 0, 1, 0, 0), 1);
    ASSERT_EQ(EventPost(EVENT_REPAINT, 0, 1, 0, 0), 1);
    EXPECT_TRUE(PumpUntil([] {
        MSG message;
        return !PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
    }));
    EXPECT_EQ(test::CountBusyBlocks(MainHeap), blocksBefore);
    test::ExpectEvents("merged", {{EVENT_REPAINT, 0, 1, 0}});
}

TEST(PostEventWindowProc, IgnoresARecordItDidNotHandOut) {
    // The message number is shared by the whole desktop: another program may send it with any
    // address. Freeing this one would corrupt the heap.
    PostedEventRecord foreign = {EVENT_GADGET, 1, 0, 0, 0};
    SendMessageW(PostEventWindow, PostEventMessage, 0, reinterpret_cast<LPARAM>(&foreign));
    EXPECT_EQ(EventQueuePeekCode(), 0);
    EXPECT_NE(HeapValidate(MainHeap, 0, nullptr), 0);
}

}  // namespace
}  // namespace rt
