// ROT47: each printable ASCII unit (33 to 126) moves 47 places within that range; every other unit
// stays. The transform is its own inverse, so encrypting and decrypting are the same operation.
// A pure function of its argument; any thread may call it.
#include "app.h"

namespace app {

int64_t Rot47InPlace(WCHAR* text) {
    if (text == nullptr) {
        return 0;
    }
    for (; *text != 0; ++text) {
        uint32_t c = *text;
        if (c >= 33 && c <= 126) {
            *text = static_cast<WCHAR>((c + 14) % 94 + 33);
        }
    }
    return 0;
}

}  // namespace app
