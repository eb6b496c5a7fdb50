// Fuzzes the text kernels against their reference loops: the scan, the widening, the narrowing and
// ROT47 of the fuzzer's text, placed so that it ends where an inaccessible page begins, with the
// reach, limit and alignment the input chooses. Every result and every byte or unit written must
// be the reference's, and nothing past what a kernel may write may change.
//
// Input: one byte of options (bits 0-1 the kernel: scan, widen, narrow, ROT47; bits 2-3 the direct
// set; bit 4 the stop set: line ends or the zero alone; bit 5 the stop set's high bytes, for the
// scan; bit 6 ROT47 in place; bit 7 units after the narrowed text's zero, as a heap keeps them
// after a string), one byte added to the reach or the limit, one byte of alignment; then the text:
// bytes, or units of two bytes for the narrowing and ROT47.
#include <sys/mman.h>

#include <algorithm>
#include <vector>

#include "harness.h"
#include "runtime/strings/strings.h"

namespace {

using rt::TextDirect;
using rt::TextStops;

constexpr size_t PAGE = 4096;
constexpr size_t PAGES = 8;  // room for the longest text the fuzzer makes (-max_len 10000)

// Memory whose end is followed by an inaccessible page: a read past what a text's page holds
// faults.
char* AccessibleEnd() {
    static char* end = [] {
        auto* base = static_cast<char*>(mmap(nullptr, (PAGES + 1) * PAGE, PROT_READ | PROT_WRITE,
                                             MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        if (base == MAP_FAILED || mprotect(base + PAGES * PAGE, PAGE, PROT_NONE) != 0) {
            fuzz::Finding("no guarded memory");
        }
        return base + PAGES * PAGE;
    }();
    return end;
}

// `bytes` placed so that its last byte is the last accessible one.
template <typename T>
T* AtEnd(const std::vector<T>& values) {
    T* start = reinterpret_cast<T*>(AccessibleEnd()) - values.size();
    std::copy(values.begin(), values.end(), start);
    return start;
}

void Scan(const std::vector<uint8_t>& text, const TextStops& stops) {
    const uint8_t* bytes = AtEnd(text);
    auto count = static_cast<int64_t>(text.size());
    fuzz::Check(rt::TextScan(bytes, count, stops) == rt::TextScanReference(bytes, count, stops),
                "the scan stops elsewhere than its reference");
}

void Widen(std::vector<uint8_t> text, size_t extra, const TextStops& stops, TextDirect direct) {
    auto count = static_cast<int64_t>(text.size());
    text.resize(text.size() + extra, '\r');  // what the kernel may read past the text
    const uint8_t* bytes = AtEnd(text);
    auto reach = static_cast<int64_t>(text.size());
    std::vector<WCHAR> units(text.size() + 1, u'#');
    std::vector<WCHAR> expected(text.size() + 1, u'#');
    rt::TextRun run = rt::TextWiden(bytes, count, reach, units.data(), stops, direct);
    rt::TextRun expectedRun = rt::TextWidenReference(bytes, count, expected.data(), stops, direct);
    fuzz::Check(run.length == expectedRun.length && run.direct == expectedRun.direct,
                "the widening's run differs from its reference's");
    fuzz::Check(std::equal(units.begin(), units.begin() + run.length, expected.begin()),
                "the widened units differ");
    fuzz::Check(units[reach] == u'#', "the widening wrote past its reach");
}

void Narrow(std::vector<WCHAR> text, size_t extra, TextDirect direct, bool unitsAfter) {
    auto length = static_cast<int64_t>(text.size());
    text.push_back(0);  // the last accessible unit, or followed by units of no text
    if (unitsAfter) {
        text.resize(text.size() + extra, u'\u4E2D');
    }
    const WCHAR* start = AtEnd(text);
    auto limit = length + static_cast<int64_t>(extra);
    std::vector<char> bytes(limit + 1, '#');
    std::vector<char> expected(limit + 1, '#');
    int64_t end = rt::TextNarrow(start, limit, bytes.data(), direct);
    fuzz::Check(end == rt::TextNarrowReference(start, limit, expected.data(), direct),
                "the narrowing ends elsewhere than its reference");
    fuzz::Check(std::equal(bytes.begin(), bytes.begin() + end, expected.begin()),
                "the narrowed bytes differ");
    fuzz::Check(bytes[limit] == '#', "the narrowing wrote past its limit");
}

void Rot47(std::vector<WCHAR> text, size_t alignment, bool inPlace) {
    auto units = static_cast<int64_t>(text.size());
    text.push_back(0);  // read when the length is odd: the last accessible unit
    WCHAR* source = AtEnd(text);
    std::vector<WCHAR> expected(text.size() + 1, u'#');
    rt::TextRot47Reference(expected.data(), source, units);
    if (inPlace) {
        rt::TextRot47(source, source, units);
        fuzz::Check(std::equal(source, source + units + 1, expected.begin()),
                    "ROT47 in place differs from its reference");
        return;
    }
    std::vector<WCHAR> copy(text.size() + 1 + alignment % 4, u'#');
    WCHAR* destination = copy.data() + alignment % 4;
    rt::TextRot47(destination, source, units);
    fuzz::Check(std::equal(expected.begin(), expected.end(), destination),
                "the ROT47 copy differs from its reference, or wrote past the zero");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input input(data, size);
    uint8_t options = input.Byte();
    size_t extra = input.Byte();
    size_t alignment = input.Byte();
    std::string rest = input.Rest();
    // The alignment moves the text's start within the page by dropping leading bytes.
    rest.erase(0, std::min(rest.size(), alignment % 32));
    constexpr TextStops LINE_ENDS = rt::TextStopSet({0, '\n', '\r'});
    constexpr TextStops LINE_ENDS_HIGH = rt::TextStopSet({0, '\n', '\r'}, true);
    constexpr TextStops ZERO = rt::TextStopSet({0});
    constexpr TextStops ZERO_HIGH = rt::TextStopSet({0}, true);
    bool lineEnds = (options & 0x10) == 0;
    bool high = (options & 0x20) != 0;
    const TextStops& stops =
        lineEnds ? (high ? LINE_ENDS_HIGH : LINE_ENDS) : (high ? ZERO_HIGH : ZERO);
    auto direct = static_cast<TextDirect>((options >> 2 & 3) % 3);
    std::vector<uint8_t> bytes(rest.begin(), rest.end());
    std::vector<WCHAR> units;
    for (size_t i = 0; i + 1 < rest.size(); i += 2) {
        units.push_back(static_cast<WCHAR>(static_cast<uint8_t>(rest[i]) |
                                           static_cast<uint8_t>(rest[i + 1]) << 8));
    }
    switch (options & 3) {
        case 0:
            Scan(bytes, stops);
            break;
        case 1:
            Widen(bytes, extra, lineEnds ? LINE_ENDS : ZERO, direct);
            break;
        case 2:
            Narrow(units, extra, direct, (options & 0x80) != 0);
            break;
        default:
            Rot47(units, alignment, (options & 0x40) != 0);
            break;
    }
    return 0;
}
