// The last-error code: one per thread, as on Windows.
#include <cstdio>
#include <cstdlib>

#include "../platform.h"

namespace {
thread_local DWORD lastError = ERROR_SUCCESS;
}  // namespace

DWORD GetLastError() {
    return lastError;
}

void SetLastError(DWORD errorCode) {
    lastError = errorCode;
}

void FatalAppExitW(UINT, LPCWSTR message) {
    // Plain ASCII is enough for the runtime's own messages; anything else is shown as '?'.
    std::fputs("Fatal error: ", stderr);
    for (const WCHAR* unit = message; unit != nullptr && *unit != 0; ++unit) {
        std::fputc(*unit < 0x80 ? static_cast<char>(*unit) : '?', stderr);
    }
    std::fputc('\n', stderr);
    std::abort();
}
