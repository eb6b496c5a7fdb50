// The start and end of the runtime's libraries: one ordered list each, called by the entry routine
// after it has created MainHeap and after its event loop has ended.
//
// Main thread only, before any other thread of the program exists (start) and after the event loop
// (end). Each step's place in its list is a dependency of a later step, stated beside it.
#include "app.h"

#include "runtime/containers/containers.h"
#include "runtime/files/files.h"
#include "runtime/graphics/graphics.h"
#include "runtime/gui/gadgets/gadgets.h"
#include "runtime/gui/requesters/requesters.h"
#include "runtime/gui/events/events.h"
#include "runtime/gui/windows/window.h"
#include "runtime/strings/strings.h"

namespace app {

void LibrariesStart() {
    // The string heap and the main thread's builder first: every later start routine that names
    // a class, a message or a key formats it in the builder.
    rt::StringLibraryStart();
    // The container operations are published before anything creates a container: the event
    // library's bindings map is the first.
    rt::MapLibraryStart();
    // The event library's section is the first of the per-thread record (offset 0), and its post
    // window must exist before any window can hand events over.
    rt::EventLibraryStart();
    rt::FileLibraryStart();
    rt::FontLibraryStart();
    rt::MemoryLibraryStart();
    // The per-thread sections are laid out in registration order: vector drawing at 72, 2D
    // drawing at 272, after the event library's 72 bytes.
    rt::VectorDrawingLibraryStart();
    // 2D drawing empties the codec tables, so the BMP codec adds its entries after it.
    rt::DrawingLibraryStart();
    rt::BmpCodecLibraryStart();
    rt::LinkedListLibraryStart();
    rt::ImageLibraryStart();
    // Whether visual styles are in use is known before any window or control is made.
    rt::AlphaBlendLibraryStart();
    // The window library's two sections follow at 408 and 448; it loads the class icon that every
    // window of the program is registered with.
    rt::WindowLibraryStart();
    // The gadget section comes last (544, the record 648 bytes); the gadget library's font and
    // controls' classes are there before the first button.
    rt::GadgetLibraryStart();
    // The dialogs' start is last: nothing before it needs COM.
    rt::RequesterLibraryStart();
}

void LibrariesEnd() {
    // Gadgets first, while the main thread's record that holds their section still exists.
    rt::GadgetLibraryEnd();
    // Every window goes, and every gadget with its window; the window registry still exists.
    rt::WindowLibraryEnd();
    // No window is left to blend into.
    rt::AlphaBlendLibraryEnd();
    rt::ImageLibraryEnd();
    rt::FontLibraryEnd();
    // Every open file is flushed and closed while MainHeap, which holds the buffers, still exists.
    rt::FileLibraryEnd();
    // After the windows: closing a window removes its queued events and its bindings, which the
    // event library still holds until here.
    rt::EventLibraryEnd();
    // The per-thread slot goes only after every end routine that reaches a section.
    rt::ThreadDataEnd();
    // The memory library's heap goes last, with every block still in it.
    rt::MemoryLibraryEnd();
}

}  // namespace app
