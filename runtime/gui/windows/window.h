// The window library: top-level windows under numbers, the window procedure that turns system
// messages into runtime events, keyboard navigation between a window's controls, and the event
// wait through which a program's loop receives events. Windows only.
//
// Windows belong to the thread that opened them; everything here runs on that thread. The window
// registry guards itself with its own lock. A window is reached from its system handle through
// the property "RT_WindowID" (number + 1).
#pragma once

#include <cstdint>

#include "../../core/core.h"
#include "../events/events.h"

namespace rt {

// Flags of WindowOpen that the library consumes; every other bit is a window style bit.
constexpr uint32_t WINDOW_SCREEN_CENTRED = 0x1;
constexpr uint32_t WINDOW_ACTIVE_CENTRED = 0x2;
constexpr uint32_t WINDOW_TOOL = 0x4;
constexpr uint32_t WINDOW_NO_GADGET_LIST = 0x8;
constexpr uint32_t WINDOW_NO_ACTIVATE = 0x2000000;
constexpr uint32_t WINDOW_INVISIBLE = 0x10000000;
constexpr uint32_t WINDOW_DEFAULT_FLAGS = WS_CAPTION | WS_SYSMENU;
static_assert(WINDOW_DEFAULT_FLAGS == 0xC80000);

// A coordinate that asks for the system's default position.
constexpr int32_t WINDOW_POS_DEFAULT = -65535;

// The commands of the Tab and Shift+Tab accelerators of every window.
constexpr WORD CMD_FOCUS_NEXT = 64001;
constexpr WORD CMD_FOCUS_PREVIOUS = 64002;

// A window's record in the window registry (88 bytes, zero-filled when handed out).
struct WindowObject {
    HWND handle;  // non-null while the window exists
    ACCEL* acceleratorEntries;
    HACCEL acceleratorTable;
    int32_t acceleratorCount;
    int32_t minMaxState;  // 1 while minimised or maximised
    int32_t ready;        // 1 once WindowOpen has finished
    uint8_t unused[52];
};
static_assert(sizeof(WindowObject) == 88);

extern ObjectRegistry* WindowRegistry;

void WindowLibraryStart();
void WindowLibraryEnd();
// Opens a top-level window whose client area is width x height: the new window's number for
// DYNAMIC_ID, its system handle for a number; 0 on failure.
int64_t WindowOpen(ObjectId number, int32_t x, int32_t y, int32_t width, int32_t height,
                   const WCHAR* title, uint32_t flags = WINDOW_DEFAULT_FLAGS);
// Closes one window; DYNAMIC_ID closes every window.
void WindowClose(ObjectId number);
// The window's number, or -1 for a window that is not a runtime window.
int64_t WindowNumberFromHandle(HWND window);
WindowObject* WindowFromHandle(HWND window);
void WindowCentre(HWND window, uint32_t flags);
// 5 when desktop composition was enabled when first asked, else 0.
int32_t CompositionOffset();

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The accelerator table that applies to the active window, or null.
HACCEL ActiveAccelerators(HWND active);
void KeyboardCues(HWND window, bool show);
void FocusNavigate(bool backward);

// The oldest queued runtime event's code, else the number of one fetched and dispatched system
// message, else 0 once the time-out (-1: none, 0: no wait, else milliseconds) has passed.
int64_t EventWait(int32_t timeout);

}  // namespace rt
