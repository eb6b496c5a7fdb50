// ROT47: each printable ASCII unit (33 to 126) moves 47 places within that range; every other unit
// stays. The transform is its own inverse, so encrypting and decrypting are the same operation.
// A pure function of its argument; any thread may call it.
#include "app.h"

namespace app {

namespace {

// (c + 14) mod 94 + 33 for 33 <= c <= 126, written without a division or a branch so that the
// compiler can apply it to several units at once.
inline WCHAR Rot47(WCHAR unit) {
    uint16_t c = unit;
    uint16_t rotated = static_cast<uint16_t>(c <= 79 ? c + 47 : c - 47);
    return static_cast<uint16_t>(c - 33) < 94 ? rotated : c;
}

}  // namespace

int64_t Rot47InPlace(WCHAR* text) {
    if (text == nullptr) {
        return 0;
    }
    auto length = static_cast<int64_t>(wcslen(text));
    // Blocks of a fixed size become vector code at the optimisation level of the build; the tail
    // is done unit by unit.
    constexpr int64_t BLOCK = 16;
    int64_t i = 0;
    for (; i + BLOCK <= length; i += BLOCK) {
        for (int64_t j = 0; j < BLOCK; ++j) {
            text[i + j] = Rot47(text[i + j]);
        }
    }
    for (; i < length; ++i) {
        text[i] = Rot47(text[i]);
    }
    return 0;
}

}  // namespace app
