// FormatString: the one formatting operation of the runtime, used for class, property and key
// names. The destination is the caller's and large enough.
#include <cstdarg>

#include "strings_internal.h"

namespace rt {

namespace {
// A nominal limit: the caller sizes the destination.
constexpr size_t NO_LIMIT = 0x1FFFFFFF;
}  // namespace

int FormatString(WCHAR* destination, const WCHAR* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    int written = _vsnwprintf(destination, NO_LIMIT, format, arguments);
    va_end(arguments);
    return written;
}

}  // namespace rt
