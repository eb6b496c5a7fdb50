// Code-page conversion between UTF-16 and 8-bit text.
#pragma once

#include "types.h"

typedef BOOL* LPBOOL;

#define CP_ACP 0
#define CP_UTF8 65001

// Differs: always 1252, whatever the locale.
UINT GetACP();

// Differs: CP_ACP is always Windows-1252 (all 256 byte values round-trip; the five bytes 1252
// leaves unassigned map to the code points of the same value); CP_UTF8 replaces each maximal
// malformed subsequence by U+FFFD. No other code page and no flag is supported (ERROR_INVALID_FLAGS
// / ERROR_INVALID_PARAMETER).
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR source, int sourceBytes, LPWSTR target,
                        int targetUnits);
// Differs: CP_ACP is Windows-1252 without best-fit mapping: characters it lacks become the default
// character ("?" unless one is given); CP_UTF8 turns lone surrogates into U+FFFD (and rejects a
// default character, as Windows does).
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR source, int sourceUnits, LPSTR target,
                        int targetBytes, LPCSTR defaultChar, LPBOOL usedDefaultChar);
