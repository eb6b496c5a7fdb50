// ROT47: each printable ASCII unit (33 to 126) moves 47 places within that range; every other unit
// stays. The transform is its own inverse, so encrypting and decrypting are the same operation.
// A pure function of its argument; any thread may call it.
//
// A file copy rotates every line while it copies it out of the string builder, whose length it
// knows; in place, the transform finds the terminating zero and rotates in the same pass. Both work
// eight units at a time, or sixteen where the processor has 32-byte vectors (the copy thirty-two,
// in two such blocks).
#include "app.h"

#include <cstring>

#if defined(__SSE2__)
// In place, blocks are loaded past the string's end within its page, which AddressSanitizer would
// report.
#if !RT_ADDRESS_SANITIZER
#define RT_ROT47_VECTOR 1
#endif
#endif

namespace app {

namespace {

// (c + 14) mod 94 + 33 for 33 <= c <= 126, without a division.
inline WCHAR Rot47(WCHAR unit) {
    uint16_t c = unit;
    uint16_t rotated = static_cast<uint16_t>(c <= 79 ? c + 47 : c - 47);
    return static_cast<uint16_t>(c - 33) < 94 ? rotated : c;
}

#if defined(__SSE2__)
// Rotates the eight units of `block`.
inline __m128i Rot47Block(__m128i c) {
    __m128i offset = _mm_sub_epi16(c, _mm_set1_epi16(33));  // 0 to 93 for printable units
    __m128i printable = _mm_and_si128(_mm_cmpgt_epi16(offset, _mm_set1_epi16(-1)),
                                      _mm_cmplt_epi16(offset, _mm_set1_epi16(94)));
    __m128i high = _mm_and_si128(_mm_cmpgt_epi16(c, _mm_set1_epi16(79)), _mm_set1_epi16(94));
    __m128i rotated = _mm_sub_epi16(_mm_add_epi16(c, _mm_set1_epi16(47)), high);
    return _mm_or_si128(_mm_and_si128(printable, rotated), _mm_andnot_si128(printable, c));
}

// The constants of the 32-byte blocks, by their index in the table.
enum Rot47Constant { MINUS_33, PLUS_14, MINUS_80, TOP_OFFSET, PLUS_33, ROT47_CONSTANTS };
constexpr PlatformVector rot47Constants[ROT47_CONSTANTS] = {
    PlatformSplat16(static_cast<uint16_t>(-33)), PlatformSplat16(14),
    PlatformSplat16(static_cast<uint16_t>(-80)), PlatformSplat16(93), PlatformSplat16(33)};

// Rotates the sixteen units of `block`. With o = c - 33, 0 to 93 for printable units, the rotated
// offset (o + 47) mod 94 is the smaller of o + 47 and o - 47 taken without sign: o - 47 wraps
// round to a large value below 47. `k` is the table of constants.
__attribute__((target("avx2"))) inline __m256i Rot47Block(__m256i c, const PlatformVector* k) {
    __m256i offset = _mm256_add_epi16(c, PlatformLoad(k[MINUS_33]));
    __m256i printable =
        _mm256_cmpeq_epi16(_mm256_min_epu16(offset, PlatformLoad(k[TOP_OFFSET])), offset);
    __m256i rotated = _mm256_min_epu16(_mm256_add_epi16(c, PlatformLoad(k[PLUS_14])),
                                       _mm256_add_epi16(c, PlatformLoad(k[MINUS_80])));
    return _mm256_blendv_epi8(c, _mm256_add_epi16(rotated, PlatformLoad(k[PLUS_33])), printable);
}

// The rotated copy of the sixteen units at `source + i`.
__attribute__((target("avx2"))) inline void Rot47Copy16(WCHAR* destination, const WCHAR* source,
                                                        int64_t i, const PlatformVector* k) {
    __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(source + i));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(destination + i), Rot47Block(c, k));
}

// The rotated copy of at least sixteen units with its terminating zero: thirty-two units at a time,
// the last thirty-two (or the last sixteen of a short text) overlapping those before them, which
// writes the same units again. So the text's length decides only two branches, whatever it is.
__attribute__((target("avx2"))) void Rot47CopyWide(WCHAR* destination, const WCHAR* source,
                                                   int64_t units) {
    const PlatformVector* k = PlatformInMemory(rot47Constants);
    if (units <= 32) {
        Rot47Copy16(destination, source, 0, k);
        Rot47Copy16(destination, source, units - 16, k);
    } else {
        for (int64_t i = 0; i < units - 32; i += 32) {
            Rot47Copy16(destination, source, i, k);
            Rot47Copy16(destination, source, i + 16, k);
        }
        Rot47Copy16(destination, source, units - 32, k);
        Rot47Copy16(destination, source, units - 16, k);
    }
    destination[units] = 0;
}

#if RT_ROT47_VECTOR
// Rotates sixteen units at a time from `text` while a block lies in one page, up to the block that
// holds the terminating zero, which it returns unchanged; or the block that would leave the page.
__attribute__((target("avx2"))) WCHAR* Rot47Wide(WCHAR* text) {
    const PlatformVector* k = PlatformInMemory(rot47Constants);
    for (; PlatformWithinPage(text, 32); text += 16) {
        __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text));
        if (_mm256_movemask_epi8(_mm256_cmpeq_epi16(c, _mm256_setzero_si256())) != 0) {
            break;
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(text), Rot47Block(c, k));
    }
    return text;
}
#endif
#endif

}  // namespace

void Rot47Copy(WCHAR* destination, const WCHAR* source, int64_t units) {
    int64_t i = 0;
#if defined(__SSE2__)
    if (units >= 16 && PlatformWideVectors) {
        return Rot47CopyWide(destination, source, units);
    }
    if (units >= 8) {
        for (;; i += 8) {
            if (i + 8 > units) {
                i = units - 8;  // overlapping the block before, as in the wide loop
            }
            __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + i));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(destination + i), Rot47Block(c));
            if (i + 8 == units) {
                break;
            }
        }
        i = units;
    }
#endif
    for (; i < units; ++i) {
        destination[i] = Rot47(source[i]);
    }
    destination[units] = 0;
}

int64_t Rot47InPlace(WCHAR* text) {
    if (text == nullptr) {
        return 0;
    }
#if RT_ROT47_VECTOR
    // Blocks of units that lie in one page, which never reach into a page the string does not
    // touch, until the block that holds the terminating zero; unit by unit across a page's end.
    // (Under AddressSanitizer the loads past the string would be reported: plain loop there.)
    for (;;) {
        if (PlatformWideVectors) {
            text = Rot47Wide(text);  // then the block with the zero, eight units at a time
        }
        for (; PlatformWithinPage(text, 16); text += 8) {
            __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text));
            auto zeros = static_cast<unsigned>(
                _mm_movemask_epi8(_mm_cmpeq_epi16(block, _mm_setzero_si128())));
            __m128i rotated = Rot47Block(block);
            if (zeros == 0) {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(text), rotated);
                continue;
            }
            // The units before the zero leave the register in pieces of four, two and one; the
            // units after it are not the string's and are not written.
            unsigned before = __builtin_ctz(zeros) / 2;
            if (before & 4) {
                _mm_storel_epi64(reinterpret_cast<__m128i*>(text), rotated);
                text += 4;
                rotated = _mm_srli_si128(rotated, 8);
            }
            if (before & 2) {
                auto pair = static_cast<uint32_t>(_mm_cvtsi128_si32(rotated));
                std::memcpy(text, &pair, sizeof pair);
                text += 2;
                rotated = _mm_srli_si128(rotated, 4);
            }
            if (before & 1) {
                *text = static_cast<WCHAR>(_mm_cvtsi128_si32(rotated));
            }
            return 0;
        }
        for (WCHAR* past = text + 8; text < past; ++text) {
            if (*text == 0) {
                return 0;
            }
            *text = Rot47(*text);
        }
    }
#else
    for (; *text != 0; ++text) {
        *text = Rot47(*text);
    }
    return 0;
#endif
}

}  // namespace app
