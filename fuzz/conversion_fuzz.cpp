// Fuzzes the three conversions and the string length they rest on. 8-bit text and UTF-8 become
// UTF-16 through the builder (from a zero-terminated string and from counted bytes), and UTF-16
// becomes 8-bit text or UTF-8 (into a new block and into a buffer of a given size); every result
// is compared with the system's conversion called directly, and 8-bit text in the active code
// page must come back byte for byte. StringLength runs on a string that ends its heap block, at
// every alignment, so that a read past its end is caught.
//
// Input: one byte choosing the direction (bit 0: from UTF-16; bit 1: UTF-8 rather than the code
// page) and, from UTF-16, a byte for the buffer size and one for the alignment; then the text.
#include <cstdlib>
#include <cstring>

#include "harness.h"
#include "runtime/strings/strings.h"

namespace {

using fuzz::WideString;

WideString SystemToUtf16(UINT codePage, const std::string& bytes) {
    int length = static_cast<int>(bytes.size());
    int units = MultiByteToWideChar(codePage, 0, bytes.data(), length, nullptr, 0);
    WideString wide(static_cast<size_t>(units), 0);
    MultiByteToWideChar(codePage, 0, bytes.data(), length, wide.data(), units);
    return wide;
}

std::string SystemFromUtf16(UINT codePage, const WideString& text) {
    int length = static_cast<int>(text.size());
    int bytes = WideCharToMultiByte(codePage, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<size_t>(bytes), 0);
    WideCharToMultiByte(codePage, 0, text.data(), length, narrow.data(), bytes, nullptr, nullptr);
    return narrow;
}

// The runtime's UTF-16 for 8-bit text, both ways in, which must agree.
WideString RuntimeToUtf16(UINT codePage, const std::string& text) {
    int32_t mark = rt::StringBuilderMark();
    bool utf8 = codePage == CP_UTF8;
    utf8 ? rt::Utf8ToUtf16Result(text.c_str(), mark) : rt::AnsiToUtf16Result(text.c_str(), mark);
    WideString fromString = fuzz::TakeResult(mark);
    auto length = static_cast<int64_t>(text.size());
    utf8 ? rt::Utf8BytesToUtf16Result(text.data(), length, mark)
         : rt::AnsiBytesToUtf16Result(text.data(), length, mark);
    fuzz::Check(fuzz::TakeResult(mark) == fromString,
                "counted bytes and a zero-terminated string convert differently");
    return fromString;
}

std::string RuntimeFromUtf16(UINT codePage, const WideString& text) {
    int64_t length = -1;
    char* block = rt::Utf16ToMultiByte(codePage, text.c_str(), &length);
    fuzz::Check(block != nullptr && length >= 0, "a conversion to 8 bits failed");
    std::string bytes(block, static_cast<size_t>(length));
    fuzz::Check(block[length] == 0, "a converted block lacks its zero");
    HeapFree(rt::MainHeap, 0, block);
    return bytes;
}

void FromUtf16(UINT codePage, fuzz::Input& input) {
    int64_t capacity = input.Byte();
    size_t alignment = input.Byte() % 8;
    WideString text;
    while (!input.Empty()) {
        auto unit = static_cast<WCHAR>(input.Byte() | input.Byte() << 8);
        if (unit == 0) {
            break;
        }
        text += unit;
    }
    // The string ends its block, so that a read past its zero leaves the block.
    size_t bytes = (alignment + text.size() + 1) * sizeof(WCHAR);
    auto* block = static_cast<WCHAR*>(std::malloc(bytes));
    WCHAR* copy = block + alignment;
    std::memcpy(copy, text.c_str(), (text.size() + 1) * sizeof(WCHAR));
    fuzz::Check(rt::StringLength(copy) == static_cast<int64_t>(text.size()),
                "the string length is wrong");

    std::string expected = SystemFromUtf16(codePage, text);
    fuzz::Check(RuntimeFromUtf16(codePage, copy) == expected, "a conversion to 8 bits differs");
    std::string room(static_cast<size_t>(capacity), '\0');
    int64_t stored = rt::Utf16ToMultiByteInto(codePage, copy, static_cast<int64_t>(text.size()),
                                              room.data(), capacity);
    if (static_cast<int64_t>(expected.size()) <= capacity) {
        fuzz::Check(stored == static_cast<int64_t>(expected.size()) &&
                        room.compare(0, expected.size(), expected) == 0,
                    "a conversion into room that holds it differs");
    } else {
        fuzz::Check(stored == -1, "a conversion into too little room was not refused");
    }
    std::free(block);
}

void ToUtf16(UINT codePage, fuzz::Input& input) {
    std::string rest = input.Rest();
    std::string text = rest.substr(0, rest.find('\0'));
    WideString wide = RuntimeToUtf16(codePage, text);
    fuzz::Check(wide == SystemToUtf16(codePage, text), "a conversion to UTF-16 differs");
    if (codePage == CP_ACP) {
        // Every byte value has its own character in the active code page.
        fuzz::Check(RuntimeFromUtf16(CP_ACP, wide) == text, "8-bit text did not come back");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::RuntimeStart();
    fuzz::Input input(data, size);
    uint8_t direction = input.Byte();
    UINT codePage = (direction & 2) ? CP_UTF8 : CP_ACP;
    if (direction & 1) {
        FromUtf16(codePage, input);
    } else {
        ToUtf16(codePage, input);
    }
    return 0;
}
