#include "runtime/containers/containers.h"
#include "runtime/gui/events/events.h"
#include "support/support.h"

int main(int argc, char** argv) {
    return rt::test::Main(argc, argv, [] {
#ifdef _WIN32
        rt::ModuleHandle = GetModuleHandleW(nullptr);
#endif
        rt::StringLibraryStart();
        rt::MapLibraryStart();
        rt::EventLibraryStart();
    });
}
