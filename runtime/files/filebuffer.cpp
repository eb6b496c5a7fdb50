// The buffer of a file: byte transfers between the caller and the system through one
// FILE_BUFFER_SIZE block per file, which holds either read-ahead data (reading state) or data not
// yet written (writing state). This unit owns the buffer's state: it switches between the states,
// refills, flushes and gives bytes back; the text lines take and store bytes through the inline
// operations of files_internal.h.
//
// The text readers ask for one character at a time, so requests of 1, 2 and 4 bytes that the
// buffer can serve are single moves without a system call. An unbuffered file (null buffer) goes
// straight to the system. Threads: one file is used by one thread at a time.
#include <algorithm>
#include <cstring>

#include "files_internal.h"

namespace rt {

namespace {

// Pieces of a transfer stay well inside what a DWORD counts.
constexpr int64_t SYSTEM_PIECE = 0x40000000;

// Copies `bytes` bytes, as one move for the sizes a text reader asks for.
inline void Move(uint8_t* destination, const uint8_t* source, int64_t bytes) {
    switch (bytes) {
        case 1:
            *destination = *source;
            break;
        case 2:
            std::memcpy(destination, source, 2);
            break;
        case 4:
            std::memcpy(destination, source, 4);
            break;
        default:
            std::memcpy(destination, source, static_cast<size_t>(bytes));
            break;
    }
}

// Moves the system position by `distance` bytes from the current one; false when it cannot.
bool SeekBy(HANDLE handle, int64_t distance) {
    LONG high = static_cast<LONG>(distance >> 32);
    SetLastError(ERROR_SUCCESS);
    return SetFilePointer(handle, static_cast<LONG>(distance), &high, FILE_CURRENT) !=
               INVALID_SET_FILE_POINTER ||
           GetLastError() == ERROR_SUCCESS;
}

// The bytes waiting in a buffer in the writing state.
int32_t PendingBytes(const FileRecord* record) {
    return record->bufferSize - record->count;
}

// Reads the next block of the file into the empty buffer of the reading state.
void Refill(FileRecord* record) {
    auto got = static_cast<int32_t>(FileSystemRead(record, record->buffer, record->bufferSize));
    record->fill = got;
    record->count = got;
}

}  // namespace

int64_t FileSystemRead(FileRecord* record, void* destination, int64_t bytes) {
    auto* target = static_cast<uint8_t*>(destination);
    int64_t total = 0;
    while (total < bytes) {
        DWORD piece =
            static_cast<DWORD>(bytes - total < SYSTEM_PIECE ? bytes - total : SYSTEM_PIECE);
        DWORD got = 0;
        // A failed read ends the data for the reader as the end of the file does; it is noted so
        // that a caller can tell a cut-off file from a whole one.
        if (!ReadFile(record->handle, target + total, piece, &got, nullptr)) {
            DWORD error = GetLastError();
            FileNoteError(record, error != 0 ? error : ERROR_READ_FAULT);
        }
        total += got;
        if (got < piece) {
            break;
        }
    }
    return total;
}

int64_t FileSystemWrite(FileRecord* record, const void* source, int64_t bytes) {
    const auto* from = static_cast<const uint8_t*>(source);
    int64_t total = 0;
    do {
        DWORD piece =
            static_cast<DWORD>(bytes - total < SYSTEM_PIECE ? bytes - total : SYSTEM_PIECE);
        DWORD written = 0;
        if (!WriteFile(record->handle, from + total, piece, &written, nullptr)) {
            DWORD error = GetLastError();
            FileNoteError(record, error != 0 ? error : ERROR_WRITE_FAULT);
            return total + written;
        }
        total += written;
        if (written < piece) {
            FileNoteError(record, ERROR_WRITE_FAULT);
            return total;
        }
    } while (total < bytes);
    return total;
}

void FileBufferStart(FileRecord* record, uint8_t* buffer) {
    record->buffer = buffer;
    record->bufferSize = FILE_BUFFER_SIZE;
    record->count = 0;
    record->fill = 0;
    record->state = FILE_STATE_READING;
}

void FileGiveBack(FileRecord* record, int32_t bytes) {
    if (record->buffer == nullptr) {
        SeekBy(record->handle, -bytes);
    } else if (record->count + bytes <= record->fill) {
        record->count += bytes;
    } else {
        // Part of those bytes came from before the last refill and are no longer in the buffer:
        // drop the read-ahead and move the system position back to the new logical position.
        SeekBy(record->handle, -static_cast<int64_t>(record->count) - bytes);
        record->count = 0;
    }
}

int64_t FileBufferFlush(FileRecord* record) {
    if (!FileBufferWriting(record)) {
        return 0;
    }
    int64_t written = FileSystemWrite(record, record->buffer, PendingBytes(record));
    // Written or not, the buffer is free again; a failure is on the record for FileError.
    record->count = record->bufferSize;
    return written;
}

int64_t FileBufferRead(FileRecord* record, void* destination, int64_t bytes) {
    if (record->buffer == nullptr) {
        return FileSystemRead(record, destination, bytes);
    }
    if (record->state == FILE_STATE_WRITING) {
        FileBufferFlush(record);
        record->state = FILE_STATE_READING;
        record->count = 0;
    }
    auto* target = static_cast<uint8_t*>(destination);
    if (FileBufferUnread(record) >= bytes) {
        Move(target, FileBufferNext(record), bytes);
        FileBufferConsume(record, bytes);
        return bytes;
    }
    int64_t copied = FileBufferUnread(record);
    std::memcpy(target, FileBufferNext(record), static_cast<size_t>(copied));
    FileBufferConsume(record, copied);
    int64_t remaining = bytes - copied;
    if (remaining >= record->bufferSize) {
        return copied + FileSystemRead(record, target + copied, remaining);
    }
    Refill(record);
    int64_t taken = std::min<int64_t>(remaining, FileBufferUnread(record));
    Move(target + copied, FileBufferNext(record), taken);
    FileBufferConsume(record, taken);
    return copied + taken;
}

int64_t FileBufferWrite(FileRecord* record, const void* source, int64_t bytes) {
    if (record->readOnly == 1) {
        FileNoteError(record, ERROR_ACCESS_DENIED);
        return 0;
    }
    if (record->buffer == nullptr) {
        return FileSystemWrite(record, source, bytes);
    }
    if (record->state == FILE_STATE_READING) {
        // Back to the logical position: the unread read-ahead is dropped. Where the system cannot
        // move back, what follows lands after the read-ahead: that write has failed.
        if (record->count != 0 && !SeekBy(record->handle, -static_cast<int64_t>(record->count))) {
            FileNoteError(record, GetLastError());
        }
        record->state = FILE_STATE_WRITING;
        record->count = record->bufferSize;
    }
    if (bytes < FileBufferRoomBytes(record)) {
        Move(FileBufferRoom(record), static_cast<const uint8_t*>(source), bytes);
        FileBufferCommit(record, bytes);
        return bytes;
    }
    FileBufferFlush(record);
    if (bytes >= record->bufferSize) {
        return FileSystemWrite(record, source, bytes);
    }
    Move(FileBufferRoom(record), static_cast<const uint8_t*>(source), bytes);
    FileBufferCommit(record, bytes);
    return bytes;
}

}  // namespace rt
