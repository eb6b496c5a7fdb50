// Helpers of the window library's tests: messages dispatched past the event wait and keys pressed
// through the system's input queue (the windows' holders are in testwindow.h, the event tables in
// eventtest.h). Everything runs on the test thread, which owns the windows.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "../events/eventtest.h"
#include "../testwindow.h"
#include "runtime/gui/gadgets/gadgets.h"
#include "runtime/gui/windows/window.h"

namespace rt::test {

// Dispatches every pending message without the event wait, so that the queue keeps its events.
inline void DispatchPending() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

// Presses the keys in order and releases them in reverse, through the system's input queue.
inline void PressKeys(std::vector<WORD> keys) {
    std::vector<INPUT> inputs;
    for (WORD key : keys) {
        inputs.push_back({INPUT_KEYBOARD, {.ki = {key, 0, 0, 0, 0}}});
    }
    for (auto key = keys.rbegin(); key != keys.rend(); ++key) {
        inputs.push_back({INPUT_KEYBOARD, {.ki = {*key, 0, KEYEVENTF_KEYUP, 0, 0}}});
    }
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

// What successive EventWait(0) calls return until one returns 0 (at most 200 calls).
inline std::vector<int64_t> WaitResults() {
    std::vector<int64_t> results;
    for (int call = 0; call < 200; ++call) {
        int64_t result = EventWait(0);
        if (result == 0) {
            break;
        }
        results.push_back(result);
    }
    return results;
}

}  // namespace rt::test
