// The file library: numbered file objects with a 4096-byte buffer, text lines read and written on
// them in three encodings, and path parts.
//
// Files live in the library's ObjectRegistry from open to close; a number that names no open file
// makes every operation do nothing and return 0 (a read then delivers the empty string). Each open
// file owns its buffer (a MainHeap block) and its system handle; FileClose, also the registry's
// free routine, flushes the buffer and releases both.
//
// Writes that do not reach the file (a full device, a handle without write access, a short write)
// and reads that fail are not reported by the transfer operations themselves, whose results
// callers ignore (a failed read ends the data as the end of the file does); they are recorded on
// the file and reported by FileError and FileCloseChecked. A line that a read had to cut short is
// reported by FileLineCutShort.
//
// Threads: the registry serialises finding, creating and closing files; a file itself is not
// locked, so one file must not be used by two threads at the same time. Different files may be
// used by different threads. Text reads deliver their lines through the calling thread's
// StringBuilder.
//
// Path parts: functions that split a path into its directory part, its file part and its
// extension, and tell whether a string can serve as a bare file name. They accept "/" and "\" as
// separators on every platform, never touch the file system, and deliver their results through
// the calling thread's string builder at the result position the caller passes (a mark).
#pragma once

#include <cstddef>
#include <cstdint>

#include "../core/core.h"
#include "../strings/strings.h"

namespace rt {

constexpr int32_t FILE_BUFFER_SIZE = 4096;

// Modes of FileOpenEx.
constexpr int32_t OPEN_MODE_READ = 1;        // read access, the file must exist; writes refused
constexpr int32_t OPEN_MODE_READ_WRITE = 2;  // read and write access, created empty when missing
constexpr int32_t OPEN_MODE_CREATE = 3;      // read and write access, created or truncated

// Flags of FileOpenEx; bits 0-4 hold the file's TextFormat (0 stores TEXT_UTF8).
constexpr int32_t OPEN_SHARED_READ = 0x20000;  // other handles may read
constexpr int32_t OPEN_SHARED_ALL = 0x40000;   // others may read, write, delete; wins
constexpr int32_t OPEN_NO_BUFFER = 0x80000;    // every transfer is a system call
constexpr int32_t OPEN_APPEND = 0x100000;      // with OPEN_MODE_READ_WRITE: start at the end

// TextFormat: how text is stored on disk. Open flags and read flags carry it in their low bits.
constexpr int32_t TEXT_FORMAT_MASK = 0x1F;
constexpr int32_t TEXT_UTF8 = 2;
constexpr int32_t TEXT_ANSI = 24;   // the system's active 8-bit code page
constexpr int32_t TEXT_UTF16 = 25;  // little-endian, 2 bytes per unit
// Flag of a read: CR and LF are ordinary characters.
constexpr int32_t READ_IGNORE_LINE_ENDS = 0x10000;

// Buffer states of a file.
constexpr int32_t FILE_STATE_WRITING = 0;  // the buffer holds data not yet written
constexpr int32_t FILE_STATE_READING = 1;  // the buffer holds read-ahead data or nothing

// One open file. `count` means one thing in each state of the buffer:
// - Reading: buffer[0, fill) holds the bytes of the last refill, of which buffer[fill - count,
//   fill) are not read yet; the system's position stands count bytes ahead of the logical
//   position. A freshly opened file is in this state with count 0.
// - Writing: buffer[0, bufferSize - count) holds bytes not yet written and the count bytes after
//   them are free room; the system's position is at the start of the pending bytes.
// An unbuffered file stays in the reading state with count 0.
// Inside the library the fields change only through the buffer's operations (filebuffer.cpp and
// files_internal.h). The library's records carry more state after these 40 bytes: pass
// FileBuffer* only records that this library handed out (FileOpenEx with DYNAMIC_ID).
struct FileRecord {
    HANDLE handle;       // a record whose handle is 0 holds no file
    uint8_t* buffer;     // FILE_BUFFER_SIZE bytes from MainHeap; null for an unbuffered file
    int32_t bufferSize;  // FILE_BUFFER_SIZE, also for an unbuffered file
    int32_t count;       // reading: unread bytes in the buffer; writing: free room in the buffer
    int32_t fill;        // reading: valid bytes that the last refill put in the buffer
    int32_t state;       // FILE_STATE_READING or FILE_STATE_WRITING
    int32_t textFormat;  // used when a text operation names no format
    int32_t readOnly;    // 1 when opened with OPEN_MODE_READ: writes are refused
};
static_assert(sizeof(FileRecord) == 40 && offsetof(FileRecord, buffer) == 8 &&
                  offsetof(FileRecord, bufferSize) == 16 && offsetof(FileRecord, count) == 20 &&
                  offsetof(FileRecord, fill) == 24 && offsetof(FileRecord, state) == 28 &&
                  offsetof(FileRecord, textFormat) == 32 && offsetof(FileRecord, readOnly) == 36,
              "the file record has its classic 40-byte layout");

void FileLibraryStart();
// Flushes and closes every file still open.
void FileLibraryEnd();

// Open and create operations: the new system handle (numbered file) or the new record's address,
// which is the file's ObjectId from then on (DYNAMIC_ID); 0 on failure, with the number released.
// A number that holds an open file is closed (and flushed) first.
int64_t FileOpenEx(ObjectId id, const WCHAR* path, int32_t mode, int32_t flags);
// Created or truncated; exclusive, TEXT_UTF8, buffered unless the flags say otherwise.
int64_t FileCreate(ObjectId id, const WCHAR* path);
int64_t FileCreate(ObjectId id, const WCHAR* path, int32_t flags);
// Read and write access, exclusive, TEXT_UTF8, buffered; an empty file is created when missing.
int64_t FileOpen(ObjectId id, const WCHAR* path);
// Read access, exclusive, TEXT_UTF8, buffered; writes are refused.
int64_t FileOpenRead(ObjectId id, const WCHAR* path);

// Flushes, frees the buffer, closes the handle and releases the number; DYNAMIC_ID closes every
// file. The registry's free routine.
void FileClose(ObjectId id);
// FileClose that reports whether every transfer on the file succeeded, the final flush included:
// 0 when it did (or when the id names no file), else the system error code of the first write or
// read that failed. DYNAMIC_ID closes every file and reports the first failure among them.
int64_t FileCloseChecked(ObjectId id);
// 0 while every write to the file has reached it and every read has succeeded (or when the id
// names no file), else the system error code of the first write that failed or fell short
// (ERROR_WRITE_FAULT for a short one) or of the first read that failed. Data still in the buffer
// has not been tried yet: FileCloseChecked gives the final answer.
int64_t FileError(ObjectId id);

// Nonzero when no byte is left to read: 1 for a buffered file, -1 for an unbuffered one.
int64_t FileAtEnd(ObjectId id);

// Byte transfers through the buffer: bytes copied, accepted or written.
int64_t FileBufferRead(FileRecord* record, void* destination, int64_t bytes);
int64_t FileBufferWrite(FileRecord* record, const void* source, int64_t bytes);
int64_t FileBufferFlush(FileRecord* record);

// The next line, delivered at builder `position`; line ends are CR LF, LF or CR, and a zero
// character also ends a line. flags: bits 0-4 the TextFormat (0: the file's own), and
// READ_IGNORE_LINE_ENDS. maxLength -1 means no limit; otherwise it counts bytes (TEXT_ANSI), units
// (TEXT_UTF16) or characters (TEXT_UTF8). Returns the line's address in the builder, or null when
// nothing could be delivered (the position is then unchanged: the empty string): no memory for the
// line's buffer, or a line longer than the string builder can take, whose bytes are consumed.
WCHAR* FileReadLine(ObjectId id, int32_t flags, int32_t position);
WCHAR* FileReadLine(ObjectId id, int32_t flags, int64_t maxLength, int32_t position);
// 1 when the last line FileReadLine delivered from the file is only its first part, because the
// line's buffer could not grow (the rest comes as the next line); 0 for a whole line, a line ended
// by the limit, or an id that names no file.
int64_t FileLineCutShort(ObjectId id);
// Writes the text (without its zero) in the file's textFormat or in `format`; the bytes written.
int64_t FileWriteString(ObjectId id, const WCHAR* text);
int64_t FileWriteString(ObjectId id, const WCHAR* text, int32_t format);
// The text, then CR LF; the bytes written by the last write (the line end).
int64_t FileWriteLine(ObjectId id, const WCHAR* text);
int64_t FileWriteLine(ObjectId id, const WCHAR* text, int32_t format);

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
