// The font library: the font registry, whose records each hold one GDI font, deleted with
// DeleteObject when the font is freed or the library ends.
//
// Any thread may load and free fonts: the registry's lock covers finding, creating and freeing
// records. A font that is still selected into a device context when it is freed is deleted by the
// system once it is no longer selected.
#include "graphics_internal.h"

namespace rt {

ObjectRegistry* FontRegistry = nullptr;

void FontLibraryStart() {
    FontRegistry = RegistryNew(sizeof(FontObject), 16, FontFree);
}

void FontLibraryEnd() {
    if (FontRegistry != nullptr) {
        RegistryFreeAll(FontRegistry);
    }
}

int64_t FontLoad(ObjectId id, const WCHAR* name, int32_t height) {
    // The number gives up its old font whether or not the new one can be had, as every create of
    // the runtime does.
    if (id != DYNAMIC_ID) {
        FontFree(id);
    }
    HFONT handle = CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                               OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                               DEFAULT_PITCH | FF_DONTCARE, name);
    if (handle == nullptr) {
        return 0;
    }
    return GdiObjectResult(id, GdiObjectRegister(FontRegistry, id, &handle, sizeof handle));
}

void FontFree(ObjectId id) {
    if (id == DYNAMIC_ID) {
        FontLibraryEnd();
        return;
    }
    GdiObjectFree(FontRegistry, id);
}

}  // namespace rt
