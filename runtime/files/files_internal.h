// Shared inside the file library: the registry's record, the operations on a file's buffer and
// the system transfers that record what they could not do.
//
// The registry's record is the classic 40-byte FileRecord followed by the error state and the
// state of the last line read, so that code written against the classic layout still finds every
// classic field where it expects it. Threads: as for the file they belong to.
#pragma once

#include "files.h"

namespace rt {

struct FileObject {
    FileRecord record;
    DWORD error;           // the first failed transfer (a system error code), 0 while there is none
    int32_t lineCutShort;  // 1 when the last line read ended only because its buffer could not grow
};
static_assert(offsetof(FileObject, record) == 0 && sizeof(FileObject) == 48);

extern ObjectRegistry* FileRegistry;

inline FileObject* FileObjectOf(FileRecord* record) {
    return reinterpret_cast<FileObject*>(record);
}

// The live record of `id`, or null.
inline FileRecord* FileLookup(ObjectId id) {
    return FileRegistry == nullptr ? nullptr
                                   : static_cast<FileRecord*>(RegistryLookup(FileRegistry, id));
}

// Keeps the first transfer failure of the file, a write's or a read's: `error` is a system error
// code.
inline void FileNoteError(FileRecord* record, DWORD error) {
    FileObject* object = FileObjectOf(record);
    if (object->error == 0) {
        object->error = error;
    }
}

// The buffer's operations. FileRecord (files.h) gives the invariant of each state; its fields
// change only here and in filebuffer.cpp, which owns the state. The operations that a text line
// makes per character or per line are inline, so that they cost what the field accesses cost.

// Sets up the buffer of a file just opened: `buffer` (null: unbuffered), in the reading state with
// nothing read ahead.
void FileBufferStart(FileRecord* record, uint8_t* buffer);

// Reading state. Whether bytes read ahead wait in the buffer. An unbuffered file never leaves the
// reading state and its count stays 0, so the state and the count tell it apart.
inline bool FileBufferHasUnread(const FileRecord* record) {
    return record->state == FILE_STATE_READING && record->count > 0;
}
// The next unread byte and the number of unread bytes from it on.
inline const uint8_t* FileBufferNext(const FileRecord* record) {
    return record->buffer + record->fill - record->count;
}
inline int32_t FileBufferUnread(const FileRecord* record) {
    return record->count;
}
// The bytes from the next unread one to the end of the buffer's block: the unread ones and the
// stale ones after them, which may be read but mean nothing.
inline int64_t FileBufferReadable(const FileRecord* record) {
    return record->bufferSize - (record->fill - record->count);
}
// Takes the first `bytes` unread bytes as read; at most FileBufferUnread of them.
inline void FileBufferConsume(FileRecord* record, int64_t bytes) {
    record->count -= static_cast<int32_t>(bytes);
}
// Makes the last `bytes` bytes read through the buffer unread again.
void FileGiveBack(FileRecord* record, int32_t bytes);

// Writing state. Whether the file has a buffer in the writing state, which only a buffered file
// enters.
inline bool FileBufferWriting(const FileRecord* record) {
    return record->state == FILE_STATE_WRITING;
}
// The free room after the pending bytes, and its size.
inline uint8_t* FileBufferRoom(const FileRecord* record) {
    return record->buffer + record->bufferSize - record->count;
}
inline int32_t FileBufferRoomBytes(const FileRecord* record) {
    return record->count;
}
// Takes the first `bytes` bytes stored in the room as pending; at most FileBufferRoomBytes.
inline void FileBufferCommit(FileRecord* record, int64_t bytes) {
    record->count -= static_cast<int32_t>(bytes);
}

// ReadFile in pieces that a DWORD can count: the bytes read, short only at the end of the data or
// on an error, which is noted on the record.
int64_t FileSystemRead(FileRecord* record, void* destination, int64_t bytes);
// WriteFile in such pieces: the bytes written; a failure or a short write is noted on the record.
int64_t FileSystemWrite(FileRecord* record, const void* source, int64_t bytes);

}  // namespace rt
