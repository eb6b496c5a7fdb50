// The utility's own code: the encrypt and decrypt actions and the ROT47 transform.
//
// The actions run on the thread of the event loop; their file work uses the runtime's fixed file
// numbers 0 (output) and 1 (input) and the program-wide line variable, so one action runs at a
// time.
#pragma once

#include <cstdint>

#include "runtime/platform/platform.h"

namespace app {

// Rotates every unit from 33 to 126 by 47 places within that range, in place, up to the
// terminating zero; all other units stay. Returns 0.
int64_t Rot47InPlace(WCHAR* text);

}  // namespace app
