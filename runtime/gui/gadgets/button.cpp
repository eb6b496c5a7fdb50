// The push button: creation in the calling thread's current gadget list and the three operations
// of its kind table.
//
// ButtonKind is process-wide and filled by the first creation; it is not locked, since every
// thread that fills it writes the same values. A button belongs to the gadget registry from its
// registration until its control's WM_NCDESTROY.
#include <algorithm>
#include <cstring>

#include "gadgets_internal.h"

namespace rt {

GadgetKind ButtonKind;

namespace {

// Child, visible, first of a group and reached by Tab, on top of the plain push-button style.
constexpr DWORD BUTTON_STYLE = WS_CHILD | WS_VISIBLE | WS_GROUP | WS_TABSTOP | BS_PUSHBUTTON;
// Room around the caption beyond the edges: the text never touches the button's frame.
constexpr int32_t BUTTON_CAPTION_MARGIN = 10;
// A button lower than this looks cramped next to the system's own buttons, whatever its font.
constexpr int32_t BUTTON_MIN_HEIGHT = 24;

bool buttonKindFilled = false;

void ButtonKindFill() {
    std::memset(&ButtonKind, 0, sizeof(ButtonKind));
    ButtonKind.kindCode = GADGET_KIND_BUTTON;
    ButtonKind.size = sizeof(GadgetKind);
    ButtonKind.getState = ButtonGetState;
    ButtonKind.setState = ButtonSetState;
    ButtonKind.requiredSize = ButtonRequiredSize;
    buttonKindFilled = true;
}

}  // namespace

int64_t ButtonCreate(ObjectId number, int32_t x, int32_t y, int32_t width, int32_t height,
                     const WCHAR* text) {
    return ButtonCreateEx(number, x, y, width, height, text, 0);
}

int64_t ButtonCreateEx(ObjectId number, int32_t x, int32_t y, int32_t width, int32_t height,
                       const WCHAR* text, uint32_t flags) {
    GadgetThreadState* state = GadgetThread();
    if (!buttonKindFilled) {
        ButtonKindFill();
    }
    // The control is made before the registry is touched: when it cannot be made (no gadget list
    // is current, for one), a gadget that already has the number stays as it was.
    HWND control =
        CreateWindowExW(0, L"Button", text != nullptr ? text : L"", flags | BUTTON_STYLE, x, y,
                        width, height, state->currentParent,
                        reinterpret_cast<HMENU>(GADGET_UNREGISTERED_ID), ModuleHandle, nullptr);
    if (control == nullptr) {
        return 0;
    }
    // Reusing a live number destroys the old control in here; its record comes back zero-filled.
    auto* record = static_cast<GadgetRecord*>(RegistryCreate(GadgetRegistry, number));
    if (record == nullptr) {
        // A number below DYNAMIC_ID, or no memory for the record: the control would be a button
        // that no number reaches.
        DestroyWindow(control);
        return 0;
    }
    return GadgetRegister(number, record, control, &ButtonKind);
}

int64_t ButtonGetState(GadgetRecord* gadget) {
    // Bit 0 alone: BST_INDETERMINATE (2) and the pushed bit are not "checked".
    return SendMessageW(gadget->window, BM_GETCHECK, 0, 0) & BST_CHECKED;
}

void ButtonSetState(GadgetRecord* gadget, int64_t state) {
    SendMessageW(gadget->window, BM_SETCHECK, state != 0 ? BST_CHECKED : BST_UNCHECKED, 0);
}

void ButtonRequiredSize(GadgetRecord* gadget, int32_t* width, int32_t* height) {
    HWND control = gadget->window;
    *width = 0;
    *height = 0;
    // The caption is measured in the control's own font, which need not be the thread's.
    WindowDc dc(control);
    DcSelection font(dc.Get(), reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0)));
    int lengthUnits = GetWindowTextLengthW(control);
    MainHeapBlock<WCHAR> caption(
        static_cast<WCHAR*>(HeapAlloc(MainHeap, 0, (lengthUnits + 1) * sizeof(WCHAR))));
    if (caption == nullptr) {
        return;
    }
    // The length above may exceed the text (it is an upper bound): only what was copied is
    // measured, never the uninitialised rest of the buffer.
    int copiedUnits = GetWindowTextW(control, caption.get(), lengthUnits + 1);
    SIZE extent{};
    GetTextExtentPoint32W(dc.Get(), caption.get(), copiedUnits, &extent);
    *width = extent.cx + 2 * GetSystemMetrics(SM_CXEDGE) + BUTTON_CAPTION_MARGIN;
    *height = std::max(static_cast<int32_t>(extent.cy) + 2 * GetSystemMetrics(SM_CYEDGE),
                       BUTTON_MIN_HEIGHT);
}

}  // namespace rt
