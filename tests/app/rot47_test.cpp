#include <gtest/gtest.h>

#include <string>

#include "app/app.h"

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
    const bool wide = PlatformWideVectors;
    for (bool useWide : {wide, false}) {
        PlatformWideVectors = useWide;
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
    PlatformWideVectors = wide;
}

}  // namespace
}  // namespace app
