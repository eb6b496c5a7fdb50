// Dynamic libraries. There are no Windows DLLs on this platform: every load fails, so callers take
// the fallback they have for a missing library or function.
#pragma once

#include "types.h"

typedef struct HINSTANCE__* HMODULE;
typedef HMODULE HINSTANCE;
typedef intptr_t(WINAPI* FARPROC)();

// Differs: always fails with ERROR_MOD_NOT_FOUND.
HMODULE LoadLibraryW(LPCWSTR fileName);
// Differs: always fails with ERROR_PROC_NOT_FOUND (no module can be loaded).
FARPROC GetProcAddress(HMODULE module, LPCSTR name);
// Differs: always fails with ERROR_INVALID_HANDLE (no module can be loaded).
BOOL FreeLibrary(HMODULE module);
