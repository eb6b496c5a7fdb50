// The program's GUI-subsystem entry: the C runtime's start-up has run when it is called, and it
// hands over to AppMain, which never returns. The command line and the show state are not used.
#include "app.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    app::AppMain();
}
