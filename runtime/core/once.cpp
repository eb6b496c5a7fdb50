// One-time initialisation.
//
// Where the system offers InitOnceExecuteOnce the flag is handed to it. Elsewhere (older systems,
// and the POSIX build, where no Windows DLL loads) the flag is a 32-bit state driven by interlocked
// operations: 0 not started, 1 running, 2 done; a thread that finds it running yields until it is
// done, so that no caller returns before the routine has completed.
#include "core.h"

namespace rt {

namespace {

using Routine = void (*)();

using InitOnceExecuteOnceFunction = BOOL(WINAPI*)(PINIT_ONCE, PINIT_ONCE_FN, PVOID, LPVOID*);

BOOL CALLBACK RunRoutine(PINIT_ONCE, PVOID parameter, PVOID*) {
    reinterpret_cast<Routine>(parameter)();
    return TRUE;
}

// Runs the routine through the system's one-time initialisation; false when it is unavailable.
// The function is looked up on every call, so that the program runs on systems without it.
bool RunWithSystem(OnceFlag* flag, Routine routine) {
    HMODULE kernel = LoadLibraryW(RT_TEXT("Kernel32.dll"));
    if (kernel == nullptr) {
        return false;
    }
    auto execute = reinterpret_cast<InitOnceExecuteOnceFunction>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "InitOnceExecuteOnce")));
    if (execute != nullptr) {
        execute(reinterpret_cast<PINIT_ONCE>(flag), RunRoutine, reinterpret_cast<PVOID>(routine),
                nullptr);
    }
    FreeLibrary(kernel);
    return execute != nullptr;
}

}  // namespace

void OnceRun(OnceFlag* flag, void (*routine)()) {
    if (RunWithSystem(flag, routine)) {
        return;
    }
    switch (InterlockedCompareExchange(&flag->state, 1, 0)) {
        case 0:
            routine();
            InterlockedExchange(&flag->state, 2);
            break;
        case 1:
            while (__atomic_load_n(&flag->state, __ATOMIC_ACQUIRE) != 2) {
                Sleep(0);
            }
            break;
        default:
            break;
    }
}

}  // namespace rt
