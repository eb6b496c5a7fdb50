// Thread objects and registered waits.
//
// Thread end. A thread gets its kernel object the first time it duplicates its own pseudo handle.
// The object's first reference is kept in a pthread key whose destructor marks it signalled and
// drops that reference. glibc runs key destructors after the thread's C++ thread_local destructors,
// as the last code of the thread that can touch runtime memory, so a waiter that sees the object
// signalled sees a thread that has ended for every purpose of the runtime. exit() runs no key
// destructors, so the main thread is never signalled while the process ends, and threads still
// running at exit are simply gone, as after ExitProcess on Windows.
//
// Waits. RegisterWaitForSingleObject puts a wait on the armed list; one wait-service thread,
// started with the first registration, takes the oldest armed wait whose object is signalled or
// whose time-out has passed and runs its callback outside the lock. A wait holds a reference on
// its object, the handle table holds one on the wait, and the service holds another from
// registration until the wait is unregistered and no callback of it is running, so that
// UnregisterWait never blocks, even from inside the callback.
//
// Locking: one mutex guards the signalled flags of all thread objects, the armed list and every
// wait's state; one condition variable announces any change. Both live until the process ends
// (they are never destroyed), because the service thread and ending threads use them while exit
// handlers and static destructors run.
#include <pthread.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "../platform.h"
#include "handle.h"

namespace {

using Clock = std::chrono::steady_clock;

class ThreadObject final : public platform::KernelObject {
  public:
    static constexpr platform::ObjectKind KIND = platform::ObjectKind::Thread;

    ThreadObject() : KernelObject(KIND) {}

    bool signalled = false;
};

class Wait final : public platform::KernelObject {
  public:
    enum class Phase { ARMED, RUNNING, IDLE };

    static constexpr platform::ObjectKind KIND = platform::ObjectKind::Wait;

    Wait(ThreadObject* thread, WAITORTIMERCALLBACK routine, PVOID argument, ULONG timeout,
         ULONG waitFlags)
        : KernelObject(KIND),
          object(thread),
          callback(routine),
          context(argument),
          milliseconds(timeout),
          flags(waitFlags) {}

    void Arm() {
        phase = Phase::ARMED;
        if (milliseconds != INFINITE) {
            deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
        }
    }

    ThreadObject* const object;  // one reference, dropped with the wait
    const WAITORTIMERCALLBACK callback;
    const PVOID context;
    const ULONG milliseconds;
    const ULONG flags;
    Clock::time_point deadline;
    Phase phase = Phase::IDLE;
    bool unregistered = false;
    Wait* next = nullptr;  // on the armed list
    Wait* previous = nullptr;

  private:
    ~Wait() override { object->Release(); }
};

struct WaitState {
    std::mutex lock;
    std::condition_variable changed;  // a thread ended, or a wait was armed or unregistered
    Wait* armedFirst = nullptr;       // armed waits, oldest first
    Wait* armedLast = nullptr;
    bool serviceStarted = false;
    bool exiting = false;  // set by the exit handler: no callback starts any more
};

WaitState& State() {
    static auto* state = new WaitState;  // never destroyed, see above
    return *state;
}

void Append(WaitState& state, Wait* wait) {
    wait->next = nullptr;
    wait->previous = state.armedLast;
    (state.armedLast != nullptr ? state.armedLast->next : state.armedFirst) = wait;
    state.armedLast = wait;
}

void Unlink(WaitState& state, Wait* wait) {
    (wait->previous != nullptr ? wait->previous->next : state.armedFirst) = wait->next;
    (wait->next != nullptr ? wait->next->previous : state.armedLast) = wait->previous;
}

// The first armed wait that is due, with whether it timed out; otherwise null and the earliest
// deadline still to come (Clock::time_point::max() when there is none).
Wait* FindDue(WaitState& state, BOOLEAN* timedOut, Clock::time_point* nextDeadline) {
    Clock::time_point now = Clock::now();
    *nextDeadline = Clock::time_point::max();
    for (Wait* wait = state.armedFirst; wait != nullptr; wait = wait->next) {
        if (wait->object->signalled) {
            *timedOut = FALSE;
            return wait;
        }
        if (wait->milliseconds != INFINITE) {
            if (wait->deadline <= now) {
                *timedOut = TRUE;
                return wait;
            }
            *nextDeadline = std::min(*nextDeadline, wait->deadline);
        }
    }
    return nullptr;
}

[[noreturn]] void ServeWaits() {
    WaitState& state = State();
    std::unique_lock<std::mutex> lock(state.lock);
    for (;;) {
        BOOLEAN timedOut = FALSE;
        Clock::time_point nextDeadline;
        Wait* due = state.exiting ? nullptr : FindDue(state, &timedOut, &nextDeadline);
        if (due == nullptr) {
            if (state.exiting || nextDeadline == Clock::time_point::max()) {
                state.changed.wait(lock);
            } else {
                state.changed.wait_until(lock, nextDeadline);
            }
            continue;
        }
        Unlink(state, due);
        due->phase = Wait::Phase::RUNNING;
        lock.unlock();
        due->callback(due->context, timedOut);
        lock.lock();
        if (due->unregistered) {
            due->phase = Wait::Phase::IDLE;
            due->Release();  // the service's reference; UnregisterWait left it to us
        } else if (due->flags & WT_EXECUTEONLYONCE) {
            due->phase = Wait::Phase::IDLE;
        } else {
            // Rearmed at the back, so that a wait whose object stays signalled cannot starve the
            // others.
            due->Arm();
            Append(state, due);
        }
    }
}

void StopCallbacks() {
    std::lock_guard<std::mutex> guard(State().lock);
    State().exiting = true;
}

bool StartService() {
    WaitState& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    if (state.serviceStarted) {
        return true;
    }
    try {
        std::thread(ServeWaits).detach();
    } catch (const std::system_error&) {
        return false;
    }
    std::atexit(StopCallbacks);
    state.serviceStarted = true;
    return true;
}

void ThreadEnded(void* value) {
    auto* object = static_cast<ThreadObject*>(value);
    {
        std::lock_guard<std::mutex> guard(State().lock);
        object->signalled = true;
    }
    State().changed.notify_all();
    object->Release();
}

// The calling thread's object with one more reference for the caller, made on first use; null
// when it cannot be made.
ThreadObject* ReferenceCurrentThread() {
    static pthread_key_t key;
    static const bool keyCreated = pthread_key_create(&key, ThreadEnded) == 0;
    if (!keyCreated) {
        return nullptr;
    }
    auto* object = static_cast<ThreadObject*>(pthread_getspecific(key));
    if (object == nullptr) {
        object = new (std::nothrow) ThreadObject;
        if (object == nullptr) {
            return nullptr;
        }
        if (pthread_setspecific(key, object) != 0) {
            object->Release();
            return nullptr;
        }
    }
    object->AddReference();
    return object;
}

}  // namespace

HANDLE GetCurrentProcess() {
    return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1));
}

HANDLE GetCurrentThread() {
    return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-2));
}

DWORD GetCurrentThreadId() {
    return static_cast<DWORD>(gettid());
}

DWORD GetCurrentProcessId() {
    return static_cast<DWORD>(getpid());
}

BOOL DuplicateHandle(HANDLE sourceProcess, HANDLE source, HANDLE targetProcess, LPHANDLE target,
                     DWORD, BOOL, DWORD options) {
    if (sourceProcess != GetCurrentProcess() || targetProcess != GetCurrentProcess()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    bool pseudo = source == GetCurrentThread();
    platform::KernelObject* object =
        pseudo ? ReferenceCurrentThread() : platform::HandleReference(source);
    // Windows closes the source whether or not the duplication succeeds.
    if (!pseudo && (options & DUPLICATE_CLOSE_SOURCE)) {
        CloseHandle(source);
    }
    if (object == nullptr) {
        SetLastError(pseudo ? ERROR_NOT_ENOUGH_MEMORY : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (target == nullptr) {  // allowed by Windows: the duplicate is made and dropped at once
        object->Release();
        return TRUE;
    }
    HANDLE duplicate = platform::HandleOpen(object);
    if (duplicate == nullptr) {
        return FALSE;
    }
    *target = duplicate;
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    ThreadObject* object = platform::HandleReferenceAs<ThreadObject>(handle);
    if (object == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    WaitState& state = State();
    bool signalled;
    {
        std::unique_lock<std::mutex> lock(state.lock);
        auto isSignalled = [object] { return object->signalled; };
        if (milliseconds == INFINITE) {
            state.changed.wait(lock, isSignalled);
            signalled = true;
        } else {
            signalled =
                state.changed.wait_for(lock, std::chrono::milliseconds(milliseconds), isSignalled);
        }
    }
    object->Release();
    return signalled ? WAIT_OBJECT_0 : static_cast<DWORD>(WAIT_TIMEOUT);
}

BOOL RegisterWaitForSingleObject(PHANDLE waitHandle, HANDLE handle, WAITORTIMERCALLBACK callback,
                                 PVOID context, ULONG milliseconds, ULONG flags) {
    if (waitHandle == nullptr || callback == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    ThreadObject* object = platform::HandleReferenceAs<ThreadObject>(handle);
    if (object == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    Wait* wait = StartService() ? new (std::nothrow)
                                      Wait(object, callback, context, milliseconds, flags)
                                : nullptr;
    if (wait == nullptr) {
        object->Release();
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    wait->AddReference();  // the service's, beside the handle's
    HANDLE entered = platform::HandleOpen(wait);
    if (entered == nullptr) {
        wait->Release();
        return FALSE;
    }
    WaitState& state = State();
    {
        std::lock_guard<std::mutex> guard(state.lock);
        wait->Arm();
        Append(state, wait);
    }
    state.changed.notify_all();
    *waitHandle = entered;
    return TRUE;
}

BOOL UnregisterWait(HANDLE waitHandle) {
    Wait* wait = platform::HandleReferenceAs<Wait>(waitHandle);
    if (wait == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    WaitState& state = State();
    bool alreadyUnregistered;
    bool running;
    {
        std::lock_guard<std::mutex> guard(state.lock);
        alreadyUnregistered = wait->unregistered;
        wait->unregistered = true;
        running = wait->phase == Wait::Phase::RUNNING;
        if (wait->phase == Wait::Phase::ARMED) {
            Unlink(state, wait);
            wait->phase = Wait::Phase::IDLE;
        }
    }
    if (alreadyUnregistered) {  // a racing UnregisterWait on the same handle won
        wait->Release();
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    CloseHandle(waitHandle);
    if (!running) {
        wait->Release();  // the service's reference; a running callback's is dropped after it
    }
    wait->Release();
    if (running) {
        // As on Windows: the wait is gone, but its callback has not finished yet.
        SetLastError(ERROR_IO_PENDING);
        return FALSE;
    }
    return TRUE;
}
