#include <gtest/gtest.h>

#include "runtime/strings/strings.h"
#include "support/support.h"

namespace rt {
namespace {

TEST(StringEqual, NullCountsAsEmptyAndComparisonIsCaseSensitive) {
    EXPECT_EQ(StringEqual(nullptr, RT_TEXT("")), 1);
    EXPECT_EQ(StringEqual(RT_TEXT(""), nullptr), 1);
    EXPECT_EQ(StringEqual(nullptr, nullptr), 1);
    EXPECT_EQ(StringEqual(RT_TEXT(""), RT_TEXT("*.*")), 0);
    EXPECT_EQ(StringEqual(RT_TEXT("abc"), RT_TEXT("abc")), 1);
    EXPECT_EQ(StringEqual(RT_TEXT("abc"), RT_TEXT("ABC")), 0);
    EXPECT_EQ(StringEqual(RT_TEXT("ab"), RT_TEXT("abc")), 0);
}

TEST(StringCopyChars, CopiesTheUnitsAndTerminates) {
    WCHAR target[6] = {9, 9, 9, 9, 9, 9};
    StringCopyChars(target, RT_TEXT("hello"), 3);
    EXPECT_EQ(target[2], u'l');
    EXPECT_EQ(target[3], 0);
    EXPECT_EQ(target[4], 9);
}

TEST(StringLength, CountsUnitsAtEveryAlignmentAndAcrossBlocks) {
    WCHAR text[80];
    for (size_t start = 0; start < 9; ++start) {
        for (size_t length = 0; length + start < 79; ++length) {
            for (size_t i = 0; i < 80; ++i) {
                text[i] = static_cast<WCHAR>(0x100 + i);  // no zero byte in any unit
            }
            text[start + length] = 0;
            ASSERT_EQ(StringLength(text + start), static_cast<int64_t>(length)) << start;
        }
    }
    EXPECT_EQ(StringLength(nullptr), 0);
}

TEST(StringFree, AcceptsNull) {
    StringFree(nullptr);
    WCHAR* variable = nullptr;
    int32_t mark = StringBuilderMark();
    StringAppend(RT_TEXT("x"));
    StringAssign(&variable, mark);
    StringFree(variable);
}

#if RT_HAS_ALLOCATION_HOOK
using StringHeapDeathTest = testing::Test;

TEST(StringHeapDeathTest, AFailedGrowthStopsTheProgramInsteadOfWritingPastTheBuffer) {
    EXPECT_DEATH(
        {
            PlatformFailAllocation(1);
            StringBuilderReserve(100000, -1);
        },
        "run out of memory");
    EXPECT_DEATH(
        {
            WCHAR* variable = nullptr;
            int32_t mark = StringBuilderMark();
            StringAppend(RT_TEXT("text"));
            PlatformFailAllocation(1);
            StringAssign(&variable, mark);
        },
        "run out of memory");
}
#endif

}  // namespace
}  // namespace rt
