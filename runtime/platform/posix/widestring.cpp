// 16-bit wide-string functions.
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "../platform.h"

namespace {

WCHAR FoldCase(WCHAR unit) {
    return unit >= u'A' && unit <= u'Z' ? unit + (u'a' - u'A') : unit;
}

}  // namespace

size_t wcslen(const WCHAR* text) {
    const WCHAR* end = text;
#if defined(__SSE2__) && !defined(__SANITIZE_ADDRESS__)
    // Eight units at a time from the aligned block that holds the first unit: an aligned 16-byte
    // load never crosses into a page the string does not reach (AddressSanitizer would still see
    // the bytes around the string, so it gets the plain loop). Units before the string's start are
    // masked out; strings are unit-aligned, so units line up with the block's lanes.
    if ((reinterpret_cast<uintptr_t>(text) & 1) == 0) {
        auto address = reinterpret_cast<uintptr_t>(text);
        const auto* block = reinterpret_cast<const __m128i*>(address & ~uintptr_t{15});
        unsigned skip = static_cast<unsigned>(address & 15);
        auto zeros = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_cmpeq_epi16(_mm_load_si128(block), _mm_setzero_si128())));
        zeros &= ~0u << skip;
        while (zeros == 0) {
            ++block;
            zeros = static_cast<unsigned>(
                _mm_movemask_epi8(_mm_cmpeq_epi16(_mm_load_si128(block), _mm_setzero_si128())));
        }
        end = reinterpret_cast<const WCHAR*>(reinterpret_cast<const char*>(block) +
                                             __builtin_ctz(zeros));
        return static_cast<size_t>(end - text);
    }
#endif
    while (*end != 0) {
        ++end;
    }
    return static_cast<size_t>(end - text);
}

int wcscmp(const WCHAR* left, const WCHAR* right) {
    while (*left != 0 && *left == *right) {
        ++left;
        ++right;
    }
    return static_cast<int>(*left) - static_cast<int>(*right);
}

int _wcsicmp(const WCHAR* left, const WCHAR* right) {
    WCHAR a;
    WCHAR b;
    do {
        a = FoldCase(*left++);
        b = FoldCase(*right++);
    } while (a != 0 && a == b);
    return static_cast<int>(a) - static_cast<int>(b);
}

WCHAR* wcscpy(WCHAR* destination, const WCHAR* source) {
    WCHAR* out = destination;
    while ((*out++ = *source++) != 0) {
    }
    return destination;
}
