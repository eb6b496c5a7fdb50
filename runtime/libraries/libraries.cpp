// The start and end orders of the runtime's libraries. Each step's place in its list is a
// dependency of a later step, stated beside it; LibrariesStart(last) runs a prefix of the start
// list, and LibrariesEnd(last) the steps of the end list that belong to that prefix.
#include "libraries.h"

#include <iterator>

#include "../containers/containers.h"
#include "../core/core.h"
#include "../files/files.h"
#include "../gui/events/events.h"
#include "../strings/strings.h"
#ifdef _WIN32
#include "../graphics/graphics.h"
#include "../gui/gadgets/gadgets.h"
#include "../gui/requesters/requesters.h"
#include "../gui/windows/window.h"
#endif

namespace rt {

namespace {

// One step of a list: a routine, and the library whose start makes it due.
struct LibraryStep {
    Library library;
    void (*routine)();
};

constexpr LibraryStep START_ORDER[] = {
    // The string heap and the main thread's builder first: every later start routine that names
    // a class, a message or a key formats it in the builder.
    {Library::STRINGS, StringLibraryStart},
    // The container operations are published before anything creates a container: the event
    // library's bindings map is the first.
    {Library::KEYED_MAP, MapLibraryStart},
    // The event library's section is the first of the per-thread record (offset 0), and its post
    // window must exist before any window can hand events over.
    {Library::EVENTS, EventLibraryStart},
    {Library::FILES, FileLibraryStart},
#ifdef _WIN32
    {Library::FONTS, FontLibraryStart},
#endif
    {Library::MEMORY, MemoryLibraryStart},
#ifdef _WIN32
    // The per-thread sections are laid out in registration order: vector drawing at 72, 2D
    // drawing at 272, after the event library's 72 bytes.
    {Library::VECTOR_DRAWING, VectorDrawingLibraryStart},
    // 2D drawing empties the codec tables, so the BMP codec adds its entries after it.
    {Library::DRAWING, DrawingLibraryStart},
    {Library::BMP_CODEC, BmpCodecLibraryStart},
#endif
    {Library::LINKED_LISTS, LinkedListLibraryStart},
#ifdef _WIN32
    {Library::IMAGES, ImageLibraryStart},
    // Whether visual styles are in use is known before any window or control is made.
    {Library::ALPHA_BLENDING, AlphaBlendLibraryStart},
    // The window library's two sections follow at 408 and 448; it loads the class icon that every
    // window of the program is registered with.
    {Library::WINDOWS, WindowLibraryStart},
    // The gadget section comes last (544, the record 648 bytes); the gadget library's font and
    // controls' classes are there before the first button.
    {Library::GADGETS, GadgetLibraryStart},
    // The dialogs' start is last: nothing before it needs COM.
    {Library::REQUESTERS, RequesterLibraryStart},
#endif
};

// A prefix of the list is a run of the libraries up to one of them.
constexpr bool StartOrderFollowsTheLibraries() {
    for (size_t i = 0; i < std::size(START_ORDER); ++i) {
        if (START_ORDER[i].library != static_cast<Library>(i)) {
            return false;
        }
    }
    return std::size(START_ORDER) == static_cast<size_t>(Library::LAST) + 1;
}
static_assert(StartOrderFollowsTheLibraries());

constexpr LibraryStep END_ORDER[] = {
#ifdef _WIN32
    // Gadgets first, while the main thread's record that holds their section still exists.
    {Library::GADGETS, GadgetLibraryEnd},
    // Every window goes, and every gadget with its window; the window registry still exists.
    {Library::WINDOWS, WindowLibraryEnd},
    // No window is left to blend into.
    {Library::ALPHA_BLENDING, AlphaBlendLibraryEnd},
    {Library::IMAGES, ImageLibraryEnd},
    {Library::FONTS, FontLibraryEnd},
#endif
    // Every open file is flushed and closed while MainHeap, which holds the buffers, still exists.
    {Library::FILES, FileLibraryEnd},
    // After the windows: closing a window removes its queued events and its bindings, which the
    // event library still holds until here.
    {Library::EVENTS, EventLibraryEnd},
    // The per-thread slot goes only after every end routine that reaches a section; the event
    // library's is the first section there is.
    {Library::EVENTS, ThreadDataEnd},
    // The memory library's heap goes last, with every block still in it.
    {Library::MEMORY, MemoryLibraryEnd},
};

}  // namespace

void LibrariesStart(Library last) {
    for (const LibraryStep& step : START_ORDER) {
        if (step.library > last) {
            return;
        }
        step.routine();
    }
}

void LibrariesEnd(Library last) {
    for (const LibraryStep& step : END_ORDER) {
        if (step.library <= last) {
            step.routine();
        }
    }
}

}  // namespace rt
