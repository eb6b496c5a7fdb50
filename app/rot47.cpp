// ROT47: each printable ASCII unit (33 to 126) moves 47 places within that range; every other unit
// stays. The transform is its own inverse, so encrypting and decrypting are the same operation.
// A pure function of its argument; any thread may call it.
//
// It runs once per line of every copied file, so it finds the terminating zero and rotates in the
// same pass, eight units at a time, or sixteen where the processor has 32-byte vectors.
#include "app.h"

#include <cstring>

#if defined(__SSE2__) && !RT_ADDRESS_SANITIZER
#include <immintrin.h>
#define RT_ROT47_VECTOR 1
#endif

namespace app {

namespace {

// (c + 14) mod 94 + 33 for 33 <= c <= 126, without a division.
inline WCHAR Rot47(WCHAR unit) {
    uint16_t c = unit;
    uint16_t rotated = static_cast<uint16_t>(c <= 79 ? c + 47 : c - 47);
    return static_cast<uint16_t>(c - 33) < 94 ? rotated : c;
}

#if RT_ROT47_VECTOR
// Rotates the eight units of `block`.
inline __m128i Rot47Block(__m128i c) {
    __m128i offset = _mm_sub_epi16(c, _mm_set1_epi16(33));  // 0 to 93 for printable units
    __m128i printable = _mm_and_si128(_mm_cmpgt_epi16(offset, _mm_set1_epi16(-1)),
                                      _mm_cmplt_epi16(offset, _mm_set1_epi16(94)));
    __m128i high = _mm_and_si128(_mm_cmpgt_epi16(c, _mm_set1_epi16(79)), _mm_set1_epi16(94));
    __m128i rotated = _mm_sub_epi16(_mm_add_epi16(c, _mm_set1_epi16(47)), high);
    return _mm_or_si128(_mm_and_si128(printable, rotated), _mm_andnot_si128(printable, c));
}

// Rotates whole aligned 32-byte blocks from `text`, which is 32-byte aligned, up to the block that
// holds the terminating zero, which it returns unchanged.
__attribute__((target("avx2"))) WCHAR* Rot47Wide(WCHAR* text) {
    for (;; text += 16) {
        __m256i c = _mm256_load_si256(reinterpret_cast<const __m256i*>(text));
        if (_mm256_movemask_epi8(_mm256_cmpeq_epi16(c, _mm256_setzero_si256())) != 0) {
            return text;
        }
        __m256i offset = _mm256_sub_epi16(c, _mm256_set1_epi16(33));
        __m256i printable = _mm256_and_si256(_mm256_cmpgt_epi16(offset, _mm256_set1_epi16(-1)),
                                             _mm256_cmpgt_epi16(_mm256_set1_epi16(94), offset));
        __m256i high =
            _mm256_and_si256(_mm256_cmpgt_epi16(c, _mm256_set1_epi16(79)), _mm256_set1_epi16(94));
        __m256i rotated = _mm256_sub_epi16(_mm256_add_epi16(c, _mm256_set1_epi16(47)), high);
        _mm256_store_si256(reinterpret_cast<__m256i*>(text),
                           _mm256_blendv_epi8(c, rotated, printable));
    }
}
#endif

}  // namespace

int64_t Rot47InPlace(WCHAR* text) {
    if (text == nullptr) {
        return 0;
    }
#if RT_ROT47_VECTOR
    // Unit by unit up to a 16-byte boundary; from there whole aligned blocks, which never reach
    // into a page the string does not touch, until the block that holds the terminating zero.
    // (Under AddressSanitizer the loads around the string would be reported: plain loop there.)
    if ((reinterpret_cast<uintptr_t>(text) & 1) == 0) {
        for (; (reinterpret_cast<uintptr_t>(text) & 15) != 0; ++text) {
            if (*text == 0) {
                return 0;
            }
            *text = Rot47(*text);
        }
        for (;; text += 8) {
            if (PlatformWideVectors && (reinterpret_cast<uintptr_t>(text) & 31) == 0) {
                text = Rot47Wide(text);  // then the block with the zero, eight units at a time
            }
            __m128i block = _mm_load_si128(reinterpret_cast<const __m128i*>(text));
            auto zeros = static_cast<unsigned>(
                _mm_movemask_epi8(_mm_cmpeq_epi16(block, _mm_setzero_si128())));
            __m128i rotated = Rot47Block(block);
            if (zeros == 0) {
                _mm_store_si128(reinterpret_cast<__m128i*>(text), rotated);
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
    }
#endif
    for (; *text != 0; ++text) {
        *text = Rot47(*text);
    }
    return 0;
}

}  // namespace app
