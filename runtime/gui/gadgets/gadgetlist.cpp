// Gadget lists: which window the calling thread creates its next gadget in, and the state that
// each window keeps while its list is not the current one.
//
// A window that has had a gadget list carries a GadgetListRecord as a property named after the
// program's module handle, and GadgetListWindowProc in front of its own procedure to free that
// record when the window goes. A parent stack array belongs to exactly one owner at a time: the
// thread state while its window's list is current, the window's record otherwise. Both the
// thread state and the records are touched only by the thread that owns the windows.
#include "../../strings/strings.h"
#include "../windowproperties.h"
#include "gadgets_internal.h"

namespace rt {

namespace {

constexpr int32_t PARENT_STACK_ENTRIES = 10;
// "RT_GadgetStack_", a sign and 19 digits, and the terminator.
constexpr int32_t PROPERTY_NAME_UNITS = 40;

// The name carries the module handle, so that two modules of one process that both carry this
// library keep their records apart on a shared window.
void PropertyNameBuild(WCHAR (&name)[PROPERTY_NAME_UNITS]) {
    FormatString(name, GADGET_STACK_PROPERTY_FORMAT, reinterpret_cast<int64_t>(ModuleHandle));
}

GadgetListRecord* RecordOf(HWND window, const WCHAR* name) {
    return static_cast<GadgetListRecord*>(GetPropW(window, name));
}

// The window whose gadget list is current: the bottom of the parent stack when it holds entries,
// otherwise the current parent itself.
HWND CurrentListWindow(const GadgetThreadState* state) {
    return state->parentStackCount != 0 ? state->parentStack[0] : state->currentParent;
}

// Hands the thread's state to the window's record. A window without a record keeps nothing, and
// the thread then keeps its array (the window was destroyed where this thread could not see it).
void StateSave(GadgetThreadState* state, HWND window, const WCHAR* name) {
    GadgetListRecord* record = RecordOf(window, name);
    if (record == nullptr) {
        return;
    }
    record->savedParent = state->currentParent;
    record->savedParentStack = state->parentStack;
    record->savedParentStackCount = state->parentStackCount;
    record->savedParentStackCapacity = state->parentStackCapacity;
    state->parentStack = nullptr;
}

void StateRestore(GadgetThreadState* state, GadgetListRecord* record) {
    if (state->parentStack != nullptr) {
        HeapFree(MainHeap, 0, state->parentStack);
    }
    state->currentParent = record->savedParent;
    state->parentStack = record->savedParentStack;
    state->parentStackCount = record->savedParentStackCount;
    state->parentStackCapacity = record->savedParentStackCapacity;
    record->savedParentStack = nullptr;
}

// Gives the window its first gadget list and makes it current; false when memory runs out, with
// nothing attached to the window.
bool ListAttach(GadgetThreadState* state, HWND window, const WCHAR* name) {
    if (state->parentStack == nullptr && !GadgetParentStackAlloc(state)) {
        return false;
    }
    auto* record = static_cast<GadgetListRecord*>(
        HeapAlloc(MainHeap, HEAP_ZERO_MEMORY, sizeof(GadgetListRecord)));
    if (record == nullptr) {
        return false;
    }
    record->window = window;
    if (!SetPropW(window, name, record)) {
        HeapFree(MainHeap, 0, record);
        return false;
    }
    record->previousProcedure = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(GadgetListWindowProc)));
    state->parentStackCount = 0;
    state->currentParent = window;
    return true;
}

// The window's WM_NCDESTROY: its list stops being current, and its record goes.
void ListDetach(HWND window, GadgetListRecord* record, const WCHAR* name) {
    GadgetThreadState* state = GadgetThread();
    if (CurrentListWindow(state) == window) {
        // The thread keeps its array for the next gadget list.
        state->currentParent = nullptr;
        state->parentStackCount = 0;
    }
    if (record->savedParentStack != nullptr) {
        HeapFree(MainHeap, 0, record->savedParentStack);
    }
    HeapFree(MainHeap, 0, record);
    RemovePropW(window, name);
}

}  // namespace

bool GadgetParentStackAlloc(GadgetThreadState* state) {
    auto* stack = static_cast<HWND*>(
        HeapAlloc(MainHeap, HEAP_ZERO_MEMORY, PARENT_STACK_ENTRIES * sizeof(HWND)));
    if (stack == nullptr) {
        return false;
    }
    state->parentStack = stack;
    state->parentStackCapacity = PARENT_STACK_ENTRIES;
    return true;
}

HWND GadgetListUse(HWND window) {
    GadgetThreadState* state = GadgetThread();
    HWND previous = CurrentListWindow(state);
    if (window == nullptr) {
        return previous;
    }
    WCHAR name[PROPERTY_NAME_UNITS];
    PropertyNameBuild(name);
    if (previous != nullptr) {
        StateSave(state, previous, name);
    }
    if (GadgetListRecord* record = RecordOf(window, name)) {
        StateRestore(state, record);
    } else if (!ListAttach(state, window, name)) {
        // The previous window's state is safe in its record; no list is current, so that the
        // next gadget fails to be created instead of landing in the window the caller left.
        state->currentParent = nullptr;
        state->parentStackCount = 0;
    }
    return previous;
}

LRESULT CALLBACK GadgetListWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    WCHAR name[PROPERTY_NAME_UNITS];
    PropertyNameBuild(name);
    GadgetListRecord* record = RecordOf(window, name);
    if (record == nullptr) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    WNDPROC previous = record->previousProcedure;
    // The record goes before the window's own procedure sees WM_NCDESTROY, so nothing that
    // procedure does can switch to a list whose window is already dying.
    if (message == WM_NCDESTROY) {
        ListDetach(window, record, name);
    }
    return previous != nullptr ? CallWindowProcW(previous, window, message, wParam, lParam)
                               : DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace rt
