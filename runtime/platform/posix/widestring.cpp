// 16-bit wide-string functions.
#include "../platform.h"

namespace {

WCHAR FoldCase(WCHAR unit) {
    return unit >= u'A' && unit <= u'Z' ? unit + (u'a' - u'A') : unit;
}

}  // namespace

size_t wcslen(const WCHAR* text) {
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
