// The text kernels against their reference loops, at every alignment and length around the blocks
// and the window, with the ends and the rare characters early, late or missing, and with the text
// ending where an inaccessible page begins.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "runtime/strings/strings.h"
#include "support/support.h"

namespace rt {
namespace {

constexpr TextStops LINE_ENDS = TextStopSet({0, '\n', '\r'});
constexpr TextStops ZERO = TextStopSet({0});
constexpr TextStops ZERO_OR_HIGH = TextStopSet({0}, true);
constexpr TextDirect DIRECT_SETS[] = {TextDirect::Latin1, TextDirect::Ascii, TextDirect::None};

// Lengths around the first block, the window and a page's worth of units.
std::vector<int64_t> Lengths() {
    std::vector<int64_t> lengths;
    for (int64_t length = 0; length <= 300; length += length < 40 || length > 120 ? 1 : 3) {
        lengths.push_back(length);
    }
    lengths.push_back(1500);
    return lengths;
}

// `count` values of letters, with one value of `rare` at an end, in the middle or nowhere.
template <typename Unit>
std::vector<Unit> Text(int64_t count, Unit rare, int where) {
    std::vector<Unit> text(static_cast<size_t>(count));
    for (int64_t i = 0; i < count; ++i) {
        text[i] = static_cast<Unit>(i % 7 == 3 ? 0xE9 : 'a' + i % 26);
    }
    int64_t at = where == 0 ? 0 : where == 1 ? count / 2 : count - 1;
    if (where < 3 && count > 0) {
        text[at] = rare;
    }
    return text;
}

class TextKernels : public testing::Test {
  protected:
    void SetUp() override {
        if (!TextVectors) {
            GTEST_SKIP() << "no 32-byte vectors: the kernels are their reference loops";
        }
    }
    test::PageBeforeGuard guard_;
};

TEST_F(TextKernels, ScanAndWidenFindWhatTheirReferencesFind) {
    std::vector<uint8_t> rares = {0, '\r', '\n', 0x85, 0xA0, 0xFF};
    for (int64_t count : Lengths()) {
        for (uint8_t rare : rares) {
            for (int where = 0; where < 4; ++where) {
                std::vector<uint8_t> text = Text<uint8_t>(count, rare, where);
                for (int64_t reach : {count, count + TEXT_REACH}) {
                    // The bytes the kernel may reach end where the guard page begins.
                    auto* bytes = reinterpret_cast<uint8_t*>(guard_.UnitsAtEnd(0)) - reach;
                    std::fill(bytes, bytes + reach, '\r');
                    std::copy(text.begin(), text.end(), bytes);
                    SCOPED_TRACE(testing::Message()
                                 << count << " " << int{rare} << " " << where << " " << reach);
                    for (const TextStops& stops : {LINE_ENDS, ZERO_OR_HIGH}) {
                        ASSERT_EQ(TextScan(bytes, count, stops),
                                  TextScanReference(bytes, count, stops));
                    }
                    for (const TextStops& stops : {LINE_ENDS, ZERO}) {
                        for (TextDirect direct : DIRECT_SETS) {
                            std::vector<WCHAR> units(reach + 1, u'#');
                            std::vector<WCHAR> expected(reach + 1, u'#');
                            TextRun run =
                                TextWiden(bytes, count, reach, units.data(), stops, direct);
                            TextRun expectedRun =
                                TextWidenReference(bytes, count, expected.data(), stops, direct);
                            ASSERT_EQ(run.length, expectedRun.length);
                            ASSERT_EQ(run.direct, expectedRun.direct);
                            ASSERT_TRUE(std::equal(units.begin(), units.begin() + run.length,
                                                   expected.begin()));
                            ASSERT_EQ(units[reach], u'#') << "written beyond the reach";
                        }
                    }
                }
            }
        }
    }
}

TEST_F(TextKernels, NarrowStopsWhereItsReferenceStops) {
    // A C1 control and units above 0xFF (one that packs to 0xFF, one that packs to 0), and 0xFF
    // itself, which is direct in Windows-1252.
    std::vector<WCHAR> rares = {0, 0x85, 0xFF, 0x100, 0x20AC, 0x8000};
    for (int64_t length : Lengths()) {
        for (WCHAR rare : rares) {
            for (int where = 0; where < 4; ++where) {
                std::vector<WCHAR> text = Text<WCHAR>(length, rare, where);
                // Units to pass over beyond the zero: what a heap may keep after a string. With
                // 40, the window of a short text reaches the page's end past the text's zero; with
                // the last, the text starts 20 or 21 units before a page's end and goes on in the
                // next.
                int64_t crossing =
                    int64_t{test::PageBeforeGuard::PAGE_BYTES} / 2 + 20 + length % 2 - length - 1;
                for (int64_t after : {int64_t{0}, int64_t{40}, int64_t{300}, crossing}) {
                    WCHAR* start = guard_.UnitsAtEnd(static_cast<size_t>(length + 1 + after));
                    std::copy(text.begin(), text.end(), start);
                    start[length] = 0;
                    std::fill(start + length + 1, start + length + 1 + after, u'\u4E2D');
                    for (int64_t limit : {int64_t{0}, length / 2, length, length + 200}) {
                        for (TextDirect direct : DIRECT_SETS) {
                            SCOPED_TRACE(testing::Message()
                                         << length << " " << int{rare} << " " << where << " "
                                         << after << " " << limit << " " << int(direct));
                            std::vector<char> bytes(limit + 1, '#');
                            std::vector<char> expected(limit + 1, '#');
                            int64_t end = TextNarrow(start, limit, bytes.data(), direct);
                            ASSERT_EQ(end,
                                      TextNarrowReference(start, limit, expected.data(), direct));
                            ASSERT_TRUE(
                                std::equal(bytes.begin(), bytes.begin() + end, expected.begin()));
                            ASSERT_EQ(bytes[limit], '#') << "written beyond the limit";
                        }
                    }
                }
            }
        }
    }
}

TEST_F(TextKernels, Rot47CopiesAndRotatesInPlaceAsItsReferenceDoes) {
    std::mt19937 random(47);
    std::uniform_int_distribution<int> unit(0, 300);
    for (int64_t length : Lengths()) {
        std::vector<WCHAR> source(length + 1);
        std::generate(source.begin(), source.end() - 1, [&] { return unit(random) + 1; });
        source[length] = 0;
        std::vector<WCHAR> expected(length + 2, u'#');
        TextRot47Reference(expected.data(), source.data(), length);
        SCOPED_TRACE(length);
        // Copying, from a source whose zero ends the page and to every unit alignment.
        WCHAR* from = guard_.UnitsAtEnd(static_cast<size_t>(length + 1));
        std::copy(source.begin(), source.end(), from);
        for (int offset = 0; offset < 4; ++offset) {
            std::vector<WCHAR> copy(length + 2 + offset, u'#');
            TextRot47(copy.data() + offset, from, length);
            ASSERT_TRUE(std::equal(expected.begin(), expected.end(), copy.begin() + offset));
        }
        // In place, the text's zero ending the page.
        TextRot47(from, from, length);
        ASSERT_TRUE(std::equal(expected.begin(), expected.end() - 1, from));
    }
    // Every unit once: the block's arithmetic wraps round at the edges of the printable range and
    // at the sign of 16-bit values.
    std::vector<WCHAR> every(0x10000);
    for (size_t i = 0; i + 1 < every.size(); ++i) {
        every[i] = static_cast<WCHAR>(i + 1);
    }
    std::vector<WCHAR> rotated(every.size(), u'#');
    std::vector<WCHAR> expected(every.size(), u'#');
    TextRot47(rotated.data(), every.data(), static_cast<int64_t>(every.size()) - 1);
    TextRot47Reference(expected.data(), every.data(), static_cast<int64_t>(every.size()) - 1);
    EXPECT_EQ(rotated, expected);
}

}  // namespace
}  // namespace rt
