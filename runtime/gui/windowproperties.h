// The window properties through which the GUI libraries tie system windows to their own records:
// every property name the runtime uses, defined once, with the routines that encode and decode the
// window number. Windows only; shared by the gadget and window libraries.
//
// A property is set, read and removed on the thread that owns its window.
#pragma once

#include "../core/core.h"

namespace rt {

// On every window the window library opens: the window's number + 1, so that a missing property
// (read as 0) means "not a runtime window". It stays until the window's last message.
inline constexpr const WCHAR* WINDOW_ID_PROPERTY = L"RT_WindowID";
// On a runtime window: the control that had the focus when the window was last deactivated.
inline constexpr const WCHAR* WINDOW_FOCUS_PROPERTY = L"RT_Focus";
// On a gadget's control: its gadget id. A control counts as a gadget only while this equals its
// identifier.
inline constexpr const WCHAR* GADGET_ID_PROPERTY = L"RT_ID";
// On a window or control registered as a drop target: the registration is revoked by whoever
// removes the property.
inline constexpr const WCHAR* DROP_ACCEPT_PROPERTY = L"RT_DropAccept";
// On a control that captures key combinations: it gets every key, Tab included.
inline constexpr const WCHAR* HOTKEY_PROPERTY = L"RT_Hotkey";
// The name of a window's gadget-list record, formatted with the program's module handle.
inline constexpr const WCHAR* GADGET_STACK_PROPERTY_FORMAT = L"RT_GadgetStack_%I64i";

// The number read from a window that carries none.
constexpr ObjectId WINDOW_ID_NONE = -1;

inline void WindowIdPropertySet(HWND window, ObjectId number) {
    SetPropW(window, WINDOW_ID_PROPERTY, reinterpret_cast<HANDLE>(number + 1));
}

// The number `window` carries, or WINDOW_ID_NONE.
inline ObjectId WindowIdPropertyGet(HWND window) {
    return reinterpret_cast<int64_t>(GetPropW(window, WINDOW_ID_PROPERTY)) - 1;
}

// The runtime window that holds `window`: the window itself or its nearest ancestor that carries a
// number, which goes to `number`. When none does, the top of the parent chain (a window without a
// parent) and WINDOW_ID_NONE.
inline HWND WindowIdPropertyClimb(HWND window, ObjectId* number) {
    for (;;) {
        *number = WindowIdPropertyGet(window);
        HWND parent = *number == WINDOW_ID_NONE ? GetParent(window) : nullptr;
        if (parent == nullptr) {
            return window;
        }
        window = parent;
    }
}

}  // namespace rt
