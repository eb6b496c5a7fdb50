// The runtime's fatal stop: the one way the runtime ends the program when it cannot go on, and
// the clean-up that work in progress registers so that the stop does not leave it half done.
//
// The clean-up is published with a release store and taken with an acquire exchange, so a stop on
// any thread sees the routine and its context whole, and runs it at most once.
#include <atomic>
#include <cstdlib>

#include "core.h"

namespace rt {

namespace {

std::atomic<FatalStopCleanup*> cleanupAtStop{nullptr};

}  // namespace

FatalStopCleanup* FatalStopCleanupSet(FatalStopCleanup* cleanup) {
    return cleanupAtStop.exchange(cleanup, std::memory_order_acq_rel);
}

void FatalStop(const WCHAR* message) {
    if (FatalStopCleanup* cleanup = cleanupAtStop.exchange(nullptr, std::memory_order_acquire)) {
        cleanup->routine(cleanup->context);
    }
    FatalAppExitW(0, message);
    std::abort();  // not reached: Windows declares FatalAppExitW without saying it never returns
}

}  // namespace rt
