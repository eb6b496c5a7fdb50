#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "app/app.h"
#include "runtime/strings/strings.h"
#include "support/support.h"

namespace app {
namespace {

using Text = std::basic_string<WCHAR>;

Text Rotated(Text text) {
    Rot47InPlace(text.data());
    return text;
}

TEST(Rot47InPlace, ExamplesOfTheTransform) {
    EXPECT_EQ(Rotated(RT_TEXT("abc")), RT_TEXT("234"));
    EXPECT_EQ(Rotated(RT_TEXT("ABC")), RT_TEXT("pqr"));
    EXPECT_EQ(Rotated(RT_TEXT("xyz")), RT_TEXT("IJK"));
    EXPECT_EQ(Rotated(RT_TEXT("Plain text")), RT_TEXT("!=2:? E6IE"));
    EXPECT_EQ(Rotated(RT_TEXT("!")), RT_TEXT("P"));
    EXPECT_EQ(Rotated(RT_TEXT("~")), RT_TEXT("O"));
}

TEST(Rot47InPlace, PrintableAsciiIsPermutedAndTwiceIsIdentity) {
    Text all;
    for (WCHAR c = 33; c <= 126; ++c) {
        all += c;
    }
    Text once = Rotated(all);
    for (size_t i = 0; i < all.size(); ++i) {
        EXPECT_EQ(once[i], 33 + (all[i] - 33 + 47) % 94) << "unit " << int(all[i]);
    }
    EXPECT_EQ(Rotated(once), all);
}

TEST(Rot47InPlace, UnitsOutsideThePrintableRangeStay) {
    Text others;
    for (int c = 1; c <= 32; ++c) {
        others += static_cast<WCHAR>(c);
    }
    for (int c = 127; c <= 255; ++c) {
        others += static_cast<WCHAR>(c);
    }
    others += static_cast<WCHAR>(0x20AC);
    others += static_cast<WCHAR>(0xFFFF);
    EXPECT_EQ(Rotated(others), others);
}

TEST(Rot47InPlace, StopsAtTheTerminatingZero) {
    WCHAR text[] = {'a', 0, 'a', 0};
    EXPECT_EQ(Rot47InPlace(text), 0);
    EXPECT_EQ(text[0], '2');
    EXPECT_EQ(text[2], 'a');
    EXPECT_EQ(Rot47InPlace(nullptr), 0);
}

TEST(Rot47InPlace, StopsAtTheZeroWhereverItFallsInALongText) {
    // The zero at every position of the blocks the transform works in, from every alignment; the
    // units after it must stay as they are.
    // Both with and without 32-byte vectors where the processor has them.
    const bool wide = rt::TextVectors;
    for (bool useWide : {wide, false}) {
        rt::TextVectors = useWide;
        for (size_t start = 0; start < 16; ++start) {
            for (size_t length = 0; length < 40; ++length) {
                Text buffer(64, RT_TEXT('a'));
                buffer[start + length] = 0;
                Rot47InPlace(buffer.data() + start);
                EXPECT_EQ(buffer.substr(0, start), Text(start, RT_TEXT('a')));
                EXPECT_EQ(buffer.substr(start, length), Text(length, RT_TEXT('2')));
                EXPECT_EQ(buffer.substr(start + length + 1),
                          Text(63 - start - length, RT_TEXT('a')));
            }
        }
    }
    rt::TextVectors = wide;
}

// A text whose zero is the last unit before an inaccessible page is rotated without a read
// beyond it, whatever its length.
TEST(Rot47InPlace, ReadsNothingBeyondThePageOfTheTextsEnd) {
    rt::test::PageBeforeGuard guard;
    const bool wide = rt::TextVectors;
    for (bool useWide : {wide, false}) {
        rt::TextVectors = useWide;
        for (size_t length = 0; length <= 40; ++length) {
            WCHAR* text = guard.UnitsAtEnd(length + 1);
            std::fill(text, text + length, RT_TEXT('a'));
            text[length] = 0;
            Rot47InPlace(text);
            EXPECT_EQ(Text(text), Text(length, RT_TEXT('2')));
        }
    }
    rt::TextVectors = wide;
}

// Assigning with the rotating copy leaves what an assignment and Rot47InPlace of the variable
// leave: the text, the block's size and the builder, whose text stays unrotated. Every length
// around the blocks, from every unit alignment in the builder, with both vector widths.
TEST(Rot47Copy, AssignsWhatAnAssignmentAndRotationInPlaceLeave) {
    const bool wide = rt::TextVectors;
    WCHAR* expected = nullptr;
    WCHAR* actual = nullptr;
    for (bool useWide : {wide, false}) {
        rt::TextVectors = useWide;
        for (int offset = 0; offset < 4; ++offset) {
            int32_t outer = rt::StringBuilderMark();
            rt::StringAppend(Text(offset, RT_TEXT('-')).c_str());
            for (size_t length = 0; length <= 100; ++length) {
                Text text;
                for (size_t i = 0; i < length; ++i) {
                    text += static_cast<WCHAR>(i % 9 == 4    ? 0xE9
                                               : i % 11 == 7 ? ' '
                                                             : '0' + (i + length) % 80);
                }
                int32_t mark = rt::StringBuilderMark();
                rt::StringAppend(text.c_str());
                rt::StringAssign(&expected, mark);
                Rot47InPlace(expected);
                rt::StringAppend(text.c_str());
                ASSERT_TRUE(rt::StringAssignChecked(&actual, mark, Rot47Copy));
                SCOPED_TRACE(testing::Message() << useWide << " " << offset << " " << length);
                ASSERT_EQ(Text(actual), Text(expected));
                EXPECT_EQ(HeapSize(rt::StringHeap, 0, actual),
                          HeapSize(rt::StringHeap, 0, expected));
                EXPECT_EQ(rt::StringBuilderMark(), mark);
                EXPECT_EQ(Text(rt::StringBuilderBase() + mark / 2, length), text);
            }
            rt::StringBuilderRewind(outer);
        }
    }
    rt::TextVectors = wide;
    rt::StringFree(expected);
    rt::StringFree(actual);
}

}  // namespace
}  // namespace app
