#include "support/support.h"

int main(int argc, char** argv) {
    // Nothing is started here: the program's tests run the program as a process of its own.
    return rt::test::Main(argc, argv, nullptr);
}
