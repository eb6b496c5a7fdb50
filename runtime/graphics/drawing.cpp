// The 2D-drawing library's start: the thread's 2D-drawing section, and empty codec tables for the
// codecs that start after it.
//
// Main thread, at start-up only.
#include "graphics.h"

namespace rt {

void DrawingLibraryStart() {
    // Emptied before the codecs' start routines add themselves: the tables hold exactly the codecs
    // started after this.
    ImageDecoders = {};
    ImageEncoders = {};
    ThreadDataRegister(sizeof(DrawingThreadState), nullptr, nullptr);
}

}  // namespace rt
