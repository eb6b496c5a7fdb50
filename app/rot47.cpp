// ROT47: each printable ASCII unit (33 to 126) moves 47 places within that range; every other unit
// stays. The transform is its own inverse, so encrypting and decrypting are the same operation.
// The work is the strings library's ROT47 kernel (runtime/strings/textscan.h). A pure function of
// its argument; any thread may call it.
#include "app.h"

#include "runtime/strings/strings.h"

namespace app {

void Rot47Copy(WCHAR* destination, const WCHAR* source, int64_t units) {
    rt::TextRot47(destination, source, units);
}

int64_t Rot47InPlace(WCHAR* text) {
    if (text != nullptr) {
        rt::TextRot47(text, text, rt::StringLength(text));
    }
    return 0;
}

}  // namespace app
