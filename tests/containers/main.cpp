#include "runtime/containers/containers.h"
#include "support/support.h"

int main(int argc, char** argv) {
    // The libraries start in the entry routine's order: strings, the map, ..., the lists.
    return rt::test::Main(argc, argv, [] {
        rt::StringLibraryStart();
        rt::MapLibraryStart();
        rt::LinkedListLibraryStart();
    });
}
