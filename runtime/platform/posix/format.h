// The C library's wide formatting, for 16-bit code units.
#pragma once

#include <cstdarg>

#include "types.h"

// Differs: units are char16_t; supports the flags - + space 0, width and precision (digits or *),
// the sizes h, l, ll, I32, I64 and I, and the conversions d i u x X c s (a WCHAR string) p and %%.
// Like the Windows C library: writes at most `count` units, adds the terminating zero only when it
// fits, and returns -1 when the output was cut.
int _vsnwprintf(WCHAR* buffer, size_t count, const WCHAR* format, va_list arguments);
