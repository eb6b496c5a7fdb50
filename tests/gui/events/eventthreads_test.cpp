// The event library used by several threads at once, so that ThreadSanitizer sees the queues, the
// shared bindings and EventLock under load: each thread's queue stays its own while the bindings
// change and run on every thread.
#include <atomic>
#include <thread>
#include <vector>

#include "eventtest.h"

namespace rt::test {
namespace {

std::atomic<int> boundCalls{0};

void CountCall() {
    boundCalls.fetch_add(1);
}

void OtherCall() {}

TEST(EventLock, ThreadsQueueingAndBindingAtOnceKeepTheirQueuesAndEveryCall) {
    constexpr int THREADS = 3;
    constexpr int EVENTS = 200;
    constexpr int64_t WINDOW = 7;
    boundCalls = 0;
    ASSERT_EQ(EventBind(EVENT_TIMER, WINDOW, -1, -1, CountCall), 1);
    std::atomic<int> wrongQueues{0};
    std::vector<std::thread> threads;
    for (int64_t thread = 0; thread < THREADS; ++thread) {
        threads.emplace_back([thread, &wrongQueues] {
            EventRows expected;
            for (int64_t type = 0; type < EVENTS; ++type) {
                EventQueueAdd(EVENT_TIMER, thread, WINDOW, type);
                expected.push_back({EVENT_TIMER, thread, WINDOW, type});
                // Another key's list grows and empties meanwhile, in the same map.
                EventBind(EVENT_MENU, WINDOW, thread, type, OtherCall);
                EventUnbind(EVENT_MENU, WINDOW, thread, type, OtherCall);
                EventQueueAdd(EVENT_MENU, thread, WINDOW, type, 0, nullptr);
                expected.push_back({EVENT_MENU, thread, WINDOW, type});
            }
            if (DrainEvents() != expected) {
                wrongQueues.fetch_add(1);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(wrongQueues, 0) << "a queue held another thread's events or lost its own";
    EXPECT_EQ(boundCalls, THREADS * EVENTS) << "every timer event ran its binding once";
    EXPECT_EQ(EventUnbind(EVENT_TIMER, WINDOW, -1, -1, CountCall), 1);
}

}  // namespace
}  // namespace rt::test
