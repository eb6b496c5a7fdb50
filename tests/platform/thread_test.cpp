// Contract of thread handles and registered waits, on both builds: a thread's duplicated handle
// becomes signalled once the thread has ended, and a registered wait's callback then runs once, on
// another thread, and may unregister its own wait.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include "support/support.h"

namespace {

// A thread that duplicates its own handle and stays alive until the test lets it end.
class EndingThread {
  public:
    EndingThread() {
        thread_ = std::thread([this] {
            DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &handle,
                            SYNCHRONIZE, FALSE, 0);
            id = GetCurrentThreadId();
            started_ = true;
            while (!release_) {
                Sleep(1);
            }
            leaving = true;
        });
        while (!started_) {
            Sleep(1);
        }
    }
    ~EndingThread() { End(); }

    void End() {
        release_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
    }

    HANDLE handle = nullptr;
    DWORD id = 0;
    std::atomic<bool> leaving{false};  // set by the thread's last statement

  private:
    std::atomic<bool> started_{false};
    std::atomic<bool> release_{false};
    std::thread thread_;
};

// What a wait callback saw.
struct Observation {
    EndingThread* thread = nullptr;
    HANDLE waitHandle = nullptr;
    bool unregisterFromInside = false;
    std::atomic<int> calls{0};
    DWORD callbackThread = 0;
    BOOLEAN timedOut = FALSE;
    bool threadHadLeft = false;
    bool handleWasSignalled = false;
    bool unregisterAccepted = false;
};

void CALLBACK Observe(PVOID context, BOOLEAN timedOut) {
    auto* seen = static_cast<Observation*>(context);
    seen->callbackThread = GetCurrentThreadId();
    seen->timedOut = timedOut;
    seen->threadHadLeft = seen->thread->leaving;
    seen->handleWasSignalled = WaitForSingleObject(seen->thread->handle, 0) == WAIT_OBJECT_0;
    if (seen->unregisterFromInside) {
        // Windows answers ERROR_IO_PENDING while the wait's own callback is running.
        seen->unregisterAccepted =
            UnregisterWait(seen->waitHandle) || GetLastError() == ERROR_IO_PENDING;
        CloseHandle(seen->thread->handle);
    }
    seen->calls += 1;
}

TEST(DuplicateHandle, ThreadHandleIsSignalledOnlyAfterTheThreadEnded) {
    EndingThread thread;
    ASSERT_NE(thread.handle, nullptr);
    EXPECT_NE(thread.handle, GetCurrentThread());
    EXPECT_EQ(WaitForSingleObject(thread.handle, 0), static_cast<DWORD>(WAIT_TIMEOUT));

    std::atomic<bool> waitReturned{false};
    std::thread waiter([&] {
        EXPECT_EQ(WaitForSingleObject(thread.handle, INFINITE), WAIT_OBJECT_0);
        waitReturned = true;
    });
    Sleep(20);
    EXPECT_FALSE(waitReturned);  // the thread is still running
    thread.End();
    waiter.join();
    EXPECT_TRUE(waitReturned);
    EXPECT_EQ(WaitForSingleObject(thread.handle, 0), WAIT_OBJECT_0);  // and stays signalled
    EXPECT_TRUE(CloseHandle(thread.handle));
}

TEST(DuplicateHandle, DuplicateOfARealHandleOutlivesTheOriginal) {
    EndingThread thread;
    HANDLE second = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), thread.handle, GetCurrentProcess(), &second, 0,
                                FALSE, DUPLICATE_SAME_ACCESS));
    EXPECT_NE(second, thread.handle);
    EXPECT_TRUE(CloseHandle(thread.handle));
    EXPECT_EQ(WaitForSingleObject(second, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    thread.End();
    EXPECT_EQ(WaitForSingleObject(second, INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(second));
}

TEST(DuplicateHandle, MainThreadIsNotSignalledWhileTheProcessExits) {
    // Windows ends the other threads before anything could see the main thread end; a callback
    // that ran during exit would touch memory the exiting program is tearing down.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            HANDLE self = nullptr;
            HANDLE wait = nullptr;
            DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &self,
                            SYNCHRONIZE, FALSE, 0);
            RegisterWaitForSingleObject(
                &wait, self, [](PVOID, BOOLEAN) { std::_Exit(7); }, nullptr, INFINITE,
                WT_EXECUTEONLYONCE);
            std::atexit([] { Sleep(200); });  // time for a wrongly started callback to show
            std::exit(0);
        },
        testing::ExitedWithCode(0), "");
}

TEST(RegisterWaitForSingleObject, CallbackRunsOnceOnAnotherThreadAfterTheThreadEnded) {
    EndingThread thread;
    Observation seen;
    seen.thread = &thread;
    ASSERT_TRUE(RegisterWaitForSingleObject(&seen.waitHandle, thread.handle, Observe, &seen,
                                            INFINITE, WT_EXECUTEONLYONCE));
    Sleep(20);
    EXPECT_EQ(seen.calls, 0);  // not while the thread runs

    thread.End();
    ASSERT_TRUE(rt::test::WaitUntil([&] { return seen.calls > 0; }));
    Sleep(20);
    EXPECT_EQ(seen.calls, 1);
    EXPECT_NE(seen.callbackThread, thread.id);
    EXPECT_NE(seen.callbackThread, GetCurrentThreadId());
    EXPECT_EQ(seen.timedOut, FALSE);
    EXPECT_TRUE(seen.threadHadLeft);
    EXPECT_TRUE(seen.handleWasSignalled);
    EXPECT_TRUE(UnregisterWait(seen.waitHandle));
    EXPECT_TRUE(CloseHandle(thread.handle));
}

TEST(UnregisterWait, CallbackMayUnregisterItsOwnWaitAndCloseTheThreadHandle) {
    EndingThread thread;
    Observation seen;
    seen.thread = &thread;
    seen.unregisterFromInside = true;
    ASSERT_TRUE(RegisterWaitForSingleObject(&seen.waitHandle, thread.handle, Observe, &seen,
                                            INFINITE, WT_EXECUTEONLYONCE));
    thread.End();
    ASSERT_TRUE(rt::test::WaitUntil([&] { return seen.calls > 0; }));  // did not block
    Sleep(20);
    EXPECT_EQ(seen.calls, 1);
    EXPECT_TRUE(seen.unregisterAccepted);
    EXPECT_TRUE(seen.handleWasSignalled);
}

TEST(RegisterWaitForSingleObject, TimeOutCallsTheCallbackWithTheFlagSetAndOnlyOnce) {
    EndingThread thread;
    Observation seen;
    seen.thread = &thread;
    ASSERT_TRUE(RegisterWaitForSingleObject(&seen.waitHandle, thread.handle, Observe, &seen, 10,
                                            WT_EXECUTEONLYONCE));
    ASSERT_TRUE(rt::test::WaitUntil([&] { return seen.calls > 0; }));
    EXPECT_EQ(seen.timedOut, TRUE);
    EXPECT_FALSE(seen.handleWasSignalled);

    thread.End();  // the wait has fired once already: the end does not fire it again
    Sleep(20);
    EXPECT_EQ(seen.calls, 1);
    EXPECT_TRUE(UnregisterWait(seen.waitHandle));
    EXPECT_TRUE(CloseHandle(thread.handle));
}

}  // namespace
