// The event wait of the utility's loop, under real windows: the processor time that an idle loop of
// EventWait(1) uses per second of wall time (with how often it wakes), and the time from a posted
// BM_CLICK on a push button to the EVENT_GADGET that the wait hands out. Both come from one run
// and are printed as ratios: processor time to wall time, and press latency to the 1 ms poll.
// Argument "idle" measures only the idle loop (bench/eventwait_run.sh runs that while it samples
// the Wine server's own processor time), "press" only the press.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "runtime/gui/gadgets/gadgets.h"
#include "runtime/gui/windows/window.h"
#include "runtime/libraries/libraries.h"

namespace {

using Clock = std::chrono::steady_clock;

double ProcessSeconds() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto seconds = [](const FILETIME& time) {
        return static_cast<double>((static_cast<uint64_t>(time.dwHighDateTime) << 32) |
                                   time.dwLowDateTime) /
               1e7;
    };
    return seconds(kernel) + seconds(user);
}

void MeasureIdle(double wallSeconds) {
    int64_t calls = 0;
    int64_t timeouts = 0;
    double cpuStart = ProcessSeconds();
    auto start = Clock::now();
    std::chrono::duration<double> elapsed{};
    do {
        timeouts += rt::EventWait(1) == 0 ? 1 : 0;
        calls += 1;
        elapsed = Clock::now() - start;
    } while (elapsed.count() < wallSeconds);
    double cpu = ProcessSeconds() - cpuStart;
    std::printf(
        "idle EventWait(1): %.2f s wall, %.1f ms processor time per wall second "
        "(ratio %.4f), %.0f calls and %.0f time-outs per second\n",
        elapsed.count(), cpu * 1000 / elapsed.count(), cpu / elapsed.count(),
        static_cast<double>(calls) / elapsed.count(),
        static_cast<double>(timeouts) / elapsed.count());
}

void MeasurePress(HWND button, int presses) {
    std::vector<double> micros;
    for (int press = 0; press < presses; ++press) {
        while (rt::EventWait(0) != 0) {
        }
        auto start = Clock::now();
        PostMessageW(button, BM_CLICK, 0, 0);
        int64_t code = 0;
        for (int call = 0; call < 1000 && code != rt::EVENT_GADGET; ++call) {
            code = rt::EventWait(1);
        }
        if (code != rt::EVENT_GADGET || rt::EventGadgetId() != 2) {
            std::printf("press %d: no EVENT_GADGET for gadget 2\n", press);
            return;
        }
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    std::sort(micros.begin(), micros.end());
    double sum = 0;
    for (double value : micros) {
        sum += value;
    }
    double median = micros[micros.size() / 2];
    std::printf(
        "BM_CLICK to EVENT_GADGET: median %.1f us, mean %.1f us, 95th percentile %.1f us "
        "over %d presses (median to the 1 ms poll: %.3f)\n",
        median, sum / static_cast<double>(micros.size()), micros[micros.size() * 95 / 100], presses,
        median / 1000);
}

}  // namespace

int main(int argc, char** argv) {
    bool idle = argc < 2 || std::strcmp(argv[1], "press") != 0;
    bool press = argc < 2 || std::strcmp(argv[1], "idle") != 0;
    rt::MainHeap = HeapCreate(0, 4096, 0);
    rt::ModuleHandle = GetModuleHandleW(nullptr);
    rt::LibrariesStart(rt::Library::GADGETS);
    rt::WindowOpen(0, 0, 0, 250, 80, L"File Encryption",
                   rt::WINDOW_DEFAULT_FLAGS | rt::WINDOW_SCREEN_CENTRED);
    auto button = reinterpret_cast<HWND>(rt::ButtonCreate(2, 15, 15, 100, 50, L"Encrypt File"));
    // The window's first messages (paint, activation) are served before anything is measured.
    for (int call = 0; call < 100; ++call) {
        rt::EventWait(1);
    }
    if (idle) {
        MeasureIdle(3.0);
    }
    if (press) {
        MeasurePress(button, 2000);
    }
    rt::LibrariesEnd(rt::Library::GADGETS);
    return 0;
}
