#include "runtime/gui/gadgets/gadgets.h"
#include "runtime/gui/events/events.h"
#include "runtime/strings/strings.h"
#include "support/support.h"

int main(int argc, char** argv) {
    return rt::test::Main(argc, argv, [] {
        // The gadget-list property is named after the module handle, which the entry routine
        // takes before any library starts.
        rt::ModuleHandle = GetModuleHandleW(nullptr);
        rt::StringLibraryStart();
        rt::EventLibraryStart();
        rt::GadgetLibraryStart();
    });
}
