// Helpers shared by the units of the string library.
#pragma once

#include "strings.h"

namespace rt {

// The string heap could not satisfy a request. No caller of the string library expects a failure
// (a builder or variable that did not grow would be written past its end), so the program stops
// with a message instead, through the runtime's fatal stop, which runs the registered clean-up.
[[noreturn]] void StringHeapExhausted();

}  // namespace rt
