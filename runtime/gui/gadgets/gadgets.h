// The gadget library: controls placed in windows and registered under numbers, the push button,
// the window procedure installed on every control, and the per-window gadget lists that say where
// the next gadget is created.
//
// Gadgets are created and used on the thread that owns their parent window: the current gadget
// list, the parent stack and the current font are per thread (GadgetThreadState, a section of the
// per-thread record). The gadget registry guards itself with its own lock. A gadget's record is
// given back when its control receives WM_NCDESTROY, whoever destroyed it.
#pragma once

#include <cstdint>

#include "../../core/core.h"

namespace rt {

// The answer by which a gadget handler leaves a message to the default handling.
constexpr int64_t GADGET_NOT_HANDLED = -0x2F2F2F2F;

struct GadgetRecord;

// The operations of one gadget kind, shared by all its gadgets. An empty slot is null; callers test
// a slot before calling it.
struct GadgetKind {
    int32_t kindCode;  // 1: push button
    int32_t size;      // sizeof(GadgetKind)
    // Messages that the parent received about the control; GADGET_NOT_HANDLED leaves them to the
    // default handling.
    int64_t (*notify)(GadgetRecord* gadget, HWND parent, UINT message, WPARAM wParam,
                      LPARAM lParam);
    // Called at the control's WM_NCDESTROY, before the record is given back.
    void (*destroy)(GadgetRecord* gadget);
    int64_t (*getState)(GadgetRecord* gadget);
    void (*setState)(GadgetRecord* gadget, int64_t state);
    void* otherSlots[8];  // operations of other kinds
    void (*requiredSize)(GadgetRecord* gadget, int32_t* width, int32_t* height);
    void* furtherSlots[4];
};

constexpr int32_t GADGET_KIND_BUTTON = 1;

// A gadget's record in the gadget registry (64 bytes, zero-filled when handed out).
struct GadgetRecord {
    HWND window;  // the control; non-null while the gadget is live
    const GadgetKind* kind;
    WNDPROC previousProcedure;  // the control's procedure before GadgetRegister replaced it
    uint8_t unused[40];
};
static_assert(sizeof(GadgetRecord) == 64);

// The gadget library's section of the per-thread record (104 bytes, zero-filled).
struct GadgetThreadState {
    HWND currentParent;  // where the next gadget is created; null: no gadget list is current
    HFONT currentFont;   // sent to every new gadget
    HWND* parentStack;   // MainHeap array; owned here while its window's list is current
    int32_t parentStackCount;
    int32_t parentStackCapacity;
    HWND auxiliaryWindow;  // destroyed by GadgetLibraryEnd when set
    uint8_t unused[64];
};
static_assert(sizeof(GadgetThreadState) == 104);

// A window's saved gadget-list state, attached as the property "RT_GadgetStack_<module handle>".
struct GadgetListRecord {
    HWND window;
    HWND savedParent;
    HWND* savedParentStack;  // null while the window's list is current
    int32_t savedParentStackCount;
    int32_t savedParentStackCapacity;
    WNDPROC previousProcedure;
};
static_assert(sizeof(GadgetListRecord) == 40);

extern ObjectRegistry* GadgetRegistry;
extern int64_t GadgetThreadDataOffset;
extern GadgetKind ButtonKind;

void GadgetLibraryStart();
void GadgetLibraryEnd();
void GadgetThreadInit(void* section);
void GadgetThreadFree(void* section);

// A push button in the current gadget list: the control's handle for a number, the gadget's id
// (its record's address) for DYNAMIC_ID; 0 on failure, with any older gadget of the number kept.
int64_t ButtonCreate(ObjectId number, int32_t x, int32_t y, int32_t width, int32_t height,
                     const WCHAR* text);
// `flags` are window style bits added as they stand.
int64_t ButtonCreateEx(ObjectId number, int32_t x, int32_t y, int32_t width, int32_t height,
                       const WCHAR* text, uint32_t flags);
// The registration step of every gadget kind; returns what the create operation returns.
int64_t GadgetRegister(ObjectId number, GadgetRecord* record, HWND control, const GadgetKind* kind);
// Destroys one gadget's control (its record is given back at WM_NCDESTROY); DYNAMIC_ID: all.
void GadgetFree(ObjectId id);

int64_t ButtonGetState(GadgetRecord* gadget);
void ButtonSetState(GadgetRecord* gadget, int64_t state);
void ButtonRequiredSize(GadgetRecord* gadget, int32_t* width, int32_t* height);

LRESULT CALLBACK GadgetWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// The answer of the gadget behind `child` to a message that its parent window received about it,
// or GADGET_NOT_HANDLED when `child` is no live gadget or its kind has no handler.
int64_t GadgetForward(HWND child, HWND parent, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK GadgetListWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Makes the window's gadget list current and returns the window whose list was current before;
// null only returns the current gadget-list window. When a window's first list cannot be allocated,
// the previous list stays saved with its window and no list is current, so that creations fail
// rather than land in the window the caller left.
HWND GadgetListUse(HWND window);
// The runtime window that holds a control (or the top of its parent chain).
HWND GadgetTopWindow(HWND control);

}  // namespace rt
