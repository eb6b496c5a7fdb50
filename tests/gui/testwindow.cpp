#include "testwindow.h"

#include "runtime/gui/windows/window.h"

namespace rt::test {

TestWindow::TestWindow(DWORD exStyle, bool visible) {
    static ATOM windowClass = [] {
        WNDCLASSEXW description = {};
        description.cbSize = sizeof(description);
        description.lpfnWndProc = DefWindowProcW;
        description.hInstance = GetModuleHandleW(nullptr);
        description.lpszClassName = L"RequesterTestWindow";
        return RegisterClassExW(&description);
    }();
    plain_ = CreateWindowExW(exStyle, MAKEINTATOM(windowClass), L"Test window",
                             WS_OVERLAPPEDWINDOW | (visible ? WS_VISIBLE : 0), 10, 10, 200, 100,
                             nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
}

TestWindow::TestWindow(ObjectId number, uint32_t flags, int32_t x, int32_t y)
    : result_(WindowOpen(number, x, y, 250, 80, L"File Encryption", flags)),
      number_(number == DYNAMIC_ID ? result_ : number) {}

TestWindow TestWindow::Runtime(ObjectId number, uint32_t flags, int32_t x, int32_t y) {
    return TestWindow(number, flags, x, y);
}

TestWindow::~TestWindow() {
    if (IsRuntime()) {
        WindowClose(number_);
    } else {
        DestroyWindow(plain_);
    }
}

HWND TestWindow::Handle() const {
    if (!IsRuntime()) {
        return plain_;
    }
    auto* record = static_cast<WindowObject*>(RegistryLookup(WindowRegistry, number_));
    return record != nullptr ? record->handle : nullptr;
}

}  // namespace rt::test
