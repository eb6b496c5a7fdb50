// File objects: the file registry, opening and creating, closing, the end-of-file test and the
// transfer-error report.
//
// The registry owns the records; a record's first 8 bytes are its system handle and mark it live.
// Opening takes the record first (closing any file the number held) and releases the number again
// when the system refuses the file. Threads: any thread may open and close files; the registry's
// lock covers finding, creating and freeing records only.
#include "files_internal.h"

namespace rt {

ObjectRegistry* FileRegistry = nullptr;

namespace {

// Closes one file; the first transfer failure it had, the final flush included, or 0.
DWORD CloseOne(ObjectId id) {
    FileRecord* record = FileLookup(id);
    if (record == nullptr) {
        return 0;
    }
    if (record->buffer != nullptr) {
        FileBufferFlush(record);
        HeapFree(MainHeap, 0, record->buffer);
    }
    if (!CloseHandle(record->handle)) {
        FileNoteError(record, GetLastError());
    }
    DWORD error = FileObjectOf(record)->error;
    RegistryFree(FileRegistry, id);
    return error;
}

}  // namespace

void FileLibraryStart() {
    // The records are FileObjects: the classic 40 bytes and the error and line state after them.
    FileRegistry = RegistryNew(sizeof(FileObject), 16, FileClose);
}

void FileLibraryEnd() {
    if (FileRegistry != nullptr) {
        RegistryFreeAll(FileRegistry);
    }
}

int64_t FileOpenEx(ObjectId id, const WCHAR* path, int32_t mode, int32_t flags) {
    DWORD access;
    DWORD disposition;
    switch (mode) {
        case OPEN_MODE_READ:
            access = GENERIC_READ;
            disposition = OPEN_EXISTING;
            break;
        case OPEN_MODE_READ_WRITE:
            access = GENERIC_READ | GENERIC_WRITE;
            disposition = OPEN_ALWAYS;
            break;
        case OPEN_MODE_CREATE:
            access = GENERIC_READ | GENERIC_WRITE;
            disposition = CREATE_ALWAYS;
            break;
        default:
            return 0;  // no such mode: the number keeps what it holds
    }
    if (FileRegistry == nullptr) {
        return 0;
    }
    int32_t textFormat = flags & TEXT_FORMAT_MASK;
    if (textFormat == 0) {
        textFormat = TEXT_UTF8;
    }
    auto* record = static_cast<FileRecord*>(RegistryCreate(FileRegistry, id));
    if (record == nullptr) {
        return 0;
    }
    ObjectId recordId = id == DYNAMIC_ID ? reinterpret_cast<ObjectId>(record) : id;

    DWORD share = (flags & OPEN_SHARED_ALL) ? FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE
                  : (flags & OPEN_SHARED_READ) ? FILE_SHARE_READ
                                               : 0;
    const WCHAR* name = path != nullptr ? path : RT_TEXT("");
    HANDLE handle =
        CreateFileW(name, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE && mode == OPEN_MODE_CREATE) {
        // A file that cannot be created with read access may still be truncated with write access
        // only.
        handle = CreateFileW(name, GENERIC_WRITE, share, nullptr, TRUNCATE_EXISTING, 0, nullptr);
    }
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr) {
        RegistryFree(FileRegistry, recordId);
        return 0;
    }

    // Without memory for the buffer the file works unbuffered.
    FileBufferStart(record, (flags & OPEN_NO_BUFFER)
                                ? nullptr
                                : static_cast<uint8_t*>(HeapAlloc(MainHeap, 0, FILE_BUFFER_SIZE)));
    record->textFormat = textFormat;
    record->readOnly = mode == OPEN_MODE_READ ? 1 : 0;
    RegistryPublish(record, handle);  // last: it makes the record live
    if (mode == OPEN_MODE_READ_WRITE && (flags & OPEN_APPEND)) {
        LONG high = 0;
        SetFilePointer(handle, 0, &high, FILE_END);
    }
    return id == DYNAMIC_ID ? recordId : reinterpret_cast<int64_t>(handle);
}

int64_t FileCreate(ObjectId id, const WCHAR* path) {
    return FileOpenEx(id, path, OPEN_MODE_CREATE, 0);
}

int64_t FileCreate(ObjectId id, const WCHAR* path, int32_t flags) {
    return FileOpenEx(id, path, OPEN_MODE_CREATE, flags);
}

int64_t FileOpen(ObjectId id, const WCHAR* path) {
    return FileOpenEx(id, path, OPEN_MODE_READ_WRITE, 0);
}

int64_t FileOpenRead(ObjectId id, const WCHAR* path) {
    return FileOpenEx(id, path, OPEN_MODE_READ, 0);
}

void FileClose(ObjectId id) {
    if (id == DYNAMIC_ID) {
        FileLibraryEnd();
        return;
    }
    CloseOne(id);
}

int64_t FileCloseChecked(ObjectId id) {
    if (id != DYNAMIC_ID) {
        return CloseOne(id);
    }
    if (FileRegistry == nullptr) {
        return 0;
    }
    // The walk under RegistryFreeAll, keeping what each close reports.
    DWORD first = 0;
    RegistryWalkStart(FileRegistry);
    ObjectId each;
    while (RegistryWalkNext(FileRegistry, &each) != nullptr) {
        DWORD error = CloseOne(each);
        if (first == 0) {
            first = error;
        }
    }
    return first;
}

int64_t FileError(ObjectId id) {
    FileRecord* record = FileLookup(id);
    return record != nullptr ? FileObjectOf(record)->error : 0;
}

int64_t FileAtEnd(ObjectId id) {
    FileRecord* record = FileLookup(id);
    if (record == nullptr) {
        return 0;
    }
    if (FileBufferHasUnread(record)) {
        return 0;  // a byte is waiting: reading it and giving it back would change nothing
    }
    uint8_t byte;
    if (record->buffer != nullptr) {
        if (FileBufferRead(record, &byte, 1) == 0) {
            return 1;
        }
        FileGiveBack(record, 1);  // the byte came from the buffer: it goes back there
        return 0;
    }
    if (FileSystemRead(record, &byte, 1) == 0) {
        return -1;
    }
    SetFilePointer(record->handle, -1, nullptr, FILE_CURRENT);
    return 0;
}

}  // namespace rt
