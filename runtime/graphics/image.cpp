// The image library: the image registry, whose records each hold a 32-bit device-independent
// bitmap with its pixels, deleted when the image is freed or the library ends.
//
// Any thread may create and free images: the registry's lock covers finding, creating and freeing
// records. The pixels belong to the bitmap and go with it.
#include "graphics_internal.h"

namespace rt {

ObjectRegistry* ImageRegistry = nullptr;

void ImageLibraryStart() {
    ImageRegistry = RegistryNew(sizeof(ImageObject), 16, ImageFree);
}

void ImageLibraryEnd() {
    if (ImageRegistry != nullptr) {
        RegistryFreeAll(ImageRegistry);
    }
}

int64_t ImageCreate(ObjectId id, int32_t width, int32_t height) {
    if (id != DYNAMIC_ID) {
        ImageFree(id);
    }
    if (width < 1 || height < 1) {
        return 0;
    }
    BITMAPINFO description = {};
    description.bmiHeader.biSize = sizeof(description.bmiHeader);
    description.bmiHeader.biWidth = width;
    description.bmiHeader.biHeight = -height;  // negative: the first row is the top one
    description.bmiHeader.biPlanes = 1;
    description.bmiHeader.biBitCount = 32;
    description.bmiHeader.biCompression = BI_RGB;
    void* pixels = nullptr;
    HBITMAP handle = CreateDIBSection(nullptr, &description, DIB_RGB_COLORS, &pixels, nullptr, 0);
    if (handle == nullptr) {
        return 0;
    }
    ImageObject image = {handle, static_cast<uint32_t*>(pixels), width, height, 32, 1, {}};
    return GdiObjectResult(id, GdiObjectRegister(ImageRegistry, id, &image, sizeof image));
}

void ImageFree(ObjectId id) {
    if (id == DYNAMIC_ID) {
        ImageLibraryEnd();
        return;
    }
    GdiObjectFree(ImageRegistry, id);
}

}  // namespace rt
