#include "runtime/libraries/libraries.h"
#include "support/support.h"

int main(int argc, char** argv) {
    return rt::test::Main(argc, argv, [] { rt::LibrariesStart(rt::Library::LINKED_LISTS); });
}
