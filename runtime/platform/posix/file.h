// Files: creation and opening with Windows' access rights, share modes and creation dispositions,
// reading, writing, 64-bit positioning and deletion.
//
// A file handle is a kernel object that owns one POSIX descriptor; its position is the
// descriptor's. Share modes are checked between the handles of this process through a
// process-wide table of open files keyed by device and inode. Any thread may call these functions;
// one handle used by two threads at once moves one shared position, as on Windows.
#pragma once

#include "types.h"

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u

#define FILE_SHARE_READ 0x00000001
#define FILE_SHARE_WRITE 0x00000002
#define FILE_SHARE_DELETE 0x00000004

#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5

#define FILE_ATTRIBUTE_NORMAL 0x00000080

#define FILE_BEGIN 0
#define FILE_CURRENT 1
#define FILE_END 2

#define INVALID_SET_FILE_POINTER (static_cast<DWORD>(-1))

// Differs: security attributes are accepted and ignored (handles are never inherited).
typedef struct _SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;
// Differs: overlapped I/O is not provided; a non-null OVERLAPPED is refused.
typedef struct _OVERLAPPED OVERLAPPED, *LPOVERLAPPED;

// Differs: the name is converted to UTF-8 (a lone surrogate becomes U+FFFD) and a backslash is an
// ordinary character; names are case-sensitive; attributes and the template are ignored; share
// modes bind only the handles of this process; access is checked by the file's POSIX mode, which
// root ignores.
HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode,
                   LPSECURITY_ATTRIBUTES securityAttributes, DWORD creationDisposition,
                   DWORD flagsAndAttributes, HANDLE templateFile);
// Differs: overlapped must be null; a read is repeated until it is complete or the end is reached.
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead,
              LPOVERLAPPED overlapped);
// Differs: overlapped must be null; when the device fills up part-way the bytes that did reach the
// file are counted in *bytesWritten and FALSE is returned with ERROR_DISK_FULL.
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten,
               LPOVERLAPPED overlapped);
// Differs: none.
DWORD SetFilePointer(HANDLE file, LONG distanceToMove, PLONG distanceToMoveHigh, DWORD moveMethod);
// Differs: the name goes at once, even while handles that share deletion keep the file open
// (Windows keeps it until the last of them is closed); a read-only attribute does not protect it.
BOOL DeleteFileW(LPCWSTR fileName);
