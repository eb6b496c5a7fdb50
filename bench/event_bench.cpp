// The event path of one button press: the window procedure adds EVENT_GADGET, the event wait takes
// it, the program reads the gadget number. Measured with the bindings map empty, as in the
// utility, and with a binding under another key, which makes every add and take format and look
// up the event's five keys. Prints nanoseconds per event and the ratio of the two.
#include <chrono>
#include <cstdio>

#include "runtime/gui/events/events.h"
#include "runtime/libraries/libraries.h"

namespace {

using Clock = std::chrono::steady_clock;

int64_t sink = 0;  // results feed it, so that no work is optimised away

void Unrelated() {
    sink += 1;
}

// Runs press after press until at least 0.5 s have passed; nanoseconds per press.
double MeasurePresses() {
    constexpr int64_t PER_ROUND = 10000;
    int64_t rounds = 0;
    auto start = Clock::now();
    std::chrono::duration<double> elapsed{};
    do {
        for (int64_t i = 0; i < PER_ROUND; ++i) {
            rt::EventQueueAdd(rt::EVENT_GADGET, 2, 0, 0);
            sink += rt::EventQueueTake();
            sink += rt::EventGadgetId();
        }
        rounds += 1;
        elapsed = Clock::now() - start;
    } while (elapsed.count() < 0.5);
    return elapsed.count() * 1e9 / static_cast<double>(rounds * PER_ROUND);
}

}  // namespace

int main() {
    rt::MainHeap = HeapCreate(0, 4096, 0);
    rt::LibrariesStart(rt::Library::EVENTS);

    double empty = MeasurePresses();
    rt::EventBind(rt::EVENT_MENU, -1, -1, -1, Unrelated);
    double bound = MeasurePresses();
    std::printf("one press, bindings map empty          %8.1f ns\n", empty);
    std::printf("one press, five keys looked up         %8.1f ns   ratio %.1f\n", bound,
                bound / empty);
    return sink == 42 ? 1 : 0;
}
