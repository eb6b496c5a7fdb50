// Helpers shared by the window library's units (windows, window procedure, keyboard navigation,
// event wait). Nothing outside this folder includes this header. All of it runs on the thread
// that owns the windows concerned.
#pragma once

#include "../windowproperties.h"
#include "window.h"

namespace rt {

// Whether `record` still holds the window `handle`: false once the window has been closed (or is
// being closed) by a callback that ran inside a system call or an event's bindings, so that the
// caller touches neither the record nor the window any more.
bool WindowStillOpen(ObjectId number, const WindowObject* record, HWND handle);

}  // namespace rt
