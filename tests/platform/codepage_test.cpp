// Contract of the code-page conversions, on both builds: the Windows build checks the emulation's
// choices against the system's own conversions.
#include <gtest/gtest.h>

#include <string>

#include "runtime/platform/platform.h"

namespace {

std::u16string Decode(UINT codePage, const std::string& bytes) {
    int units =
        MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::u16string text(units, u'\0');
    int written = MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()),
                                      reinterpret_cast<WCHAR*>(text.data()), units);
    EXPECT_EQ(written, units);
    return text;
}

std::string Encode(UINT codePage, const std::u16string& text) {
    auto source = reinterpret_cast<const WCHAR*>(text.data());
    int bytes = WideCharToMultiByte(codePage, 0, source, static_cast<int>(text.size()), nullptr, 0,
                                    nullptr, nullptr);
    std::string out(bytes, '\0');
    int written = WideCharToMultiByte(codePage, 0, source, static_cast<int>(text.size()),
                                      out.data(), bytes, nullptr, nullptr);
    EXPECT_EQ(written, bytes);
    return out;
}

TEST(MultiByteToWideChar, ActiveCodePageIsWindows1252AndRoundTripsEveryByte) {
    std::string all;
    for (int byte = 1; byte < 256; ++byte) {
        all.push_back(static_cast<char>(byte));
    }
    std::u16string text = Decode(CP_ACP, all);
    ASSERT_EQ(text.size(), 255u);
    EXPECT_EQ(text[0x80 - 1], u'\u20AC');  // euro sign
    EXPECT_EQ(text[0x9F - 1], u'\u0178');
    EXPECT_EQ(text[0x81 - 1], u'\u0081');  // unassigned bytes keep their value
    EXPECT_EQ(text[0x9D - 1], u'\u009D');
    EXPECT_EQ(text[0xE9 - 1], u'\u00E9');
    EXPECT_EQ(Encode(CP_ACP, text), all);
}

TEST(WideCharToMultiByte, CharactersTheCodePageLacksBecomeTheDefaultCharacter) {
    EXPECT_EQ(Encode(CP_ACP, u"a\u0416b"), "a?b");  // Cyrillic Zhe
    // Wherever such a character stands in a longer text, first or last, alone or among others.
    EXPECT_EQ(Encode(CP_ACP, u"abcdefgh\u0416"), "abcdefgh?");
    EXPECT_EQ(Encode(CP_ACP, u"\u0416bcdefghijklmnop\u20ac\u0080"), "?bcdefghijklmnop\x80?");
    BOOL usedDefault = FALSE;
    char out[8] = {};
    const WCHAR text[] = RT_TEXT("\u0416");
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, text, 1, out, 8, "#", &usedDefault), 1);
    EXPECT_EQ(out[0], '#');
    EXPECT_TRUE(usedDefault);
}

TEST(MultiByteToWideChar, Utf8DecodesAndReplacesMalformedInput) {
    EXPECT_EQ(Decode(CP_UTF8, "\xC3\xA9"), u"\u00E9");
    EXPECT_EQ(Decode(CP_UTF8, "\xF0\x9F\x98\x80"), u"\U0001F600");  // a surrogate pair
    EXPECT_EQ(Decode(CP_UTF8, "a\x80z"), u"a\uFFFDz");              // lone continuation byte
    EXPECT_EQ(Decode(CP_UTF8, "a\xE2\x82"), u"a\uFFFD");            // truncated sequence
    EXPECT_EQ(Decode(CP_UTF8, "\xC0\x80"), u"\uFFFD\uFFFD");        // overlong form
}

TEST(WideCharToMultiByte, Utf8EncodesPairsAndSizesIncludeTheZeroForMinusOne) {
    EXPECT_EQ(Encode(CP_UTF8, u"\u00E9\U0001F600"), "\xC3\xA9\xF0\x9F\x98\x80");
    const WCHAR text[] = RT_TEXT("\u00E9");
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr), 3);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xC3\xA9", -1, nullptr, 0), 2);
}

// Runs of units that map to bytes of their own value, around the lengths that the conversion takes
// in blocks, before and after a unit that it converts alone; one byte less room than needed fails.
TEST(WideCharToMultiByte, RunsOfEveryLengthConvertAsUnitsOneByOne) {
    for (UINT codePage : {UINT{CP_ACP}, UINT{CP_UTF8}}) {
        bool ansi = codePage == CP_ACP;
        for (size_t length = 0; length <= 70; ++length) {
            std::u16string text;
            std::string expected;
            for (size_t i = 0; i < length; ++i) {
                char16_t unit =
                    ansi && i % 5 == 2 ? u'\u00E9' : static_cast<char16_t>('a' + i % 26);
                text += unit;
                expected += static_cast<char>(unit);
            }
            text += u"\u20AC!";
            expected += ansi ? "\x80!" : "\xE2\x82\xAC!";
            SCOPED_TRACE(testing::Message() << codePage << " " << length);
            ASSERT_EQ(Encode(codePage, text + text), expected + expected);
            std::string out(expected.size(), '#');
            EXPECT_EQ(WideCharToMultiByte(codePage, 0, reinterpret_cast<const WCHAR*>(text.data()),
                                          static_cast<int>(text.size()), out.data(),
                                          static_cast<int>(expected.size()) - 1, nullptr, nullptr),
                      0);
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        }
    }
}

TEST(WideCharToMultiByte, TooSmallTargetFailsWithInsufficientBuffer) {
    char out[2];
    const WCHAR text[] = RT_TEXT("abc");
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, text, 3, out, 2, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    WCHAR units[1];
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "ab", 2, units, 1), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

}  // namespace
