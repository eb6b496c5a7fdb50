// The window procedure of every runtime window class: it turns the system messages that matter to
// a program into runtime events on the calling thread's queue, hands the messages that controls
// send to their parent back to the gadget they came from, and keeps a window's focused control
// across deactivation (the property "RT_Focus").
//
// It keeps no state of its own besides that property and the record's min-max state. It runs on
// the thread that owns the window, inside DispatchMessageW or whatever system call sent the
// message; the bindings of every event it adds run right there, and may close the window, so
// nothing of the window is touched after an event whose callbacks could have closed it.
#include "../gadgets/gadgets.h"
#include "window_internal.h"

namespace rt {

namespace {

// The runtime window a message belongs to: the window itself or its nearest ancestor that carries
// "RT_WindowID". number is -1 and object null when there is none; object is also null when the
// number is not live (for instance while the window is being closed).
struct WindowTarget {
    HWND window;
    ObjectId number;
    WindowObject* object;
};

WindowTarget WindowTargetFind(HWND window) {
    ObjectId number;
    HWND found = WindowIdPropertyClimb(window, &number);
    if (number == WINDOW_ID_NONE) {
        return {nullptr, WINDOW_ID_NONE, nullptr};
    }
    return {found, number, static_cast<WindowObject*>(RegistryLookup(WindowRegistry, number))};
}

void WindowEventAdd(const WindowTarget& target, int32_t code, int64_t object = 0,
                    int64_t type = 0) {
    EventQueueAdd(code, object, target.number, type);
}

// Only a window's own size messages count, and none before WindowOpen has finished. A burst of
// resizes leaves one size event, at its newest place.
LRESULT WindowSized(const WindowTarget& target, HWND window, WPARAM kind) {
    if (target.window != window) {
        return 1;
    }
    WindowObject* record = target.object;
    if (record == nullptr || !record->ready) {
        return GADGET_NOT_HANDLED;
    }
    switch (kind) {
        case SIZE_MINIMIZED:
            record->minMaxState = 1;
            WindowEventAdd(target, EVENT_WINDOW_MINIMIZED);
            return 0;
        case SIZE_MAXIMIZED:
            record->minMaxState = 1;
            WindowEventAdd(target, EVENT_WINDOW_MAXIMIZED);
            if (WindowStillOpen(target.number, record, window)) {
                WindowEventAdd(target, EVENT_WINDOW_SIZED);
            }
            return 0;
        case SIZE_RESTORED:
            if (record->minMaxState == 1) {
                record->minMaxState = 0;
                WindowEventAdd(target, EVENT_WINDOW_RESTORED);
                if (!WindowStillOpen(target.number, record, window)) {
                    return 0;  // closed by a callback: no size event for a window that is gone
                }
            }
            break;
        default:
            break;
    }
    EventQueueRemove(EVENT_WINDOW_SIZED, 0, target.number, 0);
    WindowEventAdd(target, EVENT_WINDOW_SIZED);
    return 0;
}

// The focus goes back to the control that had it at deactivation; the system's own activation,
// which would focus the window itself, does not run.
LRESULT WindowActivated(const WindowTarget& target, HWND window, WPARAM state) {
    if (LOWORD(state) != WA_INACTIVE) {
        // The remembered control may have been destroyed since, and its handle reused by a window
        // elsewhere: focusing that would activate a foreign window.
        auto focus = static_cast<HWND>(GetPropW(window, WINDOW_FOCUS_PROPERTY));
        if (focus != nullptr && (focus == window || IsChild(window, focus))) {
            SetFocus(focus);
        }
        WindowEventAdd(target, EVENT_WINDOW_ACTIVATED);
        return 1;
    }
    SetPropW(window, WINDOW_FOCUS_PROPERTY, GetFocus());
    KeyboardCues(window, false);
    WindowEventAdd(target, EVENT_WINDOW_DEACTIVATED);
    return 1;
}

// A control's notification becomes a gadget event unless its gadget handled it; an accelerator
// command is a focus move or a menu event.
LRESULT WindowCommand(const WindowTarget& target, HWND window, WPARAM wParam, LPARAM lParam) {
    auto control = reinterpret_cast<HWND>(lParam);
    if (GadgetForward(control, window, WM_COMMAND, wParam, lParam) != GADGET_NOT_HANDLED) {
        return 0;
    }
    if (control != nullptr) {
        WindowEventAdd(target, EVENT_GADGET, GetWindowLongPtrW(control, GWLP_ID), HIWORD(wParam));
    } else if (HIWORD(wParam) == 0) {
        WindowEventAdd(target, EVENT_MENU, static_cast<int64_t>(wParam));
    } else if (LOWORD(wParam) == CMD_FOCUS_NEXT) {
        FocusNavigate(false);
    } else if (LOWORD(wParam) == CMD_FOCUS_PREVIOUS) {
        FocusNavigate(true);
    } else {
        WindowEventAdd(target, EVENT_MENU, LOWORD(wParam));
    }
    return 0;
}

BOOL CALLBACK SysColorForward(HWND child, LPARAM) {
    SendMessageW(child, WM_SYSCOLORCHANGE, 0, 0);
    return TRUE;
}

LRESULT WindowDispatch(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    WindowTarget target = WindowTargetFind(window);
    bool own = target.object != nullptr && target.window == window;
    switch (message) {
        case WM_MOVE:
            if (own && target.object->ready) {
                WindowEventAdd(target, EVENT_WINDOW_MOVED, target.number);
            }
            return 0;
        case WM_SIZE:
            return WindowSized(target, window, wParam);
        case WM_ACTIVATE:
            return WindowActivated(target, window, wParam);
        case WM_CLOSE:
            // The window stays open until the program closes it.
            if (own) {
                WindowEventAdd(target, EVENT_CLOSE_WINDOW, target.number);
            }
            return 0;
        case WM_ERASEBKGND:
            // The default procedure still fills the background with the class brush.
            WindowEventAdd(target, EVENT_REPAINT);
            return GADGET_NOT_HANDLED;
        case WM_SYSCOLORCHANGE:
            if (target.object != nullptr) {
                EnumChildWindows(window, SysColorForward, 0);
            }
            return GADGET_NOT_HANDLED;
        case WM_GETMINMAXINFO:
            if (target.object == nullptr) {
                return GADGET_NOT_HANDLED;
            }
            // A tool window may be narrowed down to its border.
            if (GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW) {
                reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize.x = 1;
            }
            return 0;
        case WM_NOTIFY:
            if (lParam == 0) {
                return GADGET_NOT_HANDLED;
            }
            return GadgetForward(reinterpret_cast<NMHDR*>(lParam)->hwndFrom, window, message,
                                 wParam, lParam);
        case WM_NCDESTROY:
            // The window's last message: its number goes only now, so that the events of its
            // destruction still name it and WindowClose drops them.
            RemovePropW(window, WINDOW_FOCUS_PROPERTY);
            RemovePropW(window, WINDOW_ID_PROPERTY);
            return 1;
        case WM_COMMAND:
            return WindowCommand(target, window, wParam, lParam);
        case WM_TIMER:
            if (target.object == nullptr) {
                return GADGET_NOT_HANDLED;
            }
            WindowEventAdd(target, EVENT_TIMER, static_cast<int64_t>(wParam));
            return 0;
        case WM_HSCROLL:
        case WM_VSCROLL:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORSTATIC:
            return GadgetForward(reinterpret_cast<HWND>(lParam), window, message, wParam, lParam);
        case WM_LBUTTONUP:
            WindowEventAdd(target, EVENT_LEFT_CLICK);
            return 0;
        case WM_LBUTTONDBLCLK:
            WindowEventAdd(target, EVENT_LEFT_DOUBLE_CLICK);
            return 0;
        case WM_RBUTTONUP:
            WindowEventAdd(target, EVENT_RIGHT_CLICK);
            return 0;
        default:
            return GADGET_NOT_HANDLED;
    }
}

}  // namespace

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = WindowDispatch(window, message, wParam, lParam);
    SetLastError(0);
    if (result == GADGET_NOT_HANDLED) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    return result;
}

}  // namespace rt
