// Helpers shared by the units of the gadget library; nothing outside the library includes this.
#pragma once

#include "gadgets.h"

namespace rt {

// The identifier of a control that is not (or no longer) a registered gadget: a button is created
// with it and carries it again once its clean-up has run.
constexpr LONG_PTR GADGET_UNREGISTERED_ID = -1;

// The calling thread's gadget state.
inline GadgetThreadState* GadgetThread() {
    return static_cast<GadgetThreadState*>(ThreadDataGet(GadgetThreadDataOffset));
}

// Gives the thread state a new, empty parent stack; false (nothing changed) when it cannot be
// allocated.
bool GadgetParentStackAlloc(GadgetThreadState* state);

}  // namespace rt
