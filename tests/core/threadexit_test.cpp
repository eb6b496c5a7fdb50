// The thread-exit service: routines queued by a thread run once, on another thread, after it has
// ended, newest first; failed allocations queue nothing; the service's start survives a race.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "support/support.h"

namespace rt {
namespace {

// The argument of a test routine: what it is called, and the queuing thread's own handle, so that
// the routine can tell whether that thread had ended when it ran.
struct Probe {
    int tag;
    HANDLE thread;
};

struct RoutineRun {
    int tag;
    DWORD thread;
    bool ownerHadEnded;
};

std::mutex runLock;
std::vector<RoutineRun> runs;

void Record(void* argument) {
    auto* probe = static_cast<Probe*>(argument);
    std::lock_guard<std::mutex> guard(runLock);
    runs.push_back(
        {probe->tag, GetCurrentThreadId(), WaitForSingleObject(probe->thread, 0) == WAIT_OBJECT_0});
}

std::vector<RoutineRun> RunsOf(int firstTag, int lastTag) {
    std::lock_guard<std::mutex> guard(runLock);
    std::vector<RoutineRun> found;
    for (const RoutineRun& run : runs) {
        if (run.tag >= firstTag && run.tag <= lastTag) {
            found.push_back(run);
        }
    }
    return found;
}

HANDLE DuplicateCurrentThread() {
    HANDLE handle = nullptr;
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &handle,
                    SYNCHRONIZE, FALSE, 0);
    return handle;
}

TEST(ThreadExitRegister, TwoRegistrationsShareOneContextAndRunNewestFirstAfterTheThreadEnded) {
    Probe first{1, nullptr};
    Probe second{2, nullptr};
    ThreadExitContext* context = nullptr;
    DWORD ended = test::RunOnNewThread([&] {
        first.thread = second.thread = DuplicateCurrentThread();
        auto* firstItem = static_cast<ThreadExitItem*>(ThreadExitRegister(Record, &first));
        auto* secondItem = static_cast<ThreadExitItem*>(ThreadExitRegister(Record, &second));
        ASSERT_NE(firstItem, nullptr);
        ASSERT_NE(secondItem, nullptr);
        context = static_cast<ThreadExitContext*>(TlsGetValue(ThreadExitService.tlsIndex));
        ASSERT_NE(context, nullptr);
        EXPECT_EQ(context->items, secondItem);
        EXPECT_EQ(secondItem->next, firstItem);
        EXPECT_EQ(firstItem->next, nullptr);
        EXPECT_EQ(secondItem->routine, Record);
        EXPECT_EQ(secondItem->argument, &second);
        EXPECT_NE(context->threadHandle, nullptr);
        EXPECT_NE(context->waitHandle, nullptr);
        EXPECT_TRUE(test::ThreadExitContextLive(context));
        Sleep(20);
        EXPECT_TRUE(RunsOf(1, 2).empty());  // nothing runs while the thread does
    });
    ASSERT_TRUE(test::WaitUntil([] { return RunsOf(1, 2).size() >= 2; }));
    Sleep(20);
    std::vector<RoutineRun> made = RunsOf(1, 2);
    ASSERT_EQ(made.size(), 2u);  // once each
    EXPECT_EQ(made[0].tag, 2);
    EXPECT_EQ(made[1].tag, 1);
    for (const RoutineRun& run : made) {
        EXPECT_NE(run.thread, ended);
        EXPECT_TRUE(run.ownerHadEnded);
    }
    EXPECT_FALSE(test::ThreadExitContextLive(context));
    CloseHandle(first.thread);
}

// Threads released together make the first registrations of a fresh process; exits with 0 when
// the service took one slot and every thread found its own context, whole, on the one chain.
[[noreturn]] void RaceToStartTheService() {
    constexpr int THREADS = 8;
    // The service takes the lowest free slot; a second start would take another.
    DWORD serviceSlot = TlsAlloc();
    TlsFree(serviceSlot);
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    std::atomic<int> wellFormed{0};
    std::vector<Probe> probes(2 * THREADS);
    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; ++t) {
        threads.emplace_back([&, t] {
            Probe* mine = &probes[2 * t];
            mine[0] = {10 + 2 * t, DuplicateCurrentThread()};
            mine[1] = {11 + 2 * t, mine[0].thread};
            // The last thread to arrive lets all go while the others spin, so that the
            // threads holding the processors enter at the same moment.
            if (ready.fetch_add(1) + 1 == THREADS) {
                go = true;
            }
            while (!go) {
            }
            ThreadExitRegister(Record, &mine[0]);
            ThreadExitRegister(Record, &mine[1]);
            // The thread finds its one context again, with both items, on the chain.
            auto* context =
                static_cast<ThreadExitContext*>(TlsGetValue(ThreadExitService.tlsIndex));
            if (context != nullptr && context->items != nullptr &&
                context->items->argument == &mine[1] && context->items->next != nullptr &&
                context->items->next->argument == &mine[0] &&
                test::ThreadExitContextLive(context)) {
                wellFormed += 1;
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    DWORD nextFree = TlsAlloc();
    bool oneSlot = ThreadExitService.tlsIndex == serviceSlot && nextFree == serviceSlot + 1;
    // Every routine runs, and the process does not exit under a running one.
    bool allRan =
        test::WaitUntil([&] { return RunsOf(10, 9 + 2 * THREADS).size() == 2 * THREADS; });
    std::exit(oneSlot && wellFormed == THREADS && allRan ? 0 : 1);
}

TEST(ThreadExitRegister, ThreadsRacingToStartTheServiceShareOneSlotAndOneChain) {
    // Only the first registration of a process starts the service, so every round needs a new
    // process; a race is not certain to collide, so there are several rounds.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (int round = 0; round < 10; ++round) {
        EXPECT_EXIT(RaceToStartTheService(), testing::ExitedWithCode(0), "") << "round " << round;
    }
}

#if RT_HAS_ALLOCATION_HOOK
TEST(ThreadExitRegister, FailedContextOrItemAllocationQueuesNothing) {
    std::atomic<int> ranCount{0};
    static std::atomic<int>* counter;
    counter = &ranCount;
    auto count = [](void*) { *counter += 1; };
    int failures = test::SweepAllocationFailures([&](int) {
        ranCount = 0;
        void* item = nullptr;
        ThreadExitContext* context = nullptr;
        test::RunOnNewThread([&] {
            item = ThreadExitRegister(count, nullptr);
            context = static_cast<ThreadExitContext*>(TlsGetValue(ThreadExitService.tlsIndex));
            if (item == nullptr && context != nullptr) {
                EXPECT_EQ(context->items, nullptr);  // the item failed: the context stays empty
            }
        });
        // After the thread's end its context, if it got one, is run and unlinked.
        EXPECT_TRUE(test::WaitUntil([&] {
            return !test::ThreadExitContextLive(context) && ranCount == (item != nullptr ? 1 : 0);
        }));
        Sleep(10);
        EXPECT_EQ(ranCount, item != nullptr ? 1 : 0);
        return item != nullptr;
    });
    EXPECT_EQ(failures, 2);  // the context, then the item
}
#endif

}  // namespace
}  // namespace rt
