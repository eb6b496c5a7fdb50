// The text kernels (textscan.h): for each, the reference loop and the vector routine that the tests
// compare with it.
//
// The vector routines work in blocks of sixteen characters and use 32-byte vectors (AVX2) where
// sixteen units fill one, or where two blocks of bytes go in one: measured with callgrind on the
// benchmark's file of lines of 0 to 100 characters, widening the window two blocks at a time
// takes 30 instructions a line fewer than a block at a time. The bit operations of BMI and BMI2
// (tzcnt, bzhi) find an end in the masks without a branch, and each pass costs about 0.2
// mispredicted branches a line, where a loop's exit decided by the line's length cost about one.
// A line that ends in its first block is done without a call or a stack frame; the rest (the
// window, a long text, a byte for the system's conversion) are calls at the end.
//
// Some of them read past the end of a text, within the page that holds its last bytes or within
// the reach the caller allows: the sanitizers would report those reads, so they do not check
// these routines; the tests and the fuzzing harness place texts before an inaccessible page
// instead.
#include "textscan.h"

#include <algorithm>

#if defined(__x86_64__)
#include <immintrin.h>
#define RT_TEXT_VECTORS 1
#endif

namespace rt {

bool TextVectors = [] {
#if RT_TEXT_VECTORS
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0 && __builtin_cpu_supports("bmi2") != 0;
#else
    return false;
#endif
}();

int64_t TextScanReference(const uint8_t* bytes, int64_t count, const TextStops& stops) {
    int64_t i = 0;
    while (i < count && !TextStopsHas(stops, bytes[i])) {
        ++i;
    }
    return i;
}

TextRun TextWidenReference(const uint8_t* bytes, int64_t count, WCHAR* units,
                           const TextStops& stops, TextDirect direct) {
    TextRun run{0, true};
    for (; run.length < count &&
           (bytes[run.length] >= 0x80 || !TextStopsHas(stops, bytes[run.length]));
         ++run.length) {
        run.direct = run.direct && TextDirectHas(direct, bytes[run.length]);
        units[run.length] = bytes[run.length];
    }
    return run;
}

int64_t TextNarrowReference(const WCHAR* text, int64_t limit, char* bytes, TextDirect direct) {
    int64_t i = 0;
    for (; i < limit && text[i] != 0 && TextDirectHas(direct, text[i]); ++i) {
        bytes[i] = static_cast<char>(text[i]);
    }
    return i;
}

void TextRot47Reference(WCHAR* destination, const WCHAR* source, int64_t units) {
    for (int64_t i = 0; i < units; ++i) {
        destination[i] = TextRot47Unit(source[i]);
    }
    destination[units] = 0;
}

#if RT_TEXT_VECTORS

namespace {

#define RT_VECTOR_CODE __attribute__((target("avx2,bmi,bmi2")))
// The routines' small parts, inlined even where the compiler does not optimise: a part not inlined
// into a routine that reads past a text's end would have its reads checked all the same.
#define RT_VECTOR_PART [[gnu::always_inline]] inline RT_VECTOR_CODE
// For the routines that read past a text's end (see the top of the file).
#define RT_READS_PAST_END __attribute__((no_sanitize("address", "thread")))
// For the rare continuations, kept out of the common paths' code.
#define RT_RARE [[gnu::noinline, gnu::cold]]

// The unit of access that a load cannot reach beyond without the risk of a fault.
constexpr uintptr_t PAGE_BYTES = 4096;

// The bytes from `address` to the end of its page.
inline uintptr_t BytesToPageEnd(const void* address) {
    return PAGE_BYTES - (reinterpret_cast<uintptr_t>(address) & (PAGE_BYTES - 1));
}

// Whether the `bytes` bytes from `address` lie in one page. A vector load of them cannot fault
// where the first of them belongs to a text, however close the text's end is. Written as the
// address's offset in its page against a constant, which the compiler folds when `bytes` is one.
inline bool WithinPage(const void* address, uintptr_t bytes) {
    return (reinterpret_cast<uintptr_t>(address) & (PAGE_BYTES - 1)) <= PAGE_BYTES - bytes;
}

// The window of whole blocks after the first block, in which a short text's end is found by its
// masks: three pairs of blocks, 96 characters.
constexpr int WINDOW_PAIRS = 3;
constexpr int64_t WINDOW = WINDOW_PAIRS * 2 * TEXT_BLOCK;
static_assert(TEXT_REACH == TEXT_BLOCK + WINDOW);

// The vector constants, kept in memory: the kernels run once per line of a few dozen characters,
// and a constant built in a register costs three instructions on every call where a memory
// operand costs none.
struct alignas(32) Constant {
    uint16_t units[16];
};

constexpr Constant Splat16(uint16_t value) {
    Constant constant{};
    for (uint16_t& unit : constant.units) {
        unit = value;
    }
    return constant;
}

constexpr Constant Splat8(uint8_t value) {
    return Splat16(static_cast<uint16_t>(value * 0x101));
}

enum ConstantIndex {
    // The signed byte below which a byte is not direct, by TextDirect: 0 (0x80 and up) for ASCII,
    // -96 (0x80 to 0x9F) for Windows-1252. With no direct bytes every byte is another, which no
    // floor says: that set starts its count of others at all ones instead of zeros.
    FLOOR_NONE,
    FLOOR_ASCII,
    FLOOR_LATIN1,
    OTHERS_NONE,
    OTHERS_ASCII,
    OTHERS_LATIN1,
    // ROT47 (see Rot47Block).
    TO_SIGNED,
    TO_SIGNED_PLUS_47,
    TO_SIGNED_MINUS_47,
    FROM_SIGNED,
    PRINTABLE_TOP,
    CONSTANTS
};
static_assert(static_cast<int>(TextDirect::None) == 0 && static_cast<int>(TextDirect::Latin1) == 2);

constexpr Constant constants[CONSTANTS] = {
    Splat8(0),      Splat8(0),       Splat8(0xA0),         Splat8(0xFF),         Splat8(0),
    Splat8(0),      Splat16(0x7FDF), Splat16(0x7FDF + 47), Splat16(0x7FDF - 47), Splat16(0x8021),
    Splat16(0x805D)};

// The table, hidden from the optimiser, so that it reads the constants where they are used
// instead of folding them back into values it builds in registers.
inline const Constant* Constants() {
    const Constant* table = constants;
    __asm__("" : "+r"(table));
    return table;
}

RT_VECTOR_PART __m256i Load(const Constant& constant) {
    return _mm256_load_si256(reinterpret_cast<const __m256i*>(&constant));
}

RT_VECTOR_PART __m256i Of(ConstantIndex first, TextDirect direct) {
    return Load(Constants()[first + static_cast<int>(direct)]);
}

RT_VECTOR_PART uint32_t Mask(__m256i bytes) {
    return static_cast<uint32_t>(_mm256_movemask_epi8(bytes));
}

RT_VECTOR_PART uint32_t Mask(__m128i bytes) {
    return static_cast<uint32_t>(_mm_movemask_epi8(bytes));
}

RT_VECTOR_PART __m128i Low(__m256i vector) {
    return _mm256_castsi256_si128(vector);
}

// The masks of a window's pairs of blocks (three of them, or four), one bit per character, as 128
// bits. Without three pairs' fourth, the first bit past them is set, so that the first set bit
// is the window's size when no character is marked.
struct PairMasks {
    uint64_t low;
    uint64_t high;

    template <int pairs>
    RT_VECTOR_PART explicit PairMasks(const uint32_t (&bits)[pairs])
        : low(bits[0] | static_cast<uint64_t>(bits[1]) << 32),
          high(bits[2] | (pairs == 4 ? static_cast<uint64_t>(bits[pairs - 1]) : 1) << 32) {
        static_assert(pairs == 3 || pairs == 4);
    }

    // The first set bit, or 128. Without a branch: a short text's end falls in either half.
    RT_VECTOR_PART int64_t First() const {
        uint64_t inLow = _tzcnt_u64(low);
        uint64_t inHigh = _tzcnt_u64(high);
        return static_cast<int64_t>(inLow + (inHigh & -static_cast<uint64_t>(low == 0)));
    }
};

// The narrowing window: four pairs of blocks.
constexpr int NARROW_PAIRS = 4;
static_assert(TEXT_NARROW_REACH == NARROW_PAIRS * 2 * TEXT_BLOCK);

// Masks of dwords for masked loads and stores, which touch no dword that their mask leaves out,
// not even one in a page that cannot be read: FirstDwords(d) selects the first d of the
// TEXT_NARROW_REACH / 2 dwords from it, and none of the rest.
struct DwordMasks {
    int32_t dwords[TEXT_NARROW_REACH];
};

constexpr DwordMasks MakeDwordMasks() {
    DwordMasks masks{};
    for (int64_t i = 0; i < TEXT_NARROW_REACH / 2; ++i) {
        masks.dwords[i] = -1;
    }
    return masks;
}

constexpr DwordMasks dwordMasks = MakeDwordMasks();

inline const int32_t* FirstDwords(uint64_t d) {
    return dwordMasks.dwords + TEXT_NARROW_REACH / 2 - d;
}

// ---- Scanning and widening

// The bytes of `block` that stop: the table holds, for each value of the low four bits, the one
// stop below 0x80 with it; the shuffle gives each byte below 0x80 its entry (and bytes from 0x80
// up a zero), which equals the byte only for a stop. `high`: every byte from 0x80 up stops too.
template <bool high = false>
RT_VECTOR_PART uint32_t StopBits(__m256i block, __m256i table) {
    uint32_t bits = Mask(_mm256_cmpeq_epi8(_mm256_shuffle_epi8(table, block), block));
    return high ? bits | Mask(block) : bits;
}

template <bool high = false>
RT_VECTOR_PART uint32_t StopBits(__m128i block, __m256i table) {
    uint32_t bits = Mask(_mm_cmpeq_epi8(_mm_shuffle_epi8(Low(table), block), block));
    return high ? bits | Mask(block) : bits;
}

RT_VECTOR_PART __m256i StopTable(const TextStops& stops) {
    return _mm256_broadcastsi128_si256(
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(stops.table)));
}

RT_VECTOR_PART __m128i LoadBlock(const uint8_t* bytes) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
}

RT_VECTOR_PART void StoreWidened(WCHAR* units, __m128i block) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(units), _mm256_cvtepu8_epi16(block));
}

template <bool high>
RT_VECTOR_CODE int64_t ScanBlocks(const uint8_t* bytes, int64_t count, const TextStops& stops) {
    if (count < TEXT_BLOCK) {
        return TextScanReference(bytes, count, stops);
    }
    __m256i table = StopTable(stops);
    for (int64_t i = 0;; i += TEXT_BLOCK) {
        // The last block overlaps the one before, whose bytes hold no stop.
        i = std::min(i, count - TEXT_BLOCK);
        int64_t at = _tzcnt_u32(StopBits<high>(LoadBlock(bytes + i), table) | 1u << TEXT_BLOCK);
        if (at < TEXT_BLOCK || i + TEXT_BLOCK == count) {
            return i + at;
        }
    }
}

// The run of bytes[0, end), looked at byte by byte: for the rare window that holds a byte that is
// not direct, perhaps past the run's end.
RT_RARE TextRun WidenedOthers(const uint8_t* bytes, int64_t end, TextDirect direct) {
    TextRun run{end, true};
    for (int64_t i = 0; i < end; ++i) {
        run.direct = run.direct && TextDirectHas(direct, bytes[i]);
    }
    return run;
}

// TextWiden's blocks within `count` (at least a block): the last block overlaps the one before,
// whose bytes hold no stop.
RT_RARE RT_VECTOR_CODE TextRun WidenBlocks(const uint8_t* bytes, int64_t count, WCHAR* units,
                                           const TextStops& stops, TextDirect direct) {
    __m256i table = StopTable(stops);
    __m128i floor = Low(Of(FLOOR_NONE, direct));
    __m128i others = Low(Of(OTHERS_NONE, direct));
    bool allDirect = true;
    for (int64_t i = 0;; i += TEXT_BLOCK) {
        i = std::min(i, count - TEXT_BLOCK);
        __m128i block = LoadBlock(bytes + i);
        StoreWidened(units + i, block);
        int64_t at = _tzcnt_u32(StopBits(block, table) | 1u << TEXT_BLOCK);
        uint32_t blockOthers = Mask(_mm_or_si128(others, _mm_cmpgt_epi8(floor, block)));
        allDirect = allDirect && _bzhi_u32(blockOthers, static_cast<uint32_t>(at)) == 0;
        if (at < TEXT_BLOCK || i + TEXT_BLOCK == count) {
            return {i + at, allDirect};
        }
    }
}

// A text that does not end in its first block: the window of whole blocks after it, whose masks
// tell the end, or the blocks after that. Bytes that are not direct are rare in the window, past
// the run's end too, so one test of them all leads to a closer look.
[[gnu::noinline]] RT_VECTOR_CODE RT_READS_PAST_END TextRun WidenWindow(const uint8_t* bytes,
                                                                       int64_t count, WCHAR* units,
                                                                       const TextStops& stops,
                                                                       TextDirect direct) {
    __m256i table = StopTable(stops);
    __m256i floor = Of(FLOOR_NONE, direct);
    __m256i others =
        _mm256_or_si256(Of(OTHERS_NONE, direct),
                        _mm256_zextsi128_si256(_mm_cmpgt_epi8(Low(floor), LoadBlock(bytes))));
    uint32_t stopBits[WINDOW_PAIRS];
#pragma GCC unroll 4
    for (int pair = 0; pair < WINDOW_PAIRS; ++pair) {
        int64_t at = TEXT_BLOCK + pair * 2 * TEXT_BLOCK;
        __m256i block = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + at));
        StoreWidened(units + at, Low(block));
        StoreWidened(units + at + TEXT_BLOCK, _mm256_extracti128_si256(block, 1));
        stopBits[pair] = StopBits(block, table);
        others = _mm256_or_si256(others, _mm256_cmpgt_epi8(floor, block));
    }
    int64_t inWindow = PairMasks(stopBits).First();
    if (inWindow == WINDOW && count > TEXT_REACH) {
        // A long text: widened again from its start, in blocks.
        return WidenBlocks(bytes, count, units, stops, direct);
    }
    int64_t end = std::min(TEXT_BLOCK + inWindow, count);
    if (!_mm256_testz_si256(others, others)) {
        return WidenedOthers(bytes, end, direct);
    }
    return {end, true};
}

// The first block, where a short text ends; `count` ends it as well. Any other text goes on in
// the window, which the caller lets the widening reach.
RT_VECTOR_CODE RT_READS_PAST_END TextRun WidenFirst(const uint8_t* bytes, int64_t count,
                                                    WCHAR* units, const TextStops& stops,
                                                    TextDirect direct) {
    __m128i first = LoadBlock(bytes);
    StoreWidened(units, first);
    int64_t end = _tzcnt_u32(StopBits(first, StopTable(stops)) | 1u << std::min(count, TEXT_BLOCK));
    if (end < TEXT_BLOCK) {
        __m128i others = _mm_or_si128(Low(Of(OTHERS_NONE, direct)),
                                      _mm_cmpgt_epi8(Low(Of(FLOOR_NONE, direct)), first));
        return {end, _bzhi_u32(Mask(others), static_cast<uint32_t>(end)) == 0};
    }
    return WidenWindow(bytes, count, units, stops, direct);
}

RT_VECTOR_CODE TextRun WidenVector(const uint8_t* bytes, int64_t count, int64_t reach, WCHAR* units,
                                   const TextStops& stops, TextDirect direct) {
    if (reach >= TEXT_REACH) {
        return WidenFirst(bytes, count, units, stops, direct);
    }
    if (count < TEXT_BLOCK) {
        return TextWidenReference(bytes, count, units, stops, direct);
    }
    return WidenBlocks(bytes, count, units, stops, direct);
}

// ---- Narrowing

// Units packed to bytes saturate: a unit above 0xFF becomes 0xFF, one from 0x8000 up 0. The marks
// among the bytes are the zeros (a zero unit, or one from 0x8000 up), the bytes that are not
// direct, and the 0xFF bytes: a direct 0xFF or a unit above 0xFF, which only the unit tells. The
// first mark is the end unless its unit is a direct 0xFF, which is rare enough to be passed by the
// unit-by-unit step; one mask for both costs fewer operations than a mask of ends and a mask of
// 0xFF bytes to be looked at before the end (18 instructions a line on the benchmark's file).
RT_VECTOR_PART uint32_t Marks(__m256i bytes, __m256i floor) {
    __m256i zeroOrFull = _mm256_or_si256(_mm256_cmpeq_epi8(bytes, _mm256_setzero_si256()),
                                         _mm256_cmpeq_epi8(bytes, _mm256_set1_epi8(-1)));
    return Mask(_mm256_or_si256(zeroOrFull, _mm256_cmpgt_epi8(floor, bytes)));
}

RT_VECTOR_PART uint32_t Marks(__m128i bytes, __m256i floor) {
    __m128i zeroOrFull = _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_setzero_si128()),
                                      _mm_cmpeq_epi8(bytes, _mm_set1_epi8(-1)));
    return Mask(_mm_or_si128(zeroOrFull, _mm_cmpgt_epi8(Low(floor), bytes)));
}

// Whether the mark at `end` is a direct 0xFF rather than the text's end.
inline bool MarksDirectFull(const WCHAR* text, int64_t end, TextDirect direct) {
    return text[end] == 0xFF && direct == TextDirect::Latin1;
}

// The sixteen units at `text` packed to bytes.
RT_VECTOR_PART __m128i PackBlock(const WCHAR* text) {
    __m256i units = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text));
    return _mm_packus_epi16(Low(units), _mm256_extracti128_si256(units, 1));
}

// TextNarrow's blocks from text[i] on: sixteen units at a time while they are within the limit
// and their page; unit by unit past the limit's last block, a page's end (which a block reaches
// again within sixteen units) or a direct 0xFF.
RT_RARE RT_VECTOR_CODE RT_READS_PAST_END int64_t NarrowBlocks(const WCHAR* text, int64_t limit,
                                                              char* bytes, TextDirect direct,
                                                              int64_t i) {
    __m256i floor = Of(FLOOR_NONE, direct);
    for (;;) {
        if (i + TEXT_BLOCK <= limit && WithinPage(text + i, 2 * TEXT_BLOCK)) {
            __m128i block = PackBlock(text + i);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes + i), block);
            int64_t end = i + _tzcnt_u32(Marks(block, floor) | 1u << TEXT_BLOCK);
            if (end == i + TEXT_BLOCK) {
                i = end;
                continue;
            }
            if (!MarksDirectFull(text, end, direct)) {
                return end;
            }
            i = end;
        }
        if (i == limit || text[i] == 0 || !TextDirectHas(direct, text[i])) {
            return i;
        }
        bytes[i] = static_cast<char>(text[i]);
        ++i;
    }
}

// A block's sixteen units: loaded whole, or with the dwords that `selected` leaves out read as
// zeros.
template <bool masked>
RT_VECTOR_PART __m256i LoadUnits(const WCHAR* text, int64_t at, const int32_t* selected) {
    if constexpr (masked) {
        return _mm256_maskload_epi32(
            reinterpret_cast<const int*>(text + at),
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(selected + at / 2)));
    } else {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text + at));
    }
}

// The window of whole blocks narrowed and stored; the first mark in it, or TEXT_NARROW_REACH.
// Two blocks at a time: packing works within each half of a vector, so the halves' bytes are
// brought together.
template <bool masked>
RT_VECTOR_PART int64_t WindowFirstMark(const WCHAR* text, char* bytes, TextDirect direct,
                                       const int32_t* selected) {
    __m256i floor = Of(FLOOR_NONE, direct);
    uint32_t markBits[NARROW_PAIRS];
#pragma GCC unroll 4
    for (int pair = 0; pair < NARROW_PAIRS; ++pair) {
        int64_t at = pair * 2 * TEXT_BLOCK;
        __m256i low = LoadUnits<masked>(text, at, selected);
        __m256i high = LoadUnits<masked>(text, at + TEXT_BLOCK, selected);
        __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(low, high), 0xD8);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(bytes + at), packed);
        markBits[pair] = Marks(packed, floor);
    }
    return PairMasks(markBits).First();
}

// The end from the window, whose masks tell it, or from blocks after that. The limit holds the
// window, and the window lies in the text's page.
[[gnu::always_inline]] inline RT_VECTOR_CODE RT_READS_PAST_END int64_t
NarrowWindow(const WCHAR* text, int64_t limit, char* bytes, TextDirect direct) {
    int64_t end = WindowFirstMark<false>(text, bytes, direct, nullptr);
    if (end == TEXT_NARROW_REACH || MarksDirectFull(text, end, direct)) {
        return NarrowBlocks(text, limit, bytes, direct, end);
    }
    return end;
}

// The window for a text whose page ends within it: the dwords in the page are loaded and the rest
// read as zeros, so that the first mark is at the latest where the page's whole dwords end. A text
// that goes on there takes a window again from the next page's start, where it has one, or else
// blocks. Where the heap has put a string decides this path for every line that the string holds:
// without it, one placement in sixteen sent each line to the blocks from its start, at about three
// times the window's instructions.
[[gnu::noinline]] RT_VECTOR_CODE RT_READS_PAST_END int64_t NarrowWindowInPage(const WCHAR* text,
                                                                              int64_t limit,
                                                                              char* bytes,
                                                                              TextDirect direct) {
    uint64_t pageBytes = BytesToPageEnd(text);
    auto inPage = static_cast<int64_t>(pageBytes / 4 * 2);
    int64_t end = WindowFirstMark<true>(text, bytes, direct, FirstDwords(pageBytes / 4));
    if (end < inPage) {
        return MarksDirectFull(text, end, direct) ? NarrowBlocks(text, limit, bytes, direct, end)
                                                  : end;
    }
    auto next = static_cast<int64_t>(pageBytes / 2);
    if (next != inPage || limit - next < TEXT_NARROW_REACH) {
        // A unit that straddles the dwords' end, or a room that ends before a window.
        return NarrowBlocks(text, limit, bytes, direct, end);
    }
    return next + NarrowWindow(text + next, limit - next, bytes + next, direct);
}

RT_VECTOR_CODE RT_READS_PAST_END int64_t NarrowVector(const WCHAR* text, int64_t limit, char* bytes,
                                                      TextDirect direct) {
    if (direct == TextDirect::None) {
        return 0;
    }
    if (limit >= TEXT_NARROW_REACH && WithinPage(text, 2 * TEXT_NARROW_REACH)) {
        return NarrowWindow(text, limit, bytes, direct);
    }
    return limit >= TEXT_NARROW_REACH ? NarrowWindowInPage(text, limit, bytes, direct)
                                      : NarrowBlocks(text, limit, bytes, direct, 0);
}

// ---- ROT47

// Rotates the sixteen units of `c`. Adding 0x7FDF moves the printable units 33 to 126 to the
// lowest signed values, -32768 to -32675, so that one signed comparison tells the others (every
// value above). There, of x + 47 and x - 47 the smaller as signed values is the rotated one: x - 47
// wraps round to a large value exactly for the units below 80, which move up. Adding 0x8021 moves
// the result back. Seven operations, where offsets from 33 compared without sign took eight.
RT_VECTOR_PART __m256i Rot47Block(__m256i c, const Constant* k) {
    __m256i other =
        _mm256_cmpgt_epi16(_mm256_add_epi16(c, Load(k[TO_SIGNED])), Load(k[PRINTABLE_TOP]));
    __m256i rotated = _mm256_min_epi16(_mm256_add_epi16(c, Load(k[TO_SIGNED_PLUS_47])),
                                       _mm256_add_epi16(c, Load(k[TO_SIGNED_MINUS_47])));
    return _mm256_blendv_epi8(_mm256_add_epi16(rotated, Load(k[FROM_SIGNED])), c, other);
}

// Rotates the dwords of a block that `mask` selects (masked loads and stores touch no other).
RT_VECTOR_PART void Rot47Masked(WCHAR* destination, const WCHAR* source, const int32_t* mask,
                                const Constant* k) {
    __m256i selected = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(mask));
    __m256i c = _mm256_maskload_epi32(reinterpret_cast<const int*>(source), selected);
    _mm256_maskstore_epi32(reinterpret_cast<int*>(destination), selected, Rot47Block(c, k));
}

// A text of at most TEXT_REACH units, in dwords of two, the last one perhaps with the unit after
// them: a short text in one block, any other in seven.
RT_VECTOR_CODE void Rot47Window(WCHAR* destination, const WCHAR* source, int64_t units) {
    const Constant* k = Constants();
    const int32_t* masks = FirstDwords(static_cast<uint64_t>(units + 1) / 2);
    if (units < TEXT_BLOCK) {
        Rot47Masked(destination, source, masks, k);
    } else {
#pragma GCC unroll 8
        for (int block = 0; block < TEXT_REACH / TEXT_BLOCK; ++block) {
            Rot47Masked(destination + block * TEXT_BLOCK, source + block * TEXT_BLOCK,
                        masks + block * TEXT_BLOCK / 2, k);
        }
    }
    destination[units] = 0;
}

// A longer text: whole blocks up to its last TEXT_REACH units.
RT_RARE RT_VECTOR_CODE void Rot47Long(WCHAR* destination, const WCHAR* source, int64_t units) {
    const Constant* k = Constants();
    int64_t i = 0;
    for (; units - i > TEXT_REACH; i += TEXT_BLOCK) {
        __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(source + i));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(destination + i), Rot47Block(c, k));
    }
    Rot47Window(destination + i, source + i, units - i);
}

}  // namespace

#endif

int64_t TextScan(const uint8_t* bytes, int64_t count, const TextStops& stops) {
#if RT_TEXT_VECTORS
    if (TextVectors) {
        return stops.high ? ScanBlocks<true>(bytes, count, stops)
                          : ScanBlocks<false>(bytes, count, stops);
    }
#endif
    return TextScanReference(bytes, count, stops);
}

TextRun TextWiden(const uint8_t* bytes, int64_t count, int64_t reach, WCHAR* units,
                  const TextStops& stops, TextDirect direct) {
#if RT_TEXT_VECTORS
    if (TextVectors) {
        return WidenVector(bytes, count, reach, units, stops, direct);
    }
#endif
    return TextWidenReference(bytes, count, units, stops, direct);
}

int64_t TextNarrow(const WCHAR* text, int64_t limit, char* bytes, TextDirect direct) {
#if RT_TEXT_VECTORS
    if (TextVectors) {
        return NarrowVector(text, limit, bytes, direct);
    }
#endif
    return TextNarrowReference(text, limit, bytes, direct);
}

void TextRot47(WCHAR* destination, const WCHAR* source, int64_t units) {
#if RT_TEXT_VECTORS
    if (TextVectors) {
        return units <= TEXT_REACH ? Rot47Window(destination, source, units)
                                   : Rot47Long(destination, source, units);
    }
#endif
    TextRot47Reference(destination, source, units);
}

}  // namespace rt
