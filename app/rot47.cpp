// ROT47: each printable ASCII unit (33 to 126) moves 47 places within that range; every other unit
// stays. The transform is its own inverse, so encrypting and decrypting are the same operation.
// A pure function of its argument; any thread may call it.
//
// It runs once per line of every copied file, so it finds the terminating zero and rotates in the
// same pass, eight units at a time.
#include "app.h"

#if defined(__SSE2__) && !RT_ADDRESS_SANITIZER
#include <emmintrin.h>
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
            __m128i block = _mm_load_si128(reinterpret_cast<const __m128i*>(text));
            if (_mm_movemask_epi8(_mm_cmpeq_epi16(block, _mm_setzero_si128())) != 0) {
                break;
            }
            _mm_store_si128(reinterpret_cast<__m128i*>(text), Rot47Block(block));
        }
    }
#endif
    for (; *text != 0; ++text) {
        *text = Rot47(*text);
    }
    return 0;
}

}  // namespace app
