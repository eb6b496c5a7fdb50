// The windows of the GUI tests: each held by a TestWindow for its scope and destroyed at the
// scope's end, on the thread that made it.
#pragma once

#include <cstdint>

#include "runtime/core/core.h"

namespace rt::test {

// A top-level window of the calling thread: either a plain window of the tests' own class, which
// the runtime knows nothing of, or a runtime window opened with WindowOpen and closed with
// WindowClose.
class TestWindow {
  public:
    // A plain window, shown unless `visible` is false.
    explicit TestWindow(DWORD exStyle = 0, bool visible = true);
    // The runtime's window `number` (DYNAMIC_ID: a dynamic one), its client area 250 x 80 at
    // (x, y), captioned "File Encryption".
    static TestWindow Runtime(ObjectId number, uint32_t flags, int32_t x = 0, int32_t y = 0);
    ~TestWindow();
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;

    // The system window; for a runtime window, null once it has been closed.
    HWND Handle() const;
    // A runtime window's number (for a dynamic one, what WindowOpen returned) and what WindowOpen
    // returned for it.
    ObjectId Number() const { return number_; }
    int64_t Result() const { return result_; }

  private:
    TestWindow(ObjectId number, uint32_t flags, int32_t x, int32_t y);

    bool IsRuntime() const { return number_ != DYNAMIC_ID; }

    HWND plain_ = nullptr;
    int64_t result_ = 0;
    ObjectId number_ = DYNAMIC_ID;  // stays DYNAMIC_ID for a plain window
};

}  // namespace rt::test
