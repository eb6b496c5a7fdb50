// Keyboard navigation: runtime windows are plain top-level windows, not dialog boxes, so Tab and
// Shift+Tab reach them as the accelerator commands of every window's table and are turned into
// focus moves here; the focus rectangles and accelerator underlines are shown and hidden here too.
//
// No state outlives a call. Everything runs on the thread that owns the windows, inside the event
// wait or the window procedure.
#include "../../strings/strings.h"
#include "window_internal.h"

namespace rt {

namespace {

constexpr UINT RICH_EDIT_GET_OPTIONS = WM_USER + 78;
constexpr LRESULT RICH_EDIT_READ_ONLY = 0x800;
constexpr UINT COMBO_EX_ONE_STOP_STYLE = 0x1;  // CBS_SIMPLE or CBS_DROPDOWNLIST
constexpr int FOCUS_CLASS_NAME_UNITS = 50;
constexpr WPARAM CUES_SHOW = MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS | UISF_HIDEACCEL);
constexpr WPARAM CUES_HIDE = MAKEWPARAM(UIS_SET, UISF_HIDEFOCUS | UISF_HIDEACCEL);

bool KeyDown(int key) {
    return GetKeyState(key) < 0;
}

bool ClassNameIs(HWND window, const WCHAR* expected) {
    WCHAR name[FOCUS_CLASS_NAME_UNITS];
    int units = GetClassNameW(window, name, FOCUS_CLASS_NAME_UNITS);
    return units > 0 && StringEqual(name, expected);
}

// An editable rich-text control takes the plain Tab key as a character.
bool FocusTakesTab(HWND focus) {
    WCHAR prefix[5];
    if (GetClassNameW(focus, prefix, 5) < 4 || prefix[0] != L'R' || prefix[1] != L'i' ||
        prefix[2] != L'c' || prefix[3] != L'h') {
        return false;
    }
    return (SendMessageW(focus, RICH_EDIT_GET_OPTIONS, 0, 0) & RICH_EDIT_READ_ONLY) == 0;
}

// The state of one focus move. current is the control treated as focused (null: none).
struct FocusWalk {
    HWND current;
    HWND last;
    bool takeNext;
    bool done;
};

bool FocusEligible(HWND window) {
    return IsWindowEnabled(window) && IsWindowVisible(window) &&
           (GetWindowLongPtrW(window, GWL_STYLE) & WS_TABSTOP) != 0;
}

// The current control is recognised even when it is no tab stop itself (a control focused by a
// click or by the program), so that Tab still moves on from it to the next tab stop.
BOOL CALLBACK FocusForward(HWND window, LPARAM state) {
    auto* walk = reinterpret_cast<FocusWalk*>(state);
    if (walk->current != nullptr && window == walk->current) {
        walk->takeNext = true;
        return TRUE;
    }
    if (!FocusEligible(window)) {
        return TRUE;
    }
    if (walk->takeNext || walk->current == nullptr) {
        SetFocus(window);
        walk->takeNext = false;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK FocusBackward(HWND window, LPARAM state) {
    auto* walk = reinterpret_cast<FocusWalk*>(state);
    if (window == walk->current && walk->last != nullptr) {
        SetFocus(walk->last);
        walk->done = true;
        return FALSE;
    }
    if (FocusEligible(window)) {
        walk->last = window;
    }
    return TRUE;
}

}  // namespace

HACCEL ActiveAccelerators(HWND active) {
    HWND focus = GetFocus();
    bool modifier = KeyDown(VK_CONTROL) || KeyDown(VK_SHIFT) || KeyDown(VK_MENU);
    if (focus != nullptr && KeyDown(VK_TAB) && !modifier && FocusTakesTab(focus)) {
        return nullptr;
    }
    if (active != nullptr && modifier) {
        KeyboardCues(active, true);
    }
    // A control that captures key combinations gets every key, Tab included.
    if (focus != nullptr && GetPropW(focus, HOTKEY_PROPERTY) != nullptr) {
        return nullptr;
    }
    ObjectId number = active != nullptr ? WindowIdPropertyGet(active) : WINDOW_ID_NONE;
    if (number == WINDOW_ID_NONE) {
        return nullptr;
    }
    // A number on another process's window names none of ours.
    DWORD process = 0;
    if (GetWindowThreadProcessId(active, &process) == 0 || process != GetCurrentProcessId()) {
        return nullptr;
    }
    auto* record = static_cast<WindowObject*>(RegistryLookup(WindowRegistry, number));
    return record != nullptr ? record->acceleratorTable : nullptr;
}

void KeyboardCues(HWND window, bool show) {
    LRESULT state = SendMessageW(window, WM_QUERYUISTATE, 0, 0);
    if (show) {
        if (state & (UISF_HIDEFOCUS | UISF_HIDEACCEL)) {
            SendMessageW(window, WM_CHANGEUISTATE, CUES_SHOW, 0);
        }
    } else if ((state & (UISF_HIDEFOCUS | UISF_HIDEACCEL)) != (UISF_HIDEFOCUS | UISF_HIDEACCEL)) {
        SendMessageW(window, WM_CHANGEUISTATE, CUES_HIDE, 0);
    }
}

void FocusNavigate(bool backward) {
    HWND active = GetActiveWindow();
    if (active == nullptr) {
        // Enumerating the children of no window would walk every top-level window on the desktop.
        return;
    }
    HWND focus = GetFocus();
    HWND root = active;
    FocusWalk walk = {nullptr, nullptr, false, false};
    if (IsChild(active, focus)) {
        walk.current = focus;
        // Composite controls count as one stop; an MDI child keeps the focus cycling inside it.
        for (HWND window = focus; window != nullptr && window != active;
             window = GetParent(window)) {
            if (ClassNameIs(window, L"MDI_ChildClass")) {
                root = window;
                if (window == focus) {
                    walk.current = nullptr;
                }
            } else if (ClassNameIs(window, L"ComboBoxEx32")) {
                if (GetWindowLongPtrW(window, GWL_STYLE) & COMBO_EX_ONE_STOP_STYLE) {
                    walk.current = window;
                }
            } else if (ClassNameIs(window, L"SysIPAddress32")) {
                walk.current = window;
            }
        }
    }
    LPARAM state = reinterpret_cast<LPARAM>(&walk);
    if (!backward) {
        EnumChildWindows(root, FocusForward, state);
        if (walk.takeNext) {
            // The current control was the last stop: wrap to the first.
            EnumChildWindows(root, FocusForward, state);
        }
        return;
    }
    EnumChildWindows(root, FocusBackward, state);
    if (!walk.done && walk.last != nullptr) {
        // No stop before the current one, or no current one: wrap to the last.
        SetFocus(walk.last);
    }
}

}  // namespace rt
