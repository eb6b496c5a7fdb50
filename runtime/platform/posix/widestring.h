// The C library's wide-string functions for 16-bit code units. Linux's wchar_t has 32 bits, so
// these overload the C library's names for WCHAR (char16_t) strings; runtime code calls the same
// names on both platforms.
#pragma once

#include "types.h"

// Differs: units are char16_t.
size_t wcslen(const WCHAR* text);
// Differs: units are char16_t; compares unsigned units, as Windows does.
int wcscmp(const WCHAR* left, const WCHAR* right);
// Differs: units are char16_t; folds only A-Z to a-z, as the C library does in the "C" locale.
int _wcsicmp(const WCHAR* left, const WCHAR* right);
// Differs: units are char16_t.
WCHAR* wcscpy(WCHAR* destination, const WCHAR* source);
