#include "runtime/files/files.h"
#include "support/support.h"

int main(int argc, char** argv) {
    return rt::test::Main(argc, argv, [] {
        rt::StringLibraryStart();
        rt::FileLibraryStart();
    });
}
