#include "support/support.h"

int main(int argc, char** argv) {
    // Nothing is started here: every case starts and ends the runtime itself.
    return rt::test::Main(argc, argv, nullptr);
}
