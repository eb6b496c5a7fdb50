// String variables: blocks of the string heap, or null for the empty string.
#include <cstring>

#include "strings_internal.h"

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
    return text != nullptr ? static_cast<int64_t>(wcslen(text)) : 0;
}

void StringCopyChars(WCHAR* destination, const WCHAR* source, int64_t units) {
    std::memmove(destination, source, units * sizeof(WCHAR));
    destination[units] = 0;
}

}  // namespace rt
