#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/strings/strings.h"
#include "support/support.h"

namespace rt {
namespace {

std::u16string Text(const WCHAR* text) {
    return reinterpret_cast<const char16_t*>(text);
}

// Runs a result-convention conversion at a fresh mark; returns the result and checks that the
// position stands right after it.
template <typename Conversion>
std::u16string Deliver(Conversion convert, const char* source) {
    int32_t mark = StringBuilderMark();
    WCHAR* result = convert(source, mark);
    std::u16string text = Text(StringBuilderBase() + mark / 2);
    EXPECT_EQ(result, StringBuilderBase() + mark / 2);
    EXPECT_EQ(StringBuilderMark(), mark + static_cast<int32_t>(2 * text.size()));
    StringBuilderRewind(mark);
    return text;
}

TEST(Utf8ToUtf16Result, DecodesAtThePositionAndStopsAfterTheResult) {
    EXPECT_EQ(Deliver(Utf8ToUtf16Result, "\xC3\xA9"), u"\u00E9");
    EXPECT_EQ(Deliver(Utf8ToUtf16Result, "\xEF\xBB\xBFx"), u"\uFEFFx");  // a mark is kept
    EXPECT_EQ(Deliver(Utf8ToUtf16Result, ""), u"");
    EXPECT_EQ(Deliver(Utf8ToUtf16Result, nullptr), u"");
}

TEST(AnsiToUtf16Result, DecodesTheActiveCodePage) {
    EXPECT_EQ(Deliver(AnsiToUtf16Result, "a\x80\xE9"), u"a\u20AC\u00E9");
    EXPECT_EQ(Deliver(AnsiToUtf16Result, ""), u"");
    EXPECT_EQ(Deliver(AnsiToUtf16Result, nullptr), u"");
}

TEST(AnsiToUtf16Result, ResultAfterEarlierTextOfTheSameExpression) {
    int32_t mark = StringBuilderMark();
    StringAppend(RT_TEXT("prefix:"));
    AnsiToUtf16Result("tail", StringBuilderMark());
    StringTerminate();
    EXPECT_EQ(Text(StringBuilderBase() + mark / 2), u"prefix:tail");
    StringBuilderRewind(mark);
}

TEST(Utf16ToMultiByte, ReturnsAMainHeapBlockAndTheLengthWithoutTheZero) {
    int64_t length = -1;
    char* bytes = Utf16ToMultiByte(CP_UTF8, RT_TEXT("\u00E9"), &length);
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(length, 2);
    EXPECT_EQ(std::memcmp(bytes, "\xC3\xA9", 3), 0);
    HeapFree(MainHeap, 0, bytes);

    bytes = Utf16ToMultiByte(CP_ACP, RT_TEXT("\u20AC\u0416"), &length);
    EXPECT_EQ(length, 2);
    EXPECT_STREQ(bytes, "\x80?");
    HeapFree(MainHeap, 0, bytes);

    bytes = Utf16ToMultiByte(CP_ACP, nullptr, &length);
    EXPECT_EQ(length, 0);
    EXPECT_STREQ(bytes, "");
    HeapFree(MainHeap, 0, bytes);
}

TEST(Utf16ToMultiByteInto, ConvertsIntoTheRoomGivenOrReportsThatItDoesNotFit) {
    // Latin-1 text, text the code page maps through its table (the euro sign), text it lacks, and
    // UTF-8: the same bytes as the measured conversion, without a terminating zero.
    char room[64];
    const WCHAR* texts[] = {RT_TEXT("plain ASCII text, long enough for blocks éÿ"),
                            RT_TEXT("euro € and Ж here"), RT_TEXT("x")};
    for (UINT codePage : {UINT{CP_ACP}, UINT{CP_UTF8}}) {
        for (const WCHAR* text : texts) {
            int64_t expectedLength;
            char* expected = Utf16ToMultiByte(codePage, text, &expectedLength);
            std::memset(room, '#', sizeof room);
            int64_t units = StringLength(text);
            ASSERT_EQ(Utf16ToMultiByteInto(codePage, text, units, room, sizeof room),
                      expectedLength);
            EXPECT_EQ(std::memcmp(room, expected, static_cast<size_t>(expectedLength)), 0);
            EXPECT_EQ(room[expectedLength], '#');
            EXPECT_EQ(Utf16ToMultiByteInto(codePage, text, units, room, expectedLength - 1), -1);
            HeapFree(MainHeap, 0, expected);
        }
    }
    EXPECT_EQ(Utf16ToMultiByteInto(CP_ACP, RT_TEXT("abc"), 3, room, 0), -1);
    EXPECT_EQ(Utf16ToMultiByteInto(CP_ACP, RT_TEXT(""), 0, room, 0), 0);
}

// Runs `check` with 32-byte vectors where the processor has them, then without.
template <typename Check>
void WideVectorsBothWays(Check check) {
    const bool wide = TextVectors;
    for (bool useWide : {wide, false}) {
        SCOPED_TRACE(useWide ? "32-byte vectors" : "16-byte vectors");
        TextVectors = useWide;
        check();
    }
    TextVectors = wide;
}

// Every unit alignment around the aligned blocks, with the room shorter or longer than the text
// and a unit that the code page converts through its table: for Windows-1252 a C1 control or a
// unit above 0xFF, next to direct ones up to 0xFF.
TEST(Utf16ToMultiByteDirect, StopsAtTheZeroTheRoomOrAUnitForTheSystem) {
    alignas(32) WCHAR storage[112];
    char bytes[112];
    WideVectorsBothWays([&] {
        for (UINT codePage : {UINT{CP_ACP}, UINT{CP_UTF8}}) {
            bool ansi = codePage == CP_ACP;
            for (WCHAR other : ansi ? std::vector<WCHAR>{u'\u0085', u'\u0100', u'\u20AC'}
                                    : std::vector<WCHAR>{u'\u0080', u'\u00E9', u'\u20AC'}) {
                for (int offset = 0; offset < 16; ++offset) {
                    for (int length = 0; length <= 72; ++length) {
                        for (int otherAt : {-1, 0, length / 2, length - 1}) {
                            for (int capacity : {0, length / 2, length, length + 9}) {
                                // Units for the system lie beyond the zero as well.
                                std::fill(std::begin(storage), std::end(storage), u'\u4E2D');
                                WCHAR* text = storage + offset;
                                for (int i = 0; i < length; ++i) {
                                    text[i] = ansi && i % 7 == 3 ? u'\u00FF'
                                              : ansi && i % 7 == 5
                                                  ? u'\u00A0'
                                                  : static_cast<WCHAR>('A' + i % 50);
                                }
                                text[length] = 0;
                                if (otherAt >= 0 && otherAt < length) {
                                    text[otherAt] = other;
                                }
                                std::fill(std::begin(bytes), std::end(bytes), '#');
                                int64_t end = otherAt >= 0 && otherAt < length ? otherAt : length;
                                int64_t expected = std::min<int64_t>(end, capacity);
                                SCOPED_TRACE(testing::Message()
                                             << codePage << " " << offset << " " << length << " "
                                             << otherAt << " " << capacity);
                                ASSERT_EQ(Utf16ToMultiByteDirect(codePage, text, bytes, capacity),
                                          expected);
                                for (int64_t i = 0; i < expected; ++i) {
                                    ASSERT_EQ(bytes[i], static_cast<char>(text[i]));
                                }
                                EXPECT_EQ(bytes[capacity], '#');  // nothing beyond the room
                            }
                        }
                    }
                }
            }
        }
    });
}

// A text whose zero is the last unit before an inaccessible page is narrowed without a read
// beyond it, whatever its length.
TEST(Utf16ToMultiByteDirect, ReadsNothingBeyondThePageOfTheTextsEnd) {
    test::PageBeforeGuard guard;
    char bytes[64];
    WideVectorsBothWays([&] {
        for (size_t length = 0; length <= 40; ++length) {
            WCHAR* text = guard.UnitsAtEnd(length + 1);
            for (size_t i = 0; i < length; ++i) {
                text[i] = static_cast<WCHAR>('a' + i % 26);
            }
            text[length] = 0;
            ASSERT_EQ(Utf16ToMultiByteDirect(CP_ACP, text, bytes, sizeof bytes), length);
            for (size_t i = 0; i < length; ++i) {
                ASSERT_EQ(bytes[i], 'a' + i % 26) << length;
            }
        }
    });
}

TEST(Utf16ToUtf8Alloc, AllocConversionsRoundTripAndHandleNull) {
    char* utf8 = Utf16ToUtf8Alloc(RT_TEXT("a\u00E9\U0001F600"));
    EXPECT_STREQ(utf8, "a\xC3\xA9\xF0\x9F\x98\x80");
    WCHAR* back = Utf8ToUtf16Alloc(utf8);
    EXPECT_EQ(Text(back), u"a\u00E9\U0001F600");
    std::free(utf8);
    std::free(back);

    char* ansi = Utf16ToAnsiAlloc(RT_TEXT("\u00E9"));
    EXPECT_STREQ(ansi, "\xE9");
    WCHAR* wide = AnsiToUtf16Alloc(ansi);
    EXPECT_EQ(Text(wide), u"\u00E9");
    std::free(ansi);
    std::free(wide);

    for (char* empty : {Utf16ToUtf8Alloc(nullptr), Utf16ToAnsiAlloc(nullptr)}) {
        EXPECT_STREQ(empty, "");
        std::free(empty);
    }
    for (WCHAR* empty :
         {Utf8ToUtf16Alloc(nullptr), AnsiToUtf16Alloc(nullptr), AnsiToUtf16Alloc("")}) {
        ASSERT_NE(empty, nullptr);
        EXPECT_EQ(empty[0], 0);
        std::free(empty);
    }
}

TEST(FormatString, WritesTheNamesTheRuntimeBuilds) {
    WCHAR name[64];
    EXPECT_EQ(FormatString(name, RT_TEXT("WindowClass_%I64d"), int64_t{3}), 13);
    EXPECT_EQ(Text(name), u"WindowClass_3");
    FormatString(name, RT_TEXT("%d:%I64d:%I64d:%I64d"), 13100, int64_t{0}, int64_t{-1}, int64_t{2});
    EXPECT_EQ(Text(name), u"13100:0:-1:2");
}

#if RT_HAS_ALLOCATION_HOOK
TEST(Utf16ToMultiByte, FailedAllocationGivesNull) {
    int64_t length;
    PlatformFailAllocation(1);
    EXPECT_EQ(Utf16ToMultiByte(CP_ACP, RT_TEXT("abc"), &length), nullptr);
}
#endif

}  // namespace
}  // namespace rt
