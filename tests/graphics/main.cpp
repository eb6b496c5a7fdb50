#include "runtime/graphics/graphics.h"
#include "support/support.h"

int main(int argc, char** argv) {
    return rt::test::Main(argc, argv, [] {
        rt::FontLibraryStart();
        rt::ImageLibraryStart();
        rt::VectorDrawingLibraryStart();
    });
}
