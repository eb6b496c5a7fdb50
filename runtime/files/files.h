// Text files and paths.
//
// Path parts: functions that split a path into its directory part, its file part and its
// extension, and tell whether a string can serve as a bare file name. They accept "/" and "\" as
// separators on every platform, never touch the file system, and deliver their results through
// the calling thread's string builder at the result position the caller passes (a mark).
#pragma once

#include <cstdint>

#include "../strings/strings.h"

namespace rt {

// PathFilePart: leave the extension and its dot out.
constexpr int32_t PATH_NO_EXTENSION = 1;

// The directory part, including its last separator; empty when there is no separator.
WCHAR* PathDirectoryPart(const WCHAR* path, int32_t position);
// The part after the last separator, optionally without its extension.
WCHAR* PathFilePart(const WCHAR* path, int32_t flags, int32_t position);
// The extension without its dot; empty when the last component has none.
WCHAR* PathExtensionPart(const WCHAR* path, int32_t position);
// 1 when `name` is non-empty and has no control character and none of " * / : < > ? \ |, else 0.
int64_t IsValidFileName(const WCHAR* name);

}  // namespace rt
