// Kernel objects and their handles, shared by the areas of the POSIX layer (files, threads,
// waits). Not part of the Windows API surface: runtime code only sees HANDLE values.
//
// A handle is a small multiple of 4 that indexes a process-wide table, as Windows handles are, so
// that a stale or invented handle is refused instead of dereferenced. An object lives while a
// handle or an internal user holds a reference to it.
#pragma once

#include <atomic>
#include <type_traits>

#include "types.h"

namespace platform {

// The kinds of kernel object; a handle's object is told apart by its kind, without run-time type
// information, on every call that takes a handle.
enum class ObjectKind { File, Thread, Wait };

class KernelObject {
  public:
    explicit KernelObject(ObjectKind kind) : kind_(kind) {}
    KernelObject(const KernelObject&) = delete;
    KernelObject& operator=(const KernelObject&) = delete;

    ObjectKind Kind() const { return kind_; }

    void AddReference() { references_.fetch_add(1, std::memory_order_relaxed); }
    void Release() {
        if (references_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            delete this;
        }
    }

  protected:
    virtual ~KernelObject() = default;

  private:
    const ObjectKind kind_;
    std::atomic<int32_t> references_{1};
};

// Enters `object` in the handle table, taking over the caller's reference; the new handle, or
// NULL (with ERROR_NOT_ENOUGH_MEMORY) when the table cannot grow, in which case the reference is
// released.
HANDLE HandleOpen(KernelObject* object);

// The object of `handle` with one more reference for the caller, who releases it; NULL when the
// handle is not open (pseudo handles are not in the table).
KernelObject* HandleReference(HANDLE handle);

// The object of `handle` as a T (a final class whose objects are all of kind T::KIND), with one
// more reference, or NULL when the handle is not open or names an object of another kind.
template <typename T>
T* HandleReferenceAs(HANDLE handle) {
    static_assert(std::is_final_v<T>, "a subclass of T would share its kind");
    KernelObject* object = HandleReference(handle);
    if (object == nullptr) {
        return nullptr;
    }
    if (object->Kind() == T::KIND) {
        return static_cast<T*>(object);
    }
    object->Release();
    return nullptr;
}

}  // namespace platform
