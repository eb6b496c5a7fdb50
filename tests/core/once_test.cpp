#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "support/support.h"

namespace rt {
namespace {

std::atomic<int> runs{0};
std::atomic<bool> finished{false};

void SlowRoutine() {
    runs += 1;
    Sleep(100);  // long enough for every other caller to arrive while it runs
    finished = true;
}

TEST(OnceRun, RacingCallersRunTheRoutineOnceAndReturnAfterIt) {
    static OnceFlag flag;
    runs = 0;
    finished = false;
    std::atomic<int> returnedEarly{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&] {
            while (!go) {
            }
            OnceRun(&flag, SlowRoutine);
            if (!finished) {
                returnedEarly += 1;
            }
        });
    }
    go = true;
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(returnedEarly, 0);

    OnceRun(&flag, SlowRoutine);  // done: returns at once without running it again
    EXPECT_EQ(runs, 1);
}

TEST(OnceRun, EachFlagRunsItsOwnRoutine) {
    static OnceFlag first;
    static OnceFlag second;
    static int count;
    count = 0;
    OnceRun(&first, [] { count += 1; });
    OnceRun(&second, [] { count += 10; });
    OnceRun(&first, [] { count += 100; });
    EXPECT_EQ(count, 11);
}

}  // namespace
}  // namespace rt
