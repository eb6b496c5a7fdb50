// Files over POSIX descriptors.
//
// Each handle owns a FileObject: its descriptor, the access it was opened with and its share mode.
// The open-file table maps (device, inode) to the FileObjects open on that file; it is the one
// place where share modes are checked, and its mutex is held from the check to the entry of the new
// handle (and across a deletion), so that two threads cannot both pass the check. A file that must
// be truncated is truncated only after the check, so that a refused open leaves it untouched.
#include "file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "../platform.h"
#include "handle.h"

namespace platform {

namespace {

class FileObject;

using FileKey = std::pair<dev_t, ino_t>;

std::mutex openFilesLock;
std::map<FileKey, std::vector<FileObject*>>& OpenFiles() {
    static auto* files = new std::map<FileKey, std::vector<FileObject*>>;  // handles outlive exit
    return *files;
}

class FileObject final : public KernelObject {
  public:
    static constexpr ObjectKind KIND = ObjectKind::File;

    FileObject(int descriptor, DWORD access, DWORD share, FileKey key)
        : KernelObject(KIND), descriptor_(descriptor), access_(access), share_(share), key_(key) {}

    int Descriptor() const { return descriptor_; }
    bool CanRead() const { return access_ & GENERIC_READ; }
    bool CanWrite() const { return access_ & GENERIC_WRITE; }
    DWORD Share() const { return share_; }
    FileKey Key() const { return key_; }

    // True when this handle's access and share mode allow another handle with `access` and
    // `share` on the same file, in both directions, as Windows decides.
    bool Admits(DWORD access, DWORD share) const {
        bool reads = access & GENERIC_READ;
        bool writes = access & GENERIC_WRITE;
        return !(reads && !(share_ & FILE_SHARE_READ)) &&
               !(writes && !(share_ & FILE_SHARE_WRITE)) &&
               !(CanRead() && !(share & FILE_SHARE_READ)) &&
               !(CanWrite() && !(share & FILE_SHARE_WRITE));
    }

    // Enters the object in the open-file table; the caller holds openFilesLock.
    bool Enter() {
        try {
            OpenFiles()[key_].push_back(this);
        } catch (const std::bad_alloc&) {
            return false;
        }
        entered_ = true;
        return true;
    }

  protected:
    ~FileObject() override {
        if (entered_) {
            std::lock_guard<std::mutex> guard(openFilesLock);
            auto entry = OpenFiles().find(key_);
            std::erase(entry->second, this);
            if (entry->second.empty()) {
                OpenFiles().erase(entry);
            }
        }
        close(descriptor_);
    }

  private:
    int descriptor_;
    DWORD access_;
    DWORD share_;
    FileKey key_;
    bool entered_ = false;
};

// The UTF-8 name of the file system for a UTF-16 name.
bool NameFromUtf16(LPCWSTR name, std::string* out) {
    int bytes = WideCharToMultiByte(CP_UTF8, 0, name, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) {
        return false;
    }
    try {
        out->resize(static_cast<size_t>(bytes));
    } catch (const std::bad_alloc&) {
        return false;
    }
    WideCharToMultiByte(CP_UTF8, 0, name, -1, out->data(), bytes, nullptr, nullptr);
    out->resize(static_cast<size_t>(bytes) - 1);
    return true;
}

DWORD ErrorFromErrno(int error) {
    switch (error) {
        case ENOENT:
            return ERROR_FILE_NOT_FOUND;
        case ENOTDIR:
        case ELOOP:
            return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EISDIR:
        case EROFS:
        case EBADF:
        case ETXTBSY:
            return ERROR_ACCESS_DENIED;
        case EMFILE:
        case ENFILE:
            return ERROR_TOO_MANY_OPEN_FILES;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        case EEXIST:
            return ERROR_FILE_EXISTS;
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return ERROR_DISK_FULL;
        case EINVAL:
            return ERROR_INVALID_PARAMETER;
        case ENAMETOOLONG:
            return ERROR_FILENAME_EXCED_RANGE;
        default:
            return ERROR_GEN_FAILURE;
    }
}

// Windows tells a missing file (the folder exists) from a missing folder.
DWORD MissingNameError(const std::string& name) {
    if (name.empty()) {
        return ERROR_PATH_NOT_FOUND;
    }
    size_t slash = name.rfind('/');
    std::string folder = slash == std::string::npos ? "."
                         : slash == 0               ? "/"
                                                    : name.substr(0, slash);
    struct stat status;
    bool folderExists = stat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
    return folderExists ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

DWORD OpenError(int error, const std::string& name) {
    return error == ENOENT ? MissingNameError(name) : ErrorFromErrno(error);
}

// Opens without waiting: a FIFO opened for reading would otherwise block in open() until a writer
// comes, and Windows never waits in CreateFileW. The flag is cleared once the file is open, so that
// reads and writes wait for their data as on any other file.
int OpenRetrying(const std::string& name, int flags) {
    int descriptor;
    do {
        descriptor = open(name.c_str(), flags | O_NONBLOCK, 0666);
    } while (descriptor < 0 && errno == EINTR);
    if (descriptor >= 0 &&
        fcntl(descriptor, F_SETFL, fcntl(descriptor, F_GETFL) & ~O_NONBLOCK) != 0) {
        int error = errno;
        close(descriptor);
        errno = error;
        return -1;
    }
    return descriptor;
}

// Opens the descriptor as the disposition asks, without truncating; *existed says whether the file
// was there before. -1 with errno set on failure.
int OpenForDisposition(const std::string& name, int accessFlags, DWORD disposition, bool* existed) {
    *existed = true;
    if (disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING) {
        return OpenRetrying(name, accessFlags);
    }
    if (disposition == CREATE_NEW) {
        *existed = false;
        return OpenRetrying(name, accessFlags | O_CREAT | O_EXCL);
    }
    // CREATE_ALWAYS and OPEN_ALWAYS: create exclusively first so that we know whether the file was
    // there; when it was, open it, and go round again if it vanished in between.
    for (;;) {
        int descriptor = OpenRetrying(name, accessFlags | O_CREAT | O_EXCL);
        if (descriptor >= 0 || errno != EEXIST) {
            *existed = false;
            return descriptor;
        }
        descriptor = OpenRetrying(name, accessFlags);
        if (descriptor >= 0 || errno != ENOENT) {
            return descriptor;
        }
    }
}

bool Truncate(int descriptor, const std::string& name) {
    if (ftruncate(descriptor, 0) == 0) {
        return true;
    }
    // A handle with read access only may still be created over an existing file: truncate by name.
    return (errno == EINVAL || errno == EBADF) && truncate(name.c_str(), 0) == 0;
}

}  // namespace

}  // namespace platform

HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode, LPSECURITY_ATTRIBUTES,
                   DWORD creationDisposition, DWORD, HANDLE) {
    using namespace platform;
    if (creationDisposition < CREATE_NEW || creationDisposition > TRUNCATE_EXISTING ||
        (creationDisposition == TRUNCATE_EXISTING && !(desiredAccess & GENERIC_WRITE))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::string name;
    if (fileName == nullptr || !NameFromUtf16(fileName, &name)) {
        SetLastError(fileName == nullptr ? ERROR_PATH_NOT_FOUND : ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    bool reads = desiredAccess & GENERIC_READ;
    bool writes = desiredAccess & GENERIC_WRITE;
    int accessFlags = O_CLOEXEC | (writes ? (reads ? O_RDWR : O_WRONLY) : O_RDONLY);

    bool existed;
    int descriptor = OpenForDisposition(name, accessFlags, creationDisposition, &existed);
    if (descriptor < 0) {
        SetLastError(OpenError(errno, name));
        return INVALID_HANDLE_VALUE;
    }
    struct stat status;
    if (fstat(descriptor, &status) != 0 || S_ISDIR(status.st_mode)) {
        // Windows refuses to open a folder as a file.
        close(descriptor);
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }

    auto* object = new (std::nothrow)
        FileObject(descriptor, desiredAccess, shareMode, FileKey(status.st_dev, status.st_ino));
    if (object == nullptr) {
        close(descriptor);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    {
        std::lock_guard<std::mutex> guard(openFilesLock);
        auto entry = OpenFiles().find(object->Key());
        if (entry != OpenFiles().end()) {
            for (FileObject* other : entry->second) {
                if (!other->Admits(desiredAccess, shareMode)) {
                    object->Release();
                    SetLastError(ERROR_SHARING_VIOLATION);
                    return INVALID_HANDLE_VALUE;
                }
            }
        }
        if (!object->Enter()) {
            object->Release();
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return INVALID_HANDLE_VALUE;
        }
    }
    // Only a regular file has a length to cut: a device that is created over is opened as it is,
    // as Windows does with NUL.
    bool truncates = S_ISREG(status.st_mode) && (creationDisposition == TRUNCATE_EXISTING ||
                                                 (creationDisposition == CREATE_ALWAYS && existed));
    if (truncates && !Truncate(descriptor, name)) {
        DWORD error = ErrorFromErrno(errno);
        object->Release();
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE handle = HandleOpen(object);
    if (handle == nullptr) {
        return INVALID_HANDLE_VALUE;  // HandleOpen released the object and set the error
    }
    bool reportsExisting =
        existed && (creationDisposition == CREATE_ALWAYS || creationDisposition == OPEN_ALWAYS);
    SetLastError(reportsExisting ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

namespace {

// Holds a reference to the FileObject of a handle for one call.
class FileReference {
  public:
    explicit FileReference(HANDLE handle)
        : object_(platform::HandleReferenceAs<platform::FileObject>(handle)) {
        if (object_ == nullptr) {
            SetLastError(ERROR_INVALID_HANDLE);
        }
    }
    ~FileReference() {
        if (object_ != nullptr) {
            object_->Release();
        }
    }
    FileReference(const FileReference&) = delete;
    FileReference& operator=(const FileReference&) = delete;

    platform::FileObject* operator->() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }

  private:
    platform::FileObject* object_;
};

// Clears the caller's count and checks a transfer as Windows does before it starts; false with
// the error set when the handle, the overlapped argument or the handle's access does not allow it.
// The transfer-failure hooks: reads or writes left until the one that fails, 0 while disarmed.
std::atomic<int64_t> readsBeforeFailure{0};
std::atomic<int64_t> writesBeforeFailure{0};

// True for the transfer the hook was armed for, which disarms it.
bool FailsNow(std::atomic<int64_t>& transfersBeforeFailure) {
    int64_t left = transfersBeforeFailure.load(std::memory_order_relaxed);
    while (left > 0 && !transfersBeforeFailure.compare_exchange_weak(left, left - 1)) {
    }
    return left == 1;
}

bool TransferAllowed(const FileReference& object, LPDWORD count, LPOVERLAPPED overlapped,
                     bool writes) {
    if (count != nullptr) {
        *count = 0;
    }
    if (!object) {
        return false;
    }
    if (overlapped != nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    if (!(writes ? object->CanWrite() : object->CanRead())) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    return true;
}

}  // namespace

void PlatformFailRead(int64_t nth) {
    readsBeforeFailure.store(nth > 0 ? nth : 0);
}

void PlatformFailWrite(int64_t nth) {
    writesBeforeFailure.store(nth > 0 ? nth : 0);
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead,
              LPOVERLAPPED overlapped) {
    FileReference object(file);
    if (!TransferAllowed(object, bytesRead, overlapped, false)) {
        return FALSE;
    }
    if (FailsNow(readsBeforeFailure)) {
        SetLastError(ERROR_READ_FAULT);
        return FALSE;  // *bytesRead is already 0
    }
    // A disk file delivers everything asked for unless the end comes first; read() may stop early.
    auto* destination = static_cast<char*>(buffer);
    DWORD total = 0;
    while (total < bytesToRead) {
        ssize_t got = read(object->Descriptor(), destination + total, bytesToRead - total);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            SetLastError(platform::ErrorFromErrno(errno));
            if (bytesRead != nullptr) {
                *bytesRead = total;
            }
            return FALSE;
        }
        if (got == 0) {
            break;
        }
        total += static_cast<DWORD>(got);
    }
    if (bytesRead != nullptr) {
        *bytesRead = total;
    }
    return TRUE;
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten,
               LPOVERLAPPED overlapped) {
    FileReference object(file);
    if (!TransferAllowed(object, bytesWritten, overlapped, true)) {
        return FALSE;
    }
    if (FailsNow(writesBeforeFailure)) {
        SetLastError(ERROR_WRITE_FAULT);
        return FALSE;  // *bytesWritten is already 0
    }
    const auto* source = static_cast<const char*>(buffer);
    DWORD total = 0;
    BOOL result = TRUE;
    while (total < bytesToWrite) {
        ssize_t put = write(object->Descriptor(), source + total, bytesToWrite - total);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            // write() returns 0 only when the device takes nothing more: count it as full.
            SetLastError(put == 0 ? ERROR_DISK_FULL : platform::ErrorFromErrno(errno));
            result = FALSE;
            break;
        }
        total += static_cast<DWORD>(put);
    }
    if (bytesWritten != nullptr) {
        *bytesWritten = total;
    }
    return result;
}

DWORD SetFilePointer(HANDLE file, LONG distanceToMove, PLONG distanceToMoveHigh, DWORD moveMethod) {
    FileReference object(file);
    if (!object) {
        return INVALID_SET_FILE_POINTER;
    }
    // Without a high part the distance is the sign-extended 32-bit value.
    int64_t distance = distanceToMoveHigh == nullptr
                           ? distanceToMove
                           : static_cast<int64_t>(static_cast<uint64_t>(*distanceToMoveHigh) << 32 |
                                                  static_cast<uint32_t>(distanceToMove));
    int whence = moveMethod == FILE_BEGIN     ? SEEK_SET
                 : moveMethod == FILE_CURRENT ? SEEK_CUR
                 : moveMethod == FILE_END     ? SEEK_END
                                              : -1;
    if (whence < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    off_t position = lseek(object->Descriptor(), distance, whence);
    if (position < 0) {
        // lseek refuses a position before the start with EINVAL and leaves the position alone.
        SetLastError(errno == EINVAL ? ERROR_NEGATIVE_SEEK : platform::ErrorFromErrno(errno));
        return INVALID_SET_FILE_POINTER;
    }
    if (distanceToMoveHigh != nullptr) {
        *distanceToMoveHigh = static_cast<LONG>(static_cast<uint64_t>(position) >> 32);
    }
    DWORD low = static_cast<DWORD>(position);
    if (low == INVALID_SET_FILE_POINTER) {
        SetLastError(ERROR_SUCCESS);  // lets the caller tell this position from a failure
    }
    return low;
}

BOOL DeleteFileW(LPCWSTR fileName) {
    using namespace platform;
    std::string name;
    if (fileName == nullptr || !NameFromUtf16(fileName, &name)) {
        SetLastError(fileName == nullptr ? ERROR_PATH_NOT_FOUND : ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    std::lock_guard<std::mutex> guard(openFilesLock);
    struct stat status;
    if (lstat(name.c_str(), &status) != 0) {
        SetLastError(OpenError(errno, name));
        return FALSE;
    }
    if (S_ISDIR(status.st_mode)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    auto entry = OpenFiles().find(FileKey(status.st_dev, status.st_ino));
    if (entry != OpenFiles().end()) {
        for (FileObject* other : entry->second) {
            if (!(other->Share() & FILE_SHARE_DELETE)) {
                SetLastError(ERROR_SHARING_VIOLATION);
                return FALSE;
            }
        }
    }
    if (unlink(name.c_str()) != 0) {
        SetLastError(OpenError(errno, name));
        return FALSE;
    }
    return TRUE;
}
