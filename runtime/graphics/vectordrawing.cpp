// Vector drawing: the pen and brush with which a thread outlines and fills shapes, kept in the
// thread's vector-drawing section.
//
// A thread's pen and brush are its own: only the thread itself sets and uses them, so no lock is
// needed. They are deleted by the section's free routine, which the thread-exit service runs after
// the thread has ended; the main thread's go with the process.
#include "graphics.h"

namespace rt {

int64_t VectorThreadDataOffset = 0;

namespace {

VectorThreadState* ThreadState() {
    return static_cast<VectorThreadState*>(ThreadDataGet(VectorThreadDataOffset));
}

// Puts `replacement` in `slot` and deletes what it held; false, keeping the old object, for null.
bool Replace(HGDIOBJ* slot, HGDIOBJ replacement) {
    if (replacement == nullptr) {
        return false;
    }
    if (*slot != nullptr) {
        DeleteObject(*slot);
    }
    *slot = replacement;
    return true;
}

}  // namespace

void VectorDrawingLibraryStart() {
    VectorThreadDataOffset =
        ThreadDataRegister(sizeof(VectorThreadState), nullptr, VectorThreadFree);
}

void VectorThreadFree(void* section) {
    auto* state = static_cast<VectorThreadState*>(section);
    if (state->pen != nullptr) {
        DeleteObject(state->pen);
        state->pen = nullptr;
    }
    if (state->brush != nullptr) {
        DeleteObject(state->brush);
        state->brush = nullptr;
    }
}

int64_t VectorPenSet(COLORREF colour, int32_t width) {
    VectorThreadState* state = ThreadState();
    auto* slot = reinterpret_cast<HGDIOBJ*>(&state->pen);
    return Replace(slot, CreatePen(PS_SOLID, width, colour)) ? 1 : 0;
}

int64_t VectorBrushSet(COLORREF colour) {
    VectorThreadState* state = ThreadState();
    auto* slot = reinterpret_cast<HGDIOBJ*>(&state->brush);
    return Replace(slot, CreateSolidBrush(colour)) ? 1 : 0;
}

int64_t VectorRectangle(HDC dc, int32_t x, int32_t y, int32_t width, int32_t height) {
    VectorThreadState* state = ThreadState();
    HGDIOBJ pen =
        state->pen != nullptr ? static_cast<HGDIOBJ>(state->pen) : GetCurrentObject(dc, OBJ_PEN);
    HGDIOBJ brush =
        state->brush != nullptr ? static_cast<HGDIOBJ>(state->brush) : GetStockObject(NULL_BRUSH);
    HGDIOBJ oldPen = SelectObject(dc, pen);
    HGDIOBJ oldBrush = SelectObject(dc, brush);
    BOOL drawn = Rectangle(dc, x, y, x + width, y + height);
    SelectObject(dc, oldPen);
    SelectObject(dc, oldBrush);
    return drawn;
}

}  // namespace rt
