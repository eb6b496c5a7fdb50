// The string library: the string heap, the per-thread string builder, and the conversions between
// UTF-16 and 8-bit text.
//
// Strings are zero-terminated UTF-16; a string variable is a block in StringHeap or null, and null
// counts as the empty string everywhere. Every string expression is assembled in the calling
// thread's builder and copied out by StringAssign. A string-returning operation takes, as its last
// argument, the builder position (a mark taken with StringBuilderMark) at which it delivers its
// result, and leaves the builder position just after the result's last unit; the address it
// returns stays valid until the builder next grows.
//
// Threads: each thread has its own builder record (no lock); string variables are plain heap
// blocks that one thread at a time may use.
#pragma once

#include <cstdint>

#include "../core/core.h"
// The text kernels are part of the library's interface: the file library's line reader scans and
// widens with them.
#include "textscan.h"

namespace rt {

// The heap of string variables, builder buffers and builder records.
extern HANDLE StringHeap;

struct StringBuilderRecord {
    WCHAR* buffer;
    int64_t capacity;  // usable bytes
    int64_t position;  // byte offset of the end of the text assembled so far
};

void StringLibraryStart();
void StringLibraryEnd();
// Makes sure the calling thread has its builder record; called on entry of every routine that
// uses strings.
void StringBuilderEnsure();
// Frees a thread's record and its buffer after the thread has ended.
void StringBuilderThreadEnd(void* record);

// Builder positions are byte offsets, handed around as 32-bit values.
int32_t StringBuilderMark();
void StringBuilderRewind(int32_t mark);
// Room for `units` units at `position` (-1: at the current position); the position then stands
// just after that room. May move the buffer.
WCHAR* StringBuilderReserve(int64_t units, int32_t position);
// Grows the buffer as StringBuilderReserve of `units` units would, so that such a reservation
// then fits without growing; false, with nothing changed, when the buffer cannot hold it (its end
// would lie beyond what 32-bit positions address, or the string heap has no room). Where a caller
// can give up a text, this is how it learns that the builder cannot take it without the stop that
// a failed reservation makes.
bool StringBuilderMakeRoom(int64_t units);
// Tests: lowers the bound of builder positions to `bytes` (0 restores it, just under 2^31), so that
// a text too long for the builder can be met without gigabytes of it.
void StringBuilderLimitPositions(int64_t bytes);
// The address at `position` (-1: the current position) when `units` units fit there without
// growing the buffer, so that a StringBuilderReserve of at most that many units at the position
// will not move it; else null. Changes nothing: text may be written there before it is reserved.
WCHAR* StringBuilderRoom(int64_t units, int32_t position);
void StringBuilderUnreserve(int64_t units);
WCHAR* StringBuilderBase();
WCHAR* StringBuilderCurrent();
WCHAR* StringBuilderSetPosition(int32_t position);
// address - buffer + 1 when the address lies in the assembled text (end included), else 0.
int64_t StringBuilderLocate(const void* address);
// The address that a StringBuilderLocate value stands for in the current buffer.
void* StringBuilderAddress(int64_t located);

void StringAppend(const WCHAR* text);
void StringTerminate();
// Copies the text from `mark` to the position into *variable and rewinds the builder to `mark`.
void StringAssign(WCHAR** variable, int32_t mark);
// Writes `units` units taken from `source` to `destination` and a zero unit after them.
using StringCopyRoutine = void (*)(WCHAR* destination, const WCHAR* source, int64_t units);
// StringAssign with the text copied by `copy`, which may change the units on the way: an
// assignment followed by a change of the variable's text in place made in one pass, with the
// variable, its block and the builder left as those two steps leave them. Where StringAssign stops
// the program because the string heap cannot hold the text, this returns false instead, with the
// variable as it was and the builder rewound to `mark`: for a caller that can give the text up.
bool StringAssignChecked(WCHAR** variable, int32_t mark, StringCopyRoutine copy);
// 1 when equal unit for unit (null counts as empty), else 0.
int64_t StringEqual(const WCHAR* left, const WCHAR* right);
void StringFree(WCHAR* text);
// The length of a string in units; 0 for null.
int64_t StringLength(const WCHAR* text);
// Copies `units` units and writes a zero unit after them.
void StringCopyChars(WCHAR* destination, const WCHAR* source, int64_t units);

// Conversions. A null source counts as the empty string.
WCHAR* Utf8ToUtf16Result(const char* source, int32_t position);
WCHAR* AnsiToUtf16Result(const char* source, int32_t position);
// The same for the first `length` bytes of `bytes`, which need no terminating zero (a line still
// in a file's buffer).
WCHAR* Utf8BytesToUtf16Result(const char* bytes, int64_t length, int32_t position);
WCHAR* AnsiBytesToUtf16Result(const char* bytes, int64_t length, int32_t position);
// The bytes that `codePage` maps to the code point of their own value, which the text kernels
// widen and narrow without the system's conversion.
TextDirect TextDirectOf(UINT codePage);
// Narrows `text` into `destination`, which has room for `capacity` bytes, from its start up to its
// terminating zero, for as long as `codePage` maps its units one to one and the room lasts: the
// units narrowed, each one byte. The whole text went when text[result] is the zero; otherwise the
// room ran out (result == capacity) or text[result] needs the system's conversion. Measuring and
// narrowing are one pass.
int64_t Utf16ToMultiByteDirect(UINT codePage, const WCHAR* text, char* destination,
                               int64_t capacity);
// A MainHeap block holding the converted bytes and a zero byte; *outLength = bytes without the
// zero. Null on failure.
char* Utf16ToMultiByte(UINT codePage, const WCHAR* text, int64_t* outLength);
// Converts `units` units of `text` into `destination`, which holds `capacity` bytes, without a
// terminating zero: the bytes stored, or -1 when they do not fit (the destination may then hold
// part of them).
int64_t Utf16ToMultiByteInto(UINT codePage, const WCHAR* text, int64_t units, char* destination,
                             int64_t capacity);
// malloc blocks, freed with free.
char* Utf16ToUtf8Alloc(const WCHAR* text);
char* Utf16ToAnsiAlloc(const WCHAR* text);
WCHAR* Utf8ToUtf16Alloc(const char* source);
WCHAR* AnsiToUtf16Alloc(const char* source);
// Formats with the C library's wide printf rules (%d, %I64d and %I64i are the ones in use); the
// destination must be large enough. Returns the units written.
int FormatString(WCHAR* destination, const WCHAR* format, ...);

}  // namespace rt
