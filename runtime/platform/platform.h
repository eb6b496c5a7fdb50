// The one header through which runtime code reaches the operating system.
//
// On Windows it includes the system headers. Elsewhere it declares the subset of the Windows API
// that the portable runtime calls, with Windows' names, argument orders, constants and effects,
// implemented in posix/ on POSIX calls. Runtime code is written once, against the Windows calls.
// Each POSIX declaration notes in one line where the emulation differs from Windows.
#pragma once

#include <cstddef>
#include <cstdint>

#ifdef _WIN32
#include <wchar.h>
#include <windows.h>
// After <windows.h>, which they build on: the common controls, the common dialogs, COM start-up and
// drag and drop, used by the Windows-only GUI libraries; the thread environment block's layout,
// for the slot read below.
#include <commctrl.h>
#include <commdlg.h>
#include <objbase.h>
#include <ole2.h>
// Only the version query of the shell's light-weight utilities: DLLVERSIONINFO, which the graphics
// libraries ask the common controls for. Its string, path and registry helpers stay out, so that
// their macros cannot shadow the runtime's names.
#define NO_SHLWAPI_STRFCNS
#define NO_SHLWAPI_PATH
#define NO_SHLWAPI_REG
#define NO_SHLWAPI_STREAM
#define NO_SHLWAPI_GDI
#include <shlwapi.h>
#include <winternl.h>

// A UTF-16 literal of the runtime's code unit type.
#define RT_TEXT(s) L##s
#else
#include "posix/codepage.h"
#include "posix/error.h"
#include "posix/file.h"
#include "posix/format.h"
#include "posix/heap.h"
#include "posix/library.h"
#include "posix/object.h"
#include "posix/sync.h"
#include "posix/testhook.h"
#include "posix/thread.h"
#include "posix/tls.h"
#include "posix/types.h"
#include "posix/widestring.h"

#define RT_TEXT(s) u##s
#endif

#ifdef _WIN32
// What TlsGetValue returns for the calling thread, read without the call and without clearing the
// thread's last-error code: the per-thread records are reached on almost every string operation.
// Windows keeps the first 64 slots in the thread's environment block.
inline LPVOID TlsSlotValue(DWORD index) {
    if (index < TLS_MINIMUM_AVAILABLE) {
        // GS addresses the block; read through it directly, since NtCurrentTeb's own read of
        // GS:[0x30] trips the compiler's array-bounds check.
        static_assert(offsetof(TEB, TlsSlots) == 0x1480);
        LPVOID value;
        __asm__ volatile("movq %%gs:(%1), %0"
                         : "=r"(value)
                         : "r"(offsetof(TEB, TlsSlots) + index * sizeof(LPVOID)));
        return value;
    }
    DWORD lastError = GetLastError();
    LPVOID value = TlsGetValue(index);
    SetLastError(lastError);
    return value;
}
#endif

// True in the builds that carry the allocation-failure test hook.
#ifdef _WIN32
#define RT_HAS_ALLOCATION_HOOK 0
#else
#define RT_HAS_ALLOCATION_HOOK 1
#endif

// 1 when AddressSanitizer checks this build. Code that reads past the end of an object on purpose
// (aligned vector loads that cannot leave the object's page) or keeps freed blocks for reuse tests
// it and takes its plain form instead, so that every stray access is still reported. g++ defines
// __SANITIZE_ADDRESS__; clang answers __has_feature(address_sanitizer) instead.
#if defined(__SANITIZE_ADDRESS__)
#define RT_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define RT_ADDRESS_SANITIZER 1
#endif
#endif
#ifndef RT_ADDRESS_SANITIZER
#define RT_ADDRESS_SANITIZER 0
#endif
