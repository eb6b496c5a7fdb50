// The handle table: a vector of object pointers under a mutex, with a free list of closed entries.
// Handle values are (index + 1) * 4, so that 0 is never a handle and values look like Windows'.
#include "handle.h"

#include <mutex>
#include <new>
#include <vector>

#include "../platform.h"

namespace platform {

namespace {

std::mutex tableLock;
std::vector<KernelObject*>& Table() {
    static auto* table = new std::vector<KernelObject*>;  // never destroyed: handles outlive exit
    return *table;
}
std::vector<size_t>& FreeEntries() {
    static auto* entries = new std::vector<size_t>;
    return *entries;
}

bool IndexOf(HANDLE handle, size_t* index) {
    auto value = reinterpret_cast<uintptr_t>(handle);
    if (value == 0 || value % 4 != 0) {
        return false;
    }
    *index = value / 4 - 1;
    return *index < Table().size() && Table()[*index] != nullptr;
}

}  // namespace

HANDLE HandleOpen(KernelObject* object) {
    std::lock_guard<std::mutex> guard(tableLock);
    size_t index;
    try {
        if (!FreeEntries().empty()) {
            index = FreeEntries().back();
            FreeEntries().pop_back();
        } else {
            Table().push_back(nullptr);
            index = Table().size() - 1;
        }
    } catch (const std::bad_alloc&) {
        object->Release();
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    Table()[index] = object;
    return reinterpret_cast<HANDLE>((index + 1) * 4);
}

KernelObject* HandleReference(HANDLE handle) {
    std::lock_guard<std::mutex> guard(tableLock);
    size_t index;
    if (!IndexOf(handle, &index)) {
        return nullptr;
    }
    KernelObject* object = Table()[index];
    object->AddReference();
    return object;
}

}  // namespace platform

BOOL CloseHandle(HANDLE handle) {
    platform::KernelObject* object;
    {
        std::lock_guard<std::mutex> guard(platform::tableLock);
        size_t index;
        if (!platform::IndexOf(handle, &index)) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        object = platform::Table()[index];
        platform::Table()[index] = nullptr;
        try {
            platform::FreeEntries().push_back(index);
        } catch (const std::bad_alloc&) {
            // The entry is simply not reused.
        }
    }
    object->Release();
    return TRUE;
}
