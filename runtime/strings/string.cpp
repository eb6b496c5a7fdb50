// String variables: blocks of the string heap, or null for the empty string.
#include <cstring>

#include "strings_internal.h"

#if defined(__SSE2__) && !RT_ADDRESS_SANITIZER
#include <emmintrin.h>
#define RT_STRING_VECTOR 1
#endif

namespace rt {

int64_t StringEqual(const WCHAR* left, const WCHAR* right) {
    return wcscmp(left != nullptr ? left : RT_TEXT(""), right != nullptr ? right : RT_TEXT("")) == 0
               ? 1
               : 0;
}

void StringFree(WCHAR* text) {
    if (text != nullptr) {
        HeapFree(StringHeap, 0, text);
    }
}

int64_t StringLength(const WCHAR* text) {
    if (text == nullptr) {
        return 0;
    }
#if RT_STRING_VECTOR
    // Eight units at a time from the aligned block that holds the first unit: an aligned 16-byte
    // load never reaches into a page the string does not touch (AddressSanitizer would still see
    // the bytes around the string, so it gets the plain loop). Units before the string's start are
    // masked out; strings are unit-aligned, so units line up with the block's lanes.
    auto address = reinterpret_cast<uintptr_t>(text);
    if ((address & 1) == 0) {
        const auto* block = reinterpret_cast<const __m128i*>(address & ~uintptr_t{15});
        auto zeros = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_cmpeq_epi16(_mm_load_si128(block), _mm_setzero_si128())));
        zeros &= ~0u << (address & 15);
        while (zeros == 0) {
            ++block;
            zeros = static_cast<unsigned>(
                _mm_movemask_epi8(_mm_cmpeq_epi16(_mm_load_si128(block), _mm_setzero_si128())));
        }
        auto end = reinterpret_cast<uintptr_t>(block) + __builtin_ctz(zeros);
        return static_cast<int64_t>((end - address) / sizeof(WCHAR));
    }
#endif
    return static_cast<int64_t>(wcslen(text));
}

void StringCopyChars(WCHAR* destination, const WCHAR* source, int64_t units) {
    std::memmove(destination, source, units * sizeof(WCHAR));
    destination[units] = 0;
}

}  // namespace rt
