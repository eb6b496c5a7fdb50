#include "runtime/files/files.h"
#include "support/support.h"

int main(int argc, char** argv) {
    // The entry routine's order: the string library first, then the file library.
    return rt::test::Main(argc, argv, [] {
        rt::StringLibraryStart();
        rt::FileLibraryStart();
    });
}
