// Contract of the critical sections, interlocked operations and library calls, on both builds.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "runtime/platform/platform.h"

namespace {

TEST(CriticalSection, IsReentrantForTheOwningThreadAndExcludesOthers) {
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    EnterCriticalSection(&section);
    EnterCriticalSection(&section);  // would deadlock if not re-entrant
    LeaveCriticalSection(&section);

    // Still held once: another thread must wait until the last leave.
    LONG volatile entered = 0;
    std::thread other([&] {
        EnterCriticalSection(&section);
        InterlockedExchange(&entered, 1);
        LeaveCriticalSection(&section);
    });
    Sleep(50);
    EXPECT_EQ(entered, 0);
    LeaveCriticalSection(&section);
    other.join();
    EXPECT_EQ(entered, 1);
    DeleteCriticalSection(&section);
}

TEST(CriticalSection, SerialisesIncrementsFromSeveralThreads) {
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                EnterCriticalSection(&section);
                counter = counter + 1;
                LeaveCriticalSection(&section);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(counter, 80000);
    DeleteCriticalSection(&section);
}

TEST(Interlocked, CompareExchangeReturnsTheValueFoundAndSwapsOnlyOnMatch) {
    LONG volatile value = 5;
    EXPECT_EQ(InterlockedCompareExchange(&value, 9, 4), 5);
    EXPECT_EQ(value, 5);
    EXPECT_EQ(InterlockedCompareExchange(&value, 9, 5), 5);
    EXPECT_EQ(value, 9);
    EXPECT_EQ(InterlockedExchange(&value, -3), 9);
    EXPECT_EQ(value, -3);
}

TEST(LoadLibraryW, FindsKernel32OnlyOnWindows) {
    HMODULE kernel = LoadLibraryW(RT_TEXT("Kernel32.dll"));
#ifdef _WIN32
    ASSERT_NE(kernel, nullptr);
    EXPECT_NE(GetProcAddress(kernel, "InitOnceExecuteOnce"), nullptr);
    EXPECT_TRUE(FreeLibrary(kernel));
#else
    EXPECT_EQ(kernel, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
#endif
}

}  // namespace
