// Conversions between UTF-16 and 8-bit text (UTF-8 or the active code page).
//
// Every conversion measures first and converts second. Results into the string builder follow the
// result convention; the Alloc forms return malloc blocks that the caller frees with free, and
// Utf16ToMultiByte returns a MainHeap block. A null source counts as the empty string.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "strings_internal.h"

#if defined(__SSE2__)
// Narrowing loads blocks that reach past a string's end within its page, which AddressSanitizer
// would report.
#if !RT_ADDRESS_SANITIZER
#define RT_NARROW_VECTOR 1
#endif
#endif

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

// Text that a code page maps one to one is converted here, without a call to the system: the
// bytes below 0x80 are ASCII in UTF-8, and in Windows-1252 every byte but 0x80 to 0x9F stands for
// the code point of its value. Any other text goes to the system's conversion whole, so every
// result is the system's own. Every line a file copy reads and writes comes this way.
enum class Direct { None, Ascii, Latin1 };

// The active code page does not change while the process runs: asked once, at start-up.
const Direct activeDirect = GetACP() == 1252 ? Direct::Latin1 : Direct::None;

inline Direct DirectSet(UINT codePage) {
    return codePage == CP_UTF8 ? Direct::Ascii : codePage == CP_ACP ? activeDirect : Direct::None;
}

bool IsDirect(uint32_t value, Direct direct) {
    return value < 0x80 || (direct == Direct::Latin1 && value >= 0xA0 && value <= 0xFF);
}

#if defined(__SSE2__)
// One bit per byte of `block` that is not direct.
inline unsigned OtherBytes(__m128i block, Direct direct) {
    __m128i other =
        direct == Direct::Ascii
            ? block
            : _mm_cmpeq_epi8(_mm_and_si128(block, _mm_set1_epi8(static_cast<char>(0xE0))),
                             _mm_set1_epi8(static_cast<char>(0x80)));
    return static_cast<unsigned>(_mm_movemask_epi8(other));
}

// Whether the sixteen bytes of `block` are all direct.
inline bool DirectBytes(__m128i block, Direct direct) {
    return OtherBytes(block, direct) == 0;
}

// Two bits per unit of `block` that is not direct.
inline unsigned OtherUnits(__m128i block, Direct direct) {
    __m128i other;
    if (direct == Direct::Ascii) {
        other = _mm_and_si128(block, _mm_set1_epi16(static_cast<short>(0xFF80)));
    } else {
        __m128i wide = _mm_and_si128(block, _mm_set1_epi16(static_cast<short>(0xFF00)));
        __m128i c1 =
            _mm_cmpeq_epi16(_mm_and_si128(block, _mm_set1_epi16(0x00E0)), _mm_set1_epi16(0x0080));
        other = _mm_or_si128(wide, c1);
    }
    return ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(other, _mm_setzero_si128()))) &
           0xFFFF;
}

// Whether the eight units of `block` are all direct.
inline bool DirectUnits(__m128i block, Direct direct) {
    return OtherUnits(block, direct) == 0;
}

// One bit per byte of `block` that ends a line's run: a zero, CR or LF.
inline unsigned LineStops(__m128i block) {
    __m128i stops = _mm_or_si128(_mm_cmpeq_epi8(block, _mm_setzero_si128()),
                                 _mm_or_si128(_mm_cmpeq_epi8(block, _mm_set1_epi8(10)),
                                              _mm_cmpeq_epi8(block, _mm_set1_epi8(13))));
    return static_cast<unsigned>(_mm_movemask_epi8(stops));
}

inline void WidenBlock(__m128i block, WCHAR* units) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(units),
                     _mm_unpacklo_epi8(block, _mm_setzero_si128()));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(units + 8),
                     _mm_unpackhi_epi8(block, _mm_setzero_si128()));
}

inline bool Widen16(const unsigned char* bytes, WCHAR* units, Direct direct) {
    __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
    if (!DirectBytes(block, direct)) {
        return false;
    }
    WidenBlock(block, units);
    return true;
}

inline bool Narrow8(const WCHAR* units, char* bytes, Direct direct) {
    __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units));
    if (!DirectUnits(block, direct)) {
        return false;
    }
    _mm_storel_epi64(reinterpret_cast<__m128i*>(bytes), _mm_packus_epi16(block, block));
    return true;
}
#endif

// Widens `count` bytes into units when every byte is direct; false when one is not (the units may
// then hold part of the text).
bool WidenDirect(const char* source, int64_t count, WCHAR* units, Direct direct) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(source);
    int64_t i = 0;
#if defined(__SSE2__)
    if (count >= 16) {
        for (; i + 16 <= count; i += 16) {
            if (!Widen16(bytes + i, units + i, direct)) {
                return false;
            }
        }
        // The tail as one more block that overlaps the last.
        return i == count || Widen16(bytes + count - 16, units + count - 16, direct);
    }
#endif
    for (; i < count; ++i) {
        if (!IsDirect(bytes[i], direct)) {
            return false;
        }
        units[i] = bytes[i];
    }
    return true;
}

// Narrows `count` units into bytes when every unit is direct; false when one is not.
bool NarrowDirect(const WCHAR* units, int64_t count, char* bytes, Direct direct) {
    int64_t i = 0;
#if defined(__SSE2__)
    if (count >= 8) {
        for (; i + 8 <= count; i += 8) {
            if (!Narrow8(units + i, bytes + i, direct)) {
                return false;
            }
        }
        return i == count || Narrow8(units + count - 8, bytes + count - 8, direct);
    }
#endif
    for (; i < count; ++i) {
        if (!IsDirect(units[i], direct)) {
            return false;
        }
        bytes[i] = static_cast<char>(units[i]);
    }
    return true;
}

#if defined(__SSE2__)
// WidenLine below for at least 32 bytes, 32 at a time, where the processor has 32-byte vectors.
// WidenLineWide's masks for each direct set, by its number: a byte is not direct when its bits
// under the first mask equal the second (every byte when none is direct).
constexpr PlatformVector widenMasks[3][2] = {{PlatformSplat8(0), PlatformSplat8(0)},
                                             {PlatformSplat8(0x80), PlatformSplat8(0x80)},
                                             {PlatformSplat8(0xE0), PlatformSplat8(0x80)}};
static_assert(static_cast<int>(Direct::Ascii) == 1 && static_cast<int>(Direct::Latin1) == 2);

__attribute__((target("avx2"))) int64_t WidenLineWide(const unsigned char* bytes, int64_t count,
                                                      WCHAR* units, Direct direct, bool* clean) {
    const PlatformVector* masks = PlatformInMemory(widenMasks[static_cast<int>(direct)]);
    const char no = '\xFF';  // equal to no byte below 0x80
    __m256i stopTable =
        _mm256_setr_epi8(0, no, no, no, no, no, no, no, no, no, 10, no, no, 13, no, no,  //
                         0, no, no, no, no, no, no, no, no, no, 10, no, no, 13, no, no);
    unsigned others = 0;  // of the blocks before the last
    for (int64_t i = 0;; i += 32) {
        if (i + 32 > count) {
            i = count - 32;
        }
        __m256i block = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + i));
        // The shuffle gives each byte the table's entry for its low four bits (zero for bytes
        // from 0x80 up), and that entry equals the byte only for the stops 0, 10 and 13.
        __m256i stops = _mm256_cmpeq_epi8(_mm256_shuffle_epi8(stopTable, block), block);
        auto stopBits = static_cast<unsigned>(_mm256_movemask_epi8(stops));
        auto otherBits = static_cast<unsigned>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(
            _mm256_and_si256(block, PlatformLoad(masks[0])), PlatformLoad(masks[1]))));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(units + i),
                            _mm256_cvtepu8_epi16(_mm256_castsi256_si128(block)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(units + i + 16),
                            _mm256_cvtepu8_epi16(_mm256_extracti128_si256(block, 1)));
        if (stopBits != 0) {
            unsigned before = (stopBits & -stopBits) - 1;
            *clean = *clean && (others | (otherBits & before)) == 0;
            return i + __builtin_ctz(stopBits);
        }
        others |= otherBits;
        if (i + 32 == count) {
            *clean = *clean && others == 0;
            return count;
        }
    }
}
#endif

// The run of a line, scanned and widened sixteen bytes at a time where there are sixteen; the last
// block overlaps the one before it, whose bytes are known to hold no stop.
int64_t WidenLine(const unsigned char* bytes, int64_t count, WCHAR* units, Direct direct,
                  bool* clean) {
    int64_t i = 0;
#if defined(__SSE2__)
    if (count >= 32 && PlatformWideVectors) {
        return WidenLineWide(bytes, count, units, direct, clean);
    }
    if (count >= 16) {
        for (;; i += 16) {
            if (i + 16 > count) {
                i = count - 16;
            }
            __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
            unsigned stops = LineStops(block);
            unsigned others = direct != Direct::None ? OtherBytes(block, direct) : ~0u;
            WidenBlock(block, units + i);
            if (stops != 0) {
                unsigned before = (stops & -stops) - 1;  // the bytes ahead of the first stop
                *clean = *clean && (others & before) == 0;
                return i + __builtin_ctz(stops);
            }
            *clean = *clean && others == 0;
            if (i + 16 == count) {
                return count;
            }
        }
    }
#endif
    for (; i < count; ++i) {
        unsigned char byte = bytes[i];
        if (byte == 0 || byte == 10 || byte == 13) {
            break;
        }
        *clean = *clean && IsDirect(byte, direct);
        units[i] = byte;
    }
    return i;
}

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
    Direct direct = DirectSet(codePage);
    int written = direct != Direct::None && WidenDirect(bytes, length, destination, direct)
                      ? static_cast<int>(length)
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
    Direct direct = DirectSet(codePage);
    if (direct != Direct::None && units <= capacity &&
        NarrowDirect(text, units, destination, direct)) {
        return units;
    }
    int written = WideCharToMultiByte(codePage, 0, text, static_cast<int>(units), destination,
                                      static_cast<int>(capacity), nullptr, nullptr);
    return written > 0 ? written : -1;
}

// One round of narrowing from text[*at] on: eight units at a time while they fit in the room and
// their block lies in one page, then unit by unit past the room's end or the page's, which the
// blocks stopped within eight units of. The index of the first end (a zero, a unit that is not
// direct, or the room's end) once it is reached, else -1 with *at past the page's end, where
// blocks can go on. Inlined into each of the drivers below.
[[gnu::always_inline]] inline int64_t NarrowRound(const WCHAR* text, char* destination,
                                                  int64_t capacity, Direct direct, int64_t* at) {
    int64_t i = *at;
    int64_t limit = capacity;
#if RT_NARROW_VECTOR
    for (; i + 8 <= capacity && PlatformWithinPage(text + i, 16); i += 8) {
        __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
        unsigned ends =
            OtherUnits(block, direct) |
            static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(block, _mm_setzero_si128())));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(destination + i),
                         _mm_packus_epi16(block, block));
        if (ends != 0) {
            return i + __builtin_ctz(ends) / 2;
        }
    }
    limit = std::min(capacity, i + 8);
#endif
    for (; i < limit; ++i) {
        if (text[i] == 0 || !IsDirect(text[i], direct)) {
            return i;
        }
        destination[i] = static_cast<char>(text[i]);
    }
    *at = i;
    return i == capacity ? i : -1;
}

namespace {

// The narrowing with eight units at a time at most: 16-byte vectors, or none.
int64_t NarrowByEight(const WCHAR* text, char* destination, int64_t capacity, Direct direct) {
    for (int64_t i = 0;;) {
        int64_t end = NarrowRound(text, destination, capacity, direct, &i);
        if (end >= 0) {
            return end;
        }
    }
}

#if RT_NARROW_VECTOR
// The masks of NarrowBlocks below for each direct set, Windows-1252's and ASCII's: the bits of a
// unit above 0xFF where the byte mask does not catch such a unit, and the byte mask itself. A byte
// is not direct when its bits under the byte mask are 0x80: the C1 controls, which Windows-1252
// maps through its table, or every byte from 0x80 up for ASCII.
constexpr PlatformVector narrowMasks[2][2] = {{PlatformSplat16(0xFF00), PlatformSplat8(0xE0)},
                                              {PlatformSplat16(0), PlatformSplat8(0x80)}};

inline const PlatformVector* NarrowMasksOf(Direct direct) {
    return PlatformInMemory(narrowMasks[direct == Direct::Latin1 ? 0 : 1]);
}

// Narrows thirty-two units at a time from text[*at] on while they fit in the room and their block
// lies in one page. The units are packed to bytes first and the bytes tested: packing saturates
// every unit above 0xFF to 0xFF, so where a block holds such a unit (none is direct) its units are
// tested as well; for ASCII the saturated byte already has its top bit set. The index of the first
// end (a zero or a unit that is not direct) when a block holds it, else -1 with *at at the first
// block not narrowed.
[[gnu::always_inline]] __attribute__((target("avx2"))) inline int64_t NarrowBlocks(
    const WCHAR* text, char* destination, int64_t capacity, const PlatformVector* masks,
    int64_t* at) {
    int64_t i = *at;
    for (; i + 32 <= capacity && PlatformWithinPage(text + i, 64); i += 32) {
        __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text + i));
        __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text + i + 16));
        // Packing works within each 16-byte half: the halves' bytes are brought together.
        __m256i bytes = _mm256_permute4x64_epi64(_mm256_packus_epi16(low, high), 0xD8);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(destination + i), bytes);
        __m256i zero = _mm256_setzero_si256();
        __m256i ends =
            _mm256_or_si256(_mm256_cmpeq_epi8(_mm256_and_si256(bytes, PlatformLoad(masks[1])),
                                              _mm256_set1_epi8('\x80')),
                            _mm256_cmpeq_epi8(bytes, zero));
        __m256i wide = PlatformLoad(masks[0]);
        if (!_mm256_testz_si256(_mm256_or_si256(low, high), wide)) {
            // Units above 0xFF, found past the text's end as often as in it: each is an end, as
            // its saturated byte may not show. Their unit masks are packed as the units were.
            __m256i narrowUnits = _mm256_permute4x64_epi64(
                _mm256_packs_epi16(_mm256_cmpeq_epi16(_mm256_and_si256(low, wide), zero),
                                   _mm256_cmpeq_epi16(_mm256_and_si256(high, wide), zero)),
                0xD8);
            ends = _mm256_or_si256(ends, _mm256_cmpeq_epi8(narrowUnits, zero));
        }
        if (auto endBits = static_cast<unsigned>(_mm256_movemask_epi8(ends))) {
            return i + __builtin_ctz(endBits);
        }
    }
    *at = i;
    return -1;
}

// NarrowWide below once its first blocks could not go on: rounds of eight units and blocks of
// thirty-two in turn. Out of line, so that a text that ends in its first blocks, as most do, sets
// up nothing for the rounds.
[[gnu::noinline]] __attribute__((target("avx2"))) int64_t NarrowWideOn(const WCHAR* text,
                                                                       char* destination,
                                                                       int64_t capacity,
                                                                       Direct direct, int64_t i) {
    const PlatformVector* masks = NarrowMasksOf(direct);
    for (;;) {
        int64_t end = NarrowRound(text, destination, capacity, direct, &i);
        if (end < 0) {
            end = NarrowBlocks(text, destination, capacity, masks, &i);
        }
        if (end >= 0) {
            return end;
        }
    }
}

// The narrowing for processors with 32-byte vectors.
__attribute__((target("avx2"))) int64_t NarrowWide(const WCHAR* text, char* destination,
                                                   int64_t capacity, Direct direct) {
    int64_t i = 0;
    int64_t end = NarrowBlocks(text, destination, capacity, NarrowMasksOf(direct), &i);
    return end >= 0 ? end : NarrowWideOn(text, destination, capacity, direct, i);
}
#endif

}  // namespace

int64_t AnsiLineWiden(const char* bytes, int64_t count, WCHAR* units, bool* direct) {
    Direct set = DirectSet(CP_ACP);
    *direct = set != Direct::None;
    return WidenLine(reinterpret_cast<const unsigned char*>(bytes), count, units, set, direct);
}

int64_t Utf16ToMultiByteDirect(UINT codePage, const WCHAR* text, char* destination,
                               int64_t capacity) {
    Direct direct = DirectSet(codePage);
    if (direct == Direct::None) {
        return 0;
    }
#if RT_NARROW_VECTOR
    if (PlatformWideVectors) {
        return NarrowWide(text, destination, capacity, direct);
    }
#endif
    return NarrowByEight(text, destination, capacity, direct);
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
