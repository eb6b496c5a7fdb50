// Dynamic libraries: no Windows DLL exists here, so every load fails the way a missing DLL does.
#include "../platform.h"

HMODULE LoadLibraryW(LPCWSTR) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

FARPROC GetProcAddress(HMODULE, LPCSTR) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

BOOL FreeLibrary(HMODULE) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}
