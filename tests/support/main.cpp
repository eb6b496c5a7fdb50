#include <gtest/gtest.h>

#include <chrono>

#include "support/support.h"

namespace rt::test {

int Main(int argc, char** argv, void (*start)()) {
    testing::InitGoogleTest(&argc, argv);
    MainHeap = HeapCreate(0, 4096, 0);
    if (start != nullptr) {
        start();
    }
    return RUN_ALL_TESTS();
}

bool WaitUntil(const std::function<bool()>& condition) {
    auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > giveUp) {
            return false;
        }
        Sleep(1);
    }
    return true;
}

#if RT_HAS_ALLOCATION_HOOK
int SweepAllocationFailures(const std::function<bool(int nth)>& attempt) {
    for (int nth = 1;; ++nth) {
        PlatformFailAllocation(nth);
        bool succeeded = attempt(nth);
        bool failed = !PlatformAllocationFailurePending();
        PlatformFailAllocation(0);
        if (!failed) {
            EXPECT_TRUE(succeeded) << "the operation failed although no allocation did";
            return nth - 1;
        }
    }
}
#endif

}  // namespace rt::test
