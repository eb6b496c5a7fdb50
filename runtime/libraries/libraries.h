// The start and end of the runtime's libraries: the one ordered list of each, run whole by the
// entry routine after it has created MainHeap and after its event loop has ended, and up to a
// given library by the test programs and benchmarks that need only the libraries below it.
//
// Main thread only, before any other thread of the program exists (start) and after the last
// event loop (end). The module handle and MainHeap are the caller's, taken before the start; the
// string library's end, MainHeap's destruction and the process's end come after the end.
#pragma once

#include <cstdint>

namespace rt {

// The libraries in their start order. The Windows-only ones (graphics, windows, gadgets,
// requesters) exist on Windows only; elsewhere the portable ones keep the same order.
enum class Library : int32_t {
    STRINGS,
    KEYED_MAP,
    EVENTS,
    FILES,
#ifdef _WIN32
    FONTS,
#endif
    MEMORY,
#ifdef _WIN32
    VECTOR_DRAWING,
    DRAWING,
    BMP_CODEC,
#endif
    LINKED_LISTS,
#ifdef _WIN32
    IMAGES,
    ALPHA_BLENDING,
    WINDOWS,
    GADGETS,
    REQUESTERS,
    LAST = REQUESTERS,
#else
    LAST = LINKED_LISTS,
#endif
};

// Starts the libraries in their order, from the first up to `last` included.
void LibrariesStart(Library last = Library::LAST);
// Ends, in the end order, the libraries that LibrariesStart(last) started: windows are destroyed
// and open files flushed and closed. The string library is left to the caller.
void LibrariesEnd(Library last = Library::LAST);

}  // namespace rt
