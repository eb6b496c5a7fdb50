#include "runtime/containers/containers.h"
#include "runtime/gui/gadgets/gadgets.h"
#include "runtime/gui/windows/window.h"
#include "runtime/strings/strings.h"
#include "support/support.h"

int main(int argc, char** argv) {
    return rt::test::Main(argc, argv, [] {
        // The entry routine's order, for the libraries these tests reach.
        rt::ModuleHandle = GetModuleHandleW(nullptr);
        rt::StringLibraryStart();
        rt::MapLibraryStart();
        rt::EventLibraryStart();
        rt::WindowLibraryStart();
        rt::GadgetLibraryStart();
    });
}
