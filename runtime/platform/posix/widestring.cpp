// 16-bit wide-string functions.
#include "../platform.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#define RT_WCSLEN_VECTOR 1
#endif

namespace {

WCHAR FoldCase(WCHAR unit) {
    return unit >= u'A' && unit <= u'Z' ? unit + (u'a' - u'A') : unit;
}

}  // namespace

// Eight units at a time from the aligned block that holds the first unit: the conversions measure
// a whole line with it (a length of -1), and a unit at a time cost 3 instructions per unit. An
// aligned 16-byte load never reaches into a page the string does not touch; the sanitizers, which
// would report the bytes around the string that it reads, do not check it. Units before the
// string's start are masked out; strings are unit-aligned, so units line up with the block's
// lanes.
__attribute__((no_sanitize("address", "thread"))) size_t wcslen(const WCHAR* text) {
#if RT_WCSLEN_VECTOR
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
        return (end - address) / sizeof(WCHAR);
    }
#endif
    const WCHAR* end = text;
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
