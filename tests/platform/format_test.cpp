// Contract of the wide formatting subset, on both builds.
#include <gtest/gtest.h>

#include <cstdarg>
#include <string>

#include "runtime/platform/platform.h"

namespace {

int Format(WCHAR* buffer, size_t count, const WCHAR* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    int written = _vsnwprintf(buffer, count, format, arguments);
    va_end(arguments);
    return written;
}

std::u16string Text(const WCHAR* text) {
    return reinterpret_cast<const char16_t*>(text);
}

TEST(VsnwPrintf, FormatsThirtyTwoAndSixtyFourBitIntegers) {
    WCHAR out[64];
    EXPECT_EQ(Format(out, 64, RT_TEXT("WindowClass_%I64d"), int64_t{3}), 13);
    EXPECT_EQ(Text(out), u"WindowClass_3");
    Format(out, 64, RT_TEXT("%d:%I64d:%I64d:%I64d"), -7, INT64_MIN, int64_t{-1}, INT64_MAX);
    EXPECT_EQ(Text(out), u"-7:-9223372036854775808:-1:9223372036854775807");
    Format(out, 64, RT_TEXT("RT_GadgetStack_%I64i"), int64_t{1} << 40);
    EXPECT_EQ(Text(out), u"RT_GadgetStack_1099511627776");
}

TEST(VsnwPrintf, WidthPrecisionFlagsAndStrings) {
    WCHAR out[64];
    Format(out, 64, RT_TEXT("[%5d|%-4d|%05d|%+d|%x|%X|%.3d]"), 42, 7, -12, 5, 255u, 255u, 9);
    EXPECT_EQ(Text(out), u"[   42|7   |-0012|+5|ff|FF|009]");
    Format(out, 64, RT_TEXT("%s/%3s/%.2s/%c%%"), RT_TEXT("ab"), RT_TEXT("x"), RT_TEXT("xyz"), 'Q');
    EXPECT_EQ(Text(out), u"ab/  x/xy/Q%");
}

TEST(VsnwPrintf, CutOutputReturnsMinusOneAndExactFitIsNotTerminated) {
    WCHAR out[8];
    for (WCHAR& unit : out) {
        unit = u'#';
    }
    EXPECT_EQ(Format(out, 3, RT_TEXT("%d"), 12345), -1);
    EXPECT_EQ(out[2], u'3');
    EXPECT_EQ(out[3], u'#');  // nothing beyond the count is touched
    EXPECT_EQ(Format(out, 3, RT_TEXT("abc")), 3);
    EXPECT_EQ(out[3], u'#');
}

}  // namespace
