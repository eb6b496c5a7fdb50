#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "runtime/strings/strings.h"
#include "support/support.h"

namespace rt {
namespace {

std::u16string Text(const WCHAR* text) {
    return text != nullptr ? reinterpret_cast<const char16_t*>(text) : u"";
}

TEST(StringBuilderReserve, FirstGrowthOfAFreshRecordAddsSixteenKilobytes) {
    // A fresh thread has a fresh record: 16-byte buffer, capacity 16.
    std::thread([] {
        StringBuilderEnsure();
        WCHAR* before = StringBuilderBase();
        EXPECT_EQ(HeapSize(StringHeap, 0, before), 16u);
        StringBuilderReserve(8, -1);  // 16 bytes: reaches capacity - 4
        EXPECT_EQ(HeapSize(StringHeap, 0, StringBuilderBase()), 16410u);
        EXPECT_EQ(StringBuilderMark(), 16);
        StringBuilderRewind(0);
    }).join();
}

TEST(StringBuilderMakeRoom, GrowsAsTheReservationWouldOrChangesNothing) {
    std::thread([] {
        StringBuilderEnsure();
        StringBuilderLimitPositions(1000);
        EXPECT_FALSE(StringBuilderMakeRoom(501));  // 1002 bytes: beyond the bound
        EXPECT_EQ(HeapSize(StringHeap, 0, StringBuilderBase()), 16u);
        EXPECT_TRUE(StringBuilderMakeRoom(8));
        StringBuilderLimitPositions(0);
        WCHAR* grown = StringBuilderBase();
        EXPECT_EQ(HeapSize(StringHeap, 0, grown), 16410u);
        EXPECT_EQ(StringBuilderMark(), 0);
        StringBuilderReserve(8, -1);  // fits now: the buffer stays
        EXPECT_EQ(StringBuilderBase(), grown);
        StringBuilderRewind(0);
    }).join();
}

TEST(StringBuilderReserve, AtAGivenPositionLeavesThePositionAfterTheRoom) {
    int32_t mark = StringBuilderMark();
    StringAppend(RT_TEXT("abcdef"));
    WCHAR* room = StringBuilderReserve(2, mark + 4);
    EXPECT_EQ(room, StringBuilderBase() + mark / 2 + 2);
    EXPECT_EQ(StringBuilderMark(), mark + 8);
    StringBuilderUnreserve(1);
    EXPECT_EQ(StringBuilderMark(), mark + 6);
    StringBuilderRewind(mark);
}

TEST(StringAppend, ConcatenationSurvivesTheBufferMoving) {
    // The output name of an action: directory + base name + suffix + extension, with a base name
    // long enough to make the builder grow in the middle of the expression.
    std::u16string longName(20000, u'n');
    int32_t rewind = StringBuilderMark();
    int32_t start = StringBuilderMark();
    StringAppend(RT_TEXT("C:\\data\\"));
    StringAppend(reinterpret_cast<const WCHAR*>(longName.c_str()));
    StringAppend(RT_TEXT("-enc."));
    StringAppend(nullptr);
    StringAppend(RT_TEXT("txt"));
    StringTerminate();
    const WCHAR* joined = StringBuilderBase() + start / 2;  // taken after the last append
    EXPECT_EQ(Text(joined), u"C:\\data\\" + longName + u"-enc.txt");
    StringBuilderRewind(rewind);
    EXPECT_EQ(StringBuilderMark(), rewind);
}

TEST(StringAssign, CopiesFromTheMarkAndRewinds) {
    WCHAR* variable = nullptr;
    int32_t mark = StringBuilderMark();
    StringAppend(RT_TEXT("first"));
    StringAssign(&variable, mark);
    EXPECT_EQ(Text(variable), u"first");
    EXPECT_EQ(StringBuilderMark(), mark);

    StringAppend(RT_TEXT("a much longer second value"));
    StringAssign(&variable, mark);  // the block is reallocated to the new length
    EXPECT_EQ(Text(variable), u"a much longer second value");

    StringAssign(&variable, mark);  // an empty result is a real, empty string
    ASSERT_NE(variable, nullptr);
    EXPECT_EQ(variable[0], 0);
    EXPECT_EQ(HeapSize(StringHeap, 0, variable), 10u);

    // A block that held a long text takes the size of the short one assigned after it.
    test::WideString longText(100000, u'x');
    StringAppend(longText.c_str());
    StringAssign(&variable, mark);
    StringAppend(RT_TEXT("ab"));
    StringAssign(&variable, mark);
    EXPECT_EQ(Text(variable), u"ab");
    EXPECT_EQ(HeapSize(StringHeap, 0, variable), 2 * 2 + 10u);
    StringFree(variable);
}

TEST(StringBuilderLocate, KnowsAddressesInsideTheAssembledText) {
    int32_t mark = StringBuilderMark();
    StringAppend(RT_TEXT("xy"));
    WCHAR* base = StringBuilderBase();
    EXPECT_EQ(StringBuilderLocate(base), 1);
    EXPECT_EQ(StringBuilderLocate(base + mark / 2 + 1), mark + 2 + 1);
    EXPECT_EQ(StringBuilderAddress(StringBuilderLocate(base + 1)), base + 1);
    WCHAR outside[2];
    EXPECT_EQ(StringBuilderLocate(outside), 0);
    EXPECT_EQ(StringBuilderLocate(StringBuilderCurrent() + 1), 0);
    StringBuilderRewind(mark);
}

TEST(StringBuilderMark, KeepsTheLastErrorCode) {
    SetLastError(ERROR_SHARING_VIOLATION);
    int32_t mark = StringBuilderMark();
    StringBuilderRewind(mark);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
}

TEST(StringBuilderEnsure, EachThreadGetsItsOwnBuilderFreedAfterItEnds) {
    WCHAR* mainBase = StringBuilderBase();
    int64_t blocksBefore = test::CountBusyBlocks(StringHeap);
    std::thread([&] {
        StringBuilderEnsure();
        EXPECT_NE(StringBuilderBase(), mainBase);
        EXPECT_EQ(StringBuilderMark(), 0);
        StringAppend(RT_TEXT("thread text"));
        StringBuilderEnsure();  // a second call keeps the record
        EXPECT_EQ(StringBuilderMark(), 22);
        EXPECT_EQ(test::CountBusyBlocks(StringHeap), blocksBefore + 2);  // record and buffer
    }).join();
    EXPECT_EQ(StringBuilderBase(), mainBase);
    // The exit routine runs on another thread after the thread has ended.
    EXPECT_TRUE(test::WaitUntil([&] { return test::CountBusyBlocks(StringHeap) == blocksBefore; }));
}

}  // namespace
}  // namespace rt
