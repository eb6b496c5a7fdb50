// Windows under numbers: every window has a class of its own ("WindowClass_<number>"), an
// accelerator table with the Tab and Shift+Tab keys, and the property "RT_WindowID" that leads from
// its handle back to its number.
//
// The window registry owns the records; a record is live from WindowOpen until WindowClose gives
// it back. The accelerator entries belong to the record and live in MainHeap. The start and end
// routines run on the main thread; every other operation runs on the thread that owns the window.
// The composition probe's flag and value are process-wide and written once, unlocked.
#include "../../strings/strings.h"
#include "../gadgets/gadgets.h"
#include "window_internal.h"

namespace rt {

ObjectRegistry* WindowRegistry = nullptr;

namespace {

constexpr int32_t WINDOW_RECORD_GROWTH = 16;
constexpr int32_t WINDOW_THREAD_SECTION_SIZES[2] = {40, 92};
constexpr int32_t WINDOW_ACCELERATOR_COUNT = 2;
// "WindowClass_" and a signed 64-bit number in decimal, with room to spare.
constexpr int WINDOW_CLASS_NAME_UNITS = 40;
constexpr uint32_t WINDOW_CONSUMED_BITS =
    WINDOW_SCREEN_CENTRED | WINDOW_ACTIVE_CENTRED | WINDOW_TOOL;  // never part of the system style
constexpr uint32_t WINDOW_TOOL_STYLE_MASK = 0xDEFCFFFF;
constexpr uint32_t WINDOW_SIZEABLE_CAPTION = WS_CAPTION | WS_THICKFRAME;
constexpr uint32_t WINDOW_MIN_MAX_STYLE = WS_MAXIMIZE | WS_MINIMIZE;
constexpr UINT WINDOW_CENTRE_POSITION = SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE;
constexpr WORD WINDOW_ARROW_CURSOR = 0x7F00;  // IDC_ARROW, whose macro is a narrow string

HICON windowIcon = nullptr;
HCURSOR windowCursor = nullptr;

bool compositionProbed = false;
BOOL compositionEnabled = FALSE;

void WindowClassName(WCHAR (&name)[WINDOW_CLASS_NAME_UNITS], ObjectId number) {
    FormatString(name, L"WindowClass_%I64d", number);
}

void WindowClassRegister(const WCHAR* name) {
    WNDCLASSW windowClass = {};
    windowClass.style = CS_DBLCLKS;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = ModuleHandle;
    windowClass.hIcon = windowIcon;
    windowClass.hCursor = windowCursor;
    windowClass.lpszClassName = name;
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    // A class left behind under the same name is used as it is.
    RegisterClassW(&windowClass);
}

// The system style, extended style and showing of a window asked for with `flags`.
struct WindowStyle {
    uint32_t style;
    uint32_t extendedStyle;
    bool show;
    bool activate;
};

WindowStyle WindowStyleFromFlags(uint32_t flags) {
    WindowStyle result = {flags & ~WINDOW_NO_GADGET_LIST, 0, true, true};
    if ((result.style & ~(WINDOW_SCREEN_CENTRED | WINDOW_ACTIVE_CENTRED | WINDOW_INVISIBLE)) == 0) {
        // Only centring or visibility asked for: the window still gets a title bar.
        result.style |= WS_CAPTION;
    }
    if (result.style & WINDOW_INVISIBLE) {
        result.style &= ~WINDOW_INVISIBLE;
        result.show = false;
    }
    result.activate = (result.style & WINDOW_NO_ACTIVATE) == 0;
    if (result.style & WINDOW_TOOL) {
        result.extendedStyle = WS_EX_TOOLWINDOW;
        result.style = (result.style & WINDOW_TOOL_STYLE_MASK) | WS_CAPTION;
    }
    return result;
}

int WindowShowCommand(const WindowStyle& style) {
    if (style.style & WS_MAXIMIZE) {
        return style.activate ? SW_SHOWMAXIMIZED : SW_SHOWNA;
    }
    if (style.style & WS_MINIMIZE) {
        return style.activate ? SW_SHOWMINIMIZED : SW_SHOWMINNOACTIVE;
    }
    return style.activate ? SW_SHOWNORMAL : SW_SHOWNOACTIVATE;
}

// Tab and Shift+Tab, turned into the focus commands by the event wait.
bool WindowAcceleratorsCreate(WindowObject* record) {
    auto* entries = static_cast<ACCEL*>(
        HeapAlloc(MainHeap, HEAP_ZERO_MEMORY, WINDOW_ACCELERATOR_COUNT * sizeof(ACCEL)));
    if (entries == nullptr) {
        return false;
    }
    entries[0] = {FVIRTKEY | FNOINVERT, VK_TAB, CMD_FOCUS_NEXT};
    entries[1] = {FVIRTKEY | FNOINVERT | FSHIFT, VK_TAB, CMD_FOCUS_PREVIOUS};
    record->acceleratorEntries = entries;
    record->acceleratorTable = CreateAcceleratorTableW(entries, WINDOW_ACCELERATOR_COUNT);
    return true;
}

}  // namespace

void WindowLibraryStart() {
    WindowRegistry = RegistryNew(sizeof(WindowObject), WINDOW_RECORD_GROWTH, WindowClose);
    // Two sections that no window operation reads or writes, reserved in the start order's layout
    // of the per-thread record: the gadget section after them lies where that layout puts it.
    for (int32_t size : WINDOW_THREAD_SECTION_SIZES) {
        ThreadDataRegister(size, nullptr, nullptr);
    }
    windowIcon = LoadIconW(ModuleHandle, MAKEINTRESOURCEW(1));
    windowCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(WINDOW_ARROW_CURSOR));
}

void WindowLibraryEnd() {
    // Every window goes, and its controls with it; the icon is no longer a class icon afterwards.
    RegistryFreeAll(WindowRegistry);
    DestroyIcon(windowIcon);
    windowIcon = nullptr;
}

int64_t WindowOpen(ObjectId number, int32_t x, int32_t y, int32_t width, int32_t height,
                   const WCHAR* title, uint32_t flags) {
    // A number in use has its old window closed here, class and queued events included.
    auto* record = static_cast<WindowObject*>(RegistryCreate(WindowRegistry, number));
    if (record == nullptr) {
        return 0;
    }
    bool dynamic = number == DYNAMIC_ID;
    if (dynamic) {
        number = reinterpret_cast<ObjectId>(record);
    }
    WCHAR className[WINDOW_CLASS_NAME_UNITS];
    WindowClassName(className, number);
    WindowClassRegister(className);

    WindowStyle style = WindowStyleFromFlags(flags);
    RECT outer = {0, 0, width, height};
    AdjustWindowRectEx(&outer, style.style & ~WINDOW_CONSUMED_BITS, FALSE, style.extendedStyle);
    if (x == WINDOW_POS_DEFAULT ||
        (y == WINDOW_POS_DEFAULT &&
         (flags & (WINDOW_SCREEN_CENTRED | WINDOW_ACTIVE_CENTRED)) == 0)) {
        x = CW_USEDEFAULT;
        y = CW_USEDEFAULT;
    } else if ((style.style & WINDOW_SIZEABLE_CAPTION) == WINDOW_SIZEABLE_CAPTION) {
        // The invisible resize border of a composited frame would otherwise shift it right.
        x -= CompositionOffset();
    }
    HWND handle = CreateWindowExW(style.extendedStyle, className, title != nullptr ? title : L"",
                                  style.style & ~(WINDOW_CONSUMED_BITS | WINDOW_NO_ACTIVATE), x, y,
                                  outer.right - outer.left, outer.bottom - outer.top, nullptr,
                                  nullptr, ModuleHandle, nullptr);
    RegistryPublish(record, handle);
    if (handle == nullptr) {
        UnregisterClassW(className, ModuleHandle);
        RegistryFree(WindowRegistry, number);
        return 0;
    }
    record->ready = 0;
    WindowIdPropertySet(handle, number);
    if (flags & (WINDOW_SCREEN_CENTRED | WINDOW_ACTIVE_CENTRED)) {
        WindowCentre(handle, flags);
    }
    if (style.show) {
        // Size and move messages sent from here produce no events: the window is not ready.
        ShowWindow(handle, WindowShowCommand(style));
        // Activation runs the bindings of EVENT_WINDOW_ACTIVATED, which may close the window.
        if (!WindowStillOpen(number, record, handle)) {
            return 0;
        }
    }
    record->acceleratorCount = WINDOW_ACCELERATOR_COUNT;
    record->minMaxState = (style.style & WINDOW_MIN_MAX_STYLE) != 0 ? 1 : 0;
    if (!WindowAcceleratorsCreate(record)) {
        // Without its table the window could not be used from the keyboard: no half-made window.
        WindowClose(number);
        return 0;
    }
    if ((flags & WINDOW_NO_GADGET_LIST) == 0) {
        GadgetListUse(handle);
    }
    record->ready = 1;
    return dynamic ? number : reinterpret_cast<int64_t>(handle);
}

void WindowCentre(HWND window, uint32_t flags) {
    RECT own;
    GetWindowRect(window, &own);
    int32_t width = own.right - own.left;
    int32_t height = own.bottom - own.top;
    int32_t x;
    int32_t y;
    if (flags & WINDOW_SCREEN_CENTRED) {
        int32_t screenWidth = GetSystemMetrics(SM_CXSCREEN);
        int32_t screenHeight = GetSystemMetrics(SM_CYSCREEN);
        x = (screenWidth - (width < screenWidth ? width : screenWidth)) / 2;
        y = (screenHeight - (height < screenHeight ? height : screenHeight)) / 2;
    } else {
        HWND reference = GetActiveWindow();
        if (reference == nullptr) {
            return;  // nothing to centre on: the window stays where it was created
        }
        RECT around;
        GetWindowRect(reference, &around);
        x = around.left + ((around.right - around.left) - width) / 2;
        y = around.top + ((around.bottom - around.top) - height) / 2;
        x = x < 0 ? 0 : x;
        y = y < 0 ? 0 : y;
    }
    SetWindowPos(window, nullptr, x, y, 0, 0, WINDOW_CENTRE_POSITION);
}

int32_t CompositionOffset() {
    if (!compositionProbed) {
        // The attempt is recorded first, so that a missing library is not looked for again.
        compositionProbed = true;
        if (HMODULE dwm = LoadLibraryW(L"dwmapi.dll")) {
            using CompositionQuery = HRESULT(WINAPI*)(BOOL*);
            auto query = reinterpret_cast<CompositionQuery>(
                reinterpret_cast<void*>(GetProcAddress(dwm, "DwmIsCompositionEnabled")));
            // The answer is written through the pointer; the result only says whether it was.
            BOOL enabled = FALSE;
            if (query != nullptr && SUCCEEDED(query(&enabled))) {
                compositionEnabled = enabled;
            }
        }
    }
    return compositionEnabled ? 5 : 0;
}

void WindowClose(ObjectId number) {
    if (number == DYNAMIC_ID) {
        RegistryFreeAll(WindowRegistry);
        return;
    }
    auto* record = static_cast<WindowObject*>(RegistryLookup(WindowRegistry, number));
    if (record == nullptr) {
        return;
    }
    // The record stops counting as live before anything is destroyed: a callback or a modal loop
    // that runs during the destruction and closes (or reopens) the same number then finds no open
    // window, instead of freeing the accelerators or the record a second time.
    HWND handle = record->handle;
    ACCEL* entries = record->acceleratorEntries;
    HACCEL table = record->acceleratorTable;
    RegistryPublish(record, nullptr);

    EventBindingsRemoveWindow(number);
    if (RemovePropW(handle, DROP_ACCEPT_PROPERTY) != nullptr) {
        RevokeDragDrop(handle);
    }
    // "RT_WindowID" stays until the window's last message (the window procedure removes it), so
    // that the events the destruction produces carry this number and are dropped below instead of
    // staying queued under no window.
    DestroyWindow(handle);
    WCHAR className[WINDOW_CLASS_NAME_UNITS];
    WindowClassName(className, number);
    UnregisterClassW(className, ModuleHandle);
    if (entries != nullptr) {
        HeapFree(MainHeap, 0, entries);
    }
    if (table != nullptr) {
        DestroyAcceleratorTable(table);
    }
    EventQueueRemoveWindow(number);
    // A window reopened under the number during the destruction keeps its record.
    if (RegistryLookup(WindowRegistry, number) == nullptr) {
        RegistryFree(WindowRegistry, number);
    }
}

bool WindowStillOpen(ObjectId number, const WindowObject* record, HWND handle) {
    return RegistryLookup(WindowRegistry, number) == record && record->handle == handle;
}

int64_t WindowNumberFromHandle(HWND window) {
    return WindowIdPropertyGet(window);
}

WindowObject* WindowFromHandle(HWND window) {
    ObjectId number = WindowIdPropertyGet(window);
    if (number == WINDOW_ID_NONE) {
        return nullptr;
    }
    return static_cast<WindowObject*>(RegistryIsObject(WindowRegistry, number));
}

}  // namespace rt
