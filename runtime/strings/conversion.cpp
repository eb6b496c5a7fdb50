// Conversions between UTF-16 and 8-bit text (UTF-8 or the active code page).
//
// Every conversion measures first and converts second. Results into the string builder follow the
// result convention; the Alloc forms return malloc blocks that the caller frees with free, and
// Utf16ToMultiByte returns a MainHeap block. A null source counts as the empty string.
#include <cstdlib>
#include <cstring>

#include "strings_internal.h"

namespace rt {

namespace {

const char* OrEmpty(const char* source) {
    return source != nullptr ? source : "";
}
const WCHAR* OrEmpty(const WCHAR* text) {
    return text != nullptr ? text : RT_TEXT("");
}

int ByteLength(const char* source) {
    return static_cast<int>(std::strlen(source));
}

// Text that a code page maps one to one is converted here, by the text kernels, without a call to
// the system: the bytes below 0x80 are ASCII in UTF-8, and in Windows-1252 every byte but 0x80 to
// 0x9F stands for the code point of its value. Any other text goes to the system's conversion
// whole, so every result is the system's own. Every line a file copy reads and writes comes this
// way. The active code page does not change while the process runs: asked once, at start-up.
const TextDirect activeDirect = GetACP() == 1252 ? TextDirect::Latin1 : TextDirect::None;

// No byte stops a widening of counted text.
constexpr TextStops NO_STOPS = TextStopSet({});

// Delivers the empty string at `position`.
WCHAR* EmptyResult(int32_t position) {
    WCHAR* destination = StringBuilderReserve(0, position);
    *destination = 0;
    return destination;
}

// Converts `length` bytes in `codePage` at `position` with a zero unit after them; nothing to
// convert, or a failed conversion, delivers the empty string. No byte of UTF-8 or of an 8-bit or
// double-byte code page yields more than one unit, so room for `length` units always suffices:
// the text is converted in one call rather than measured first, and the room it did not fill is
// given back, which leaves the builder as a measured conversion would.
WCHAR* BytesToUtf16Result(UINT codePage, const char* bytes, int64_t length, int32_t position) {
    if (length <= 0) {
        return EmptyResult(position);
    }
    WCHAR* destination = StringBuilderReserve(length, position);
    bool direct = TextWiden(reinterpret_cast<const uint8_t*>(bytes), length, length, destination,
                            NO_STOPS, TextDirectOf(codePage))
                      .direct;
    int written = direct ? static_cast<int>(length)
                         : MultiByteToWideChar(codePage, 0, bytes, static_cast<int>(length),
                                               destination, static_cast<int>(length));
    StringBuilderUnreserve(length - written);
    destination[written] = 0;
    return destination;
}

// Measures a UTF-16 text (with its zero) in `codePage` and converts it into a malloc block with a
// zero byte after the bytes produced; a failure of either step gives a block holding one zero.
char* Utf16ToMultiByteAlloc(UINT codePage, const WCHAR* text) {
    int bytes = text != nullptr
                    ? WideCharToMultiByte(codePage, 0, text, -1, nullptr, 0, nullptr, nullptr)
                    : 0;
    char* block = static_cast<char*>(std::malloc(bytes + 1));
    if (block == nullptr || bytes == 0) {
        std::free(block);
        block = static_cast<char*>(std::malloc(1));
        if (block != nullptr) {
            block[0] = 0;
        }
        return block;
    }
    int written = WideCharToMultiByte(codePage, 0, text, -1, block, bytes, nullptr, nullptr);
    block[written] = 0;
    return block;
}

}  // namespace

WCHAR* Utf8ToUtf16Result(const char* source, int32_t position) {
    source = OrEmpty(source);
    return Utf8BytesToUtf16Result(source, ByteLength(source), position);
}

WCHAR* AnsiToUtf16Result(const char* source, int32_t position) {
    source = OrEmpty(source);
    return AnsiBytesToUtf16Result(source, ByteLength(source), position);
}

WCHAR* Utf8BytesToUtf16Result(const char* bytes, int64_t length, int32_t position) {
    return BytesToUtf16Result(CP_UTF8, bytes, length, position);
}

WCHAR* AnsiBytesToUtf16Result(const char* bytes, int64_t length, int32_t position) {
    return BytesToUtf16Result(CP_ACP, bytes, length, position);
}

char* Utf16ToMultiByte(UINT codePage, const WCHAR* text, int64_t* outLength) {
    text = OrEmpty(text);
    int bytes = WideCharToMultiByte(codePage, 0, text, -1, nullptr, 0, nullptr, nullptr);
    *outLength = bytes;
    if (bytes == 0) {
        return nullptr;
    }
    auto* block = static_cast<char*>(HeapAlloc(MainHeap, 0, bytes + 1));
    if (block == nullptr) {
        return nullptr;
    }
    WideCharToMultiByte(codePage, 0, text, -1, block, bytes, nullptr, nullptr);
    *outLength = bytes - 1;
    return block;
}

int64_t Utf16ToMultiByteInto(UINT codePage, const WCHAR* text, int64_t units, char* destination,
                             int64_t capacity) {
    if (units <= 0) {
        return 0;
    }
    if (capacity <= 0) {
        return -1;  // a conversion into no room would only measure
    }
    if (units <= capacity &&
        TextNarrow(text, units, destination, TextDirectOf(codePage)) == units) {
        return units;
    }
    int written = WideCharToMultiByte(codePage, 0, text, static_cast<int>(units), destination,
                                      static_cast<int>(capacity), nullptr, nullptr);
    return written > 0 ? written : -1;
}

TextDirect TextDirectOf(UINT codePage) {
    return codePage == CP_UTF8  ? TextDirect::Ascii
           : codePage == CP_ACP ? activeDirect
                                : TextDirect::None;
}

int64_t Utf16ToMultiByteDirect(UINT codePage, const WCHAR* text, char* destination,
                               int64_t capacity) {
    return TextNarrow(text, capacity, destination, TextDirectOf(codePage));
}

char* Utf16ToUtf8Alloc(const WCHAR* text) {
    return Utf16ToMultiByteAlloc(CP_UTF8, text);
}

char* Utf16ToAnsiAlloc(const WCHAR* text) {
    return Utf16ToMultiByteAlloc(CP_ACP, text);
}

WCHAR* Utf8ToUtf16Alloc(const char* source) {
    source = OrEmpty(source);
    int units = MultiByteToWideChar(CP_UTF8, 0, source, -1, nullptr, 0);
    if (units == 0) {
        auto* empty = static_cast<WCHAR*>(std::malloc(sizeof(WCHAR)));
        if (empty != nullptr) {
            empty[0] = 0;
        }
        return empty;
    }
    auto* block = static_cast<WCHAR*>(std::malloc(units * sizeof(WCHAR)));
    if (block != nullptr) {
        MultiByteToWideChar(CP_UTF8, 0, source, -1, block, units);
    }
    return block;
}

WCHAR* AnsiToUtf16Alloc(const char* source) {
    int length = source != nullptr ? ByteLength(source) : 0;
    int units = length > 0 ? MultiByteToWideChar(CP_ACP, 0, source, length, nullptr, 0) : 0;
    auto* block = static_cast<WCHAR*>(std::malloc((units + 1) * sizeof(WCHAR)));
    if (block != nullptr) {
        int written = units > 0 ? MultiByteToWideChar(CP_ACP, 0, source, length, block, units) : 0;
        block[written] = 0;
    }
    return block;
}

}  // namespace rt
