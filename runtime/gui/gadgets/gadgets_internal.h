// Helpers shared by the units of the gadget library; nothing outside the library includes this.
#pragma once

#include "gadgets.h"

namespace rt {

// The identifier of a control that is not (or no longer) a registered gadget: a button is created
// with it and carries it again once its clean-up has run.
constexpr LONG_PTR GADGET_UNREGISTERED_ID = -1;

// The calling thread's gadget state.
inline GadgetThreadState* GadgetThread() {
    return static_cast<GadgetThreadState*>(ThreadDataGet(GadgetThreadDataOffset));
}

// Gives the thread state a new, empty parent stack; false (nothing changed) when it cannot be
// allocated.
bool GadgetParentStackAlloc(GadgetThreadState* state);

// A window's display context, held for the scope.
class WindowDc {
  public:
    explicit WindowDc(HWND window) : window_(window), dc_(GetDC(window)) {}
    ~WindowDc() { ReleaseDC(window_, dc_); }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;

    HDC Get() const { return dc_; }

  private:
    HWND window_;
    HDC dc_;
};

// An object selected into a display context for the scope; the one it replaced goes back at the
// end.
class DcSelection {
  public:
    DcSelection(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
    ~DcSelection() { SelectObject(dc_, previous_); }
    DcSelection(const DcSelection&) = delete;
    DcSelection& operator=(const DcSelection&) = delete;

  private:
    HDC dc_;
    HGDIOBJ previous_;
};

}  // namespace rt
