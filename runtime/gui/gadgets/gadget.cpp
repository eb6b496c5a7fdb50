// The gadget registry and the steps every gadget kind shares: the library's start and end, the
// per-thread gadget state, registration of a new control, freeing, the window procedure placed in
// front of every control, the forwarding of the parent's messages about a control to its gadget,
// and the climb from a control to its runtime window.
//
// The registry owns the records; a record is given back only by its control's WM_NCDESTROY, so
// that a gadget is cleaned up the same way whether it was freed, reused under its number or
// destroyed with its parent window. Controls are used on the thread that owns them, which is the
// thread that runs their window procedure and whose event queue holds their events.
#include "../events/events.h"
#include "../windowproperties.h"
#include "gadgets_internal.h"

namespace rt {

ObjectRegistry* GadgetRegistry = nullptr;
int64_t GadgetThreadDataOffset = 0;

namespace {

constexpr int32_t GADGET_GROW_STEP = 50;
// Tab pages, hot keys, date pickers, extended combo boxes and address fields: the classes of the
// other gadget kinds, registered once so that they can be created later on any thread.
constexpr DWORD GADGET_CONTROL_CLASSES = ICC_TAB_CLASSES | ICC_HOTKEY_CLASS | ICC_DATE_CLASSES |
                                         ICC_USEREX_CLASSES | ICC_INTERNET_CLASSES;

HFONT defaultFont = nullptr;

// The clean-up at the control's WM_NCDESTROY, after the control's own procedure has seen it. The
// identifier goes back to -1 before the record is given back, so that a message that still
// arrives finds no gadget.
void GadgetCleanUp(HWND control, ObjectId id, GadgetRecord* gadget) {
    if (gadget->kind != nullptr && gadget->kind->destroy != nullptr) {
        gadget->kind->destroy(gadget);
    }
    RemovePropW(control, GADGET_ID_PROPERTY);
    if (RemovePropW(control, DROP_ACCEPT_PROPERTY) != nullptr) {
        RevokeDragDrop(control);
    }
    SetWindowLongPtrW(control, GWLP_ID, GADGET_UNREGISTERED_ID);
    EventQueueRemove(EVENT_GADGET, id, -1, -1);
    RegistryFree(GadgetRegistry, id);
}

}  // namespace

void GadgetLibraryStart() {
    // The font is taken first: registering the thread section runs GadgetThreadInit for this
    // thread at once, and that hands the font to the thread's state.
    defaultFont = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    GadgetRegistry = RegistryNew(sizeof(GadgetRecord), GADGET_GROW_STEP, GadgetFree);
    GadgetThreadDataOffset =
        ThreadDataRegister(sizeof(GadgetThreadState), GadgetThreadInit, GadgetThreadFree);
    INITCOMMONCONTROLSEX classes{sizeof(classes), GADGET_CONTROL_CLASSES};
    InitCommonControlsEx(&classes);
}

void GadgetLibraryEnd() {
    // Gadgets are not destroyed here: they go with their parent windows when the window library
    // ends, and each cleans itself up then.
    GadgetThreadState* state = GadgetThread();
    if (state->auxiliaryWindow != nullptr) {
        DestroyWindow(state->auxiliaryWindow);
        state->auxiliaryWindow = nullptr;
    }
}

void GadgetThreadInit(void* section) {
    auto* state = static_cast<GadgetThreadState*>(section);
    state->currentFont = defaultFont;
    // Without the array the first gadget list allocates one (GadgetListUse).
    GadgetParentStackAlloc(state);
}

void GadgetThreadFree(void* section) {
    auto* state = static_cast<GadgetThreadState*>(section);
    if (state->parentStack != nullptr) {
        HeapFree(MainHeap, 0, state->parentStack);
    }
}

int64_t GadgetRegister(ObjectId number, GadgetRecord* record, HWND control,
                       const GadgetKind* kind) {
    GadgetThreadState* state = GadgetThread();
    record->kind = kind;
    RegistryPublish(record, control);
    ObjectId id = number == DYNAMIC_ID ? reinterpret_cast<ObjectId>(record) : number;
    // From here on every message of the control goes through GadgetWindowProc, which forwards it
    // to the procedure kept here. Until the identifier is set just below, it takes the control for
    // an unregistered one, so the record is never used before the procedure is stored in it.
    record->previousProcedure = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(GadgetWindowProc)));
    SetWindowLongPtrW(control, GWLP_ID, id);
    SetPropW(control, GADGET_ID_PROPERTY, reinterpret_cast<HANDLE>(id));
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(state->currentFont), TRUE);
    return number == DYNAMIC_ID ? id : reinterpret_cast<int64_t>(control);
}

void GadgetFree(ObjectId id) {
    if (id == DYNAMIC_ID) {
        RegistryFreeAll(GadgetRegistry);
        return;
    }
    if (auto* gadget = static_cast<GadgetRecord*>(RegistryLookup(GadgetRegistry, id))) {
        DestroyWindow(gadget->window);
    }
}

LRESULT CALLBACK GadgetWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    ObjectId id = GetWindowLongPtrW(window, GWLP_ID);
    auto* gadget = id == GADGET_UNREGISTERED_ID
                       ? nullptr
                       : static_cast<GadgetRecord*>(RegistryLookup(GadgetRegistry, id));
    // A record that belongs to another control is not this control's: that happens when the
    // number was reused while this control could not be destroyed (it belongs to another thread).
    // Forwarding to that record's procedure, or giving the record back when this control dies,
    // would break the live gadget.
    if (gadget == nullptr || gadget->window != window) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    LRESULT result = CallWindowProcW(gadget->previousProcedure, window, message, wParam, lParam);
    // Only WM_NCDESTROY touches the record after the call: any other message may have destroyed
    // the control on the way (an event callback freeing its own gadget), and the record is then
    // gone or already handed out again.
    if (message == WM_NCDESTROY) {
        GadgetCleanUp(window, id, gadget);
    }
    return result;
}

int64_t GadgetForward(HWND child, HWND parent, UINT message, WPARAM wParam, LPARAM lParam) {
    if (child == nullptr) {
        return GADGET_NOT_HANDLED;
    }
    auto number = reinterpret_cast<int64_t>(GetPropW(child, GADGET_ID_PROPERTY));
    if (number != GetWindowLongPtrW(child, GWLP_ID)) {
        return GADGET_NOT_HANDLED;  // a control that the gadget library did not make
    }
    // The gadget must also be this very control: a foreign control whose identifier and missing
    // property both read 0 would otherwise reach gadget 0's handler.
    auto* gadget = static_cast<GadgetRecord*>(RegistryLookup(GadgetRegistry, number));
    if (gadget == nullptr || gadget->window != child || gadget->kind == nullptr ||
        gadget->kind->notify == nullptr) {
        return GADGET_NOT_HANDLED;
    }
    return gadget->kind->notify(gadget, parent, message, wParam, lParam);
}

HWND GadgetTopWindow(HWND control) {
    ObjectId number;
    return WindowIdPropertyClimb(control, &number);
}

}  // namespace rt
