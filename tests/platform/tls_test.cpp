// Contract of the TLS slots and the 16-bit wide-string functions, on both builds.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "runtime/platform/platform.h"

namespace {

TEST(TlsAlloc, FreshSlotReadsNullOnEveryThreadUntilThatThreadSetsIt) {
    DWORD slot = TlsAlloc();
    ASSERT_NE(slot, TLS_OUT_OF_INDEXES);
    EXPECT_EQ(TlsGetValue(slot), nullptr);
    int mine = 1;
    ASSERT_TRUE(TlsSetValue(slot, &mine));
    std::thread other([slot] {
        EXPECT_EQ(TlsGetValue(slot), nullptr);
        int theirs = 2;
        TlsSetValue(slot, &theirs);
        EXPECT_EQ(TlsGetValue(slot), &theirs);
    });
    other.join();
    EXPECT_EQ(TlsGetValue(slot), &mine);
    EXPECT_TRUE(TlsFree(slot));
}

TEST(TlsAlloc, ReallocatedSlotDoesNotShowTheValueOfItsPreviousUseOnAnyThread) {
    DWORD slot = TlsAlloc();
    int value = 1;
    TlsSetValue(slot, &value);
    // A thread that stored a value and is still running when the slot is freed.
    std::atomic<int> step{0};
    std::thread other([slot, &step] {
        static int theirs;
        TlsSetValue(slot, &theirs);
        step = 1;
        while (step != 2) {
            std::this_thread::yield();
        }
        EXPECT_EQ(TlsGetValue(slot), nullptr);
    });
    while (step != 1) {
        std::this_thread::yield();
    }
    TlsFree(slot);
    // Windows hands out the lowest free index, so the same one comes back.
    DWORD again = TlsAlloc();
    EXPECT_EQ(again, slot);
    EXPECT_EQ(TlsGetValue(again), nullptr);
    step = 2;
    other.join();
    TlsFree(again);
}

TEST(TlsGetValue, ValueOfAnEndedThreadIsNotSeenByANewThread) {
    // A new thread may reuse the storage of one that ended; it still starts with null.
    DWORD slot = TlsAlloc();
    static int value;
    std::thread([slot] { TlsSetValue(slot, &value); }).join();
    std::thread([slot] { EXPECT_EQ(TlsGetValue(slot), nullptr); }).join();
    TlsFree(slot);
}

TEST(TlsGetValue, ClearsTheLastErrorOnSuccess) {
    DWORD slot = TlsAlloc();
    SetLastError(ERROR_ACCESS_DENIED);
    TlsGetValue(slot);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    TlsFree(slot);
}

TEST(WideString, LengthCompareAndCopyWorkOnSixteenBitUnits) {
    const WCHAR* text = RT_TEXT("abc\u00e9");
    EXPECT_EQ(wcslen(text), 4u);
    EXPECT_EQ(wcslen(RT_TEXT("")), 0u);
    EXPECT_EQ(wcscmp(text, RT_TEXT("abc\u00e9")), 0);
    EXPECT_LT(wcscmp(RT_TEXT("ab"), RT_TEXT("abc")), 0);
    EXPECT_GT(wcscmp(RT_TEXT("\uffff"), RT_TEXT("a")), 0);  // units compare unsigned
    WCHAR copy[8];
    EXPECT_EQ(wcscpy(copy, text), copy);
    EXPECT_EQ(wcscmp(copy, text), 0);
}

TEST(WideString, CaseInsensitiveCompareFoldsAsciiLetters) {
    EXPECT_EQ(_wcsicmp(RT_TEXT("Hello"), RT_TEXT("hELLO")), 0);
    EXPECT_NE(_wcsicmp(RT_TEXT("a"), RT_TEXT("b")), 0);
    EXPECT_LT(_wcsicmp(RT_TEXT("ABC"), RT_TEXT("abd")), 0);
    EXPECT_NE(_wcsicmp(RT_TEXT("["), RT_TEXT("{")), 0);  // not letters: no folding
}

}  // namespace
