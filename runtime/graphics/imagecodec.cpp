// The image codec tables: the decoders and encoders that images are read and written with, each
// entry tagged with its format's name, and the BMP codec's start, which adds its two entries.
//
// The tables are filled by the start routines on the main thread, the 2D-drawing start emptying
// them before any codec adds itself, and are only read afterwards.
#include "graphics.h"

namespace rt {

ImageCodecTable ImageDecoders = {};
ImageCodecTable ImageEncoders = {};

bool ImageCodecAdd(ImageCodecTable* table, const WCHAR* tag) {
    if (table->count == IMAGE_CODECS_MAX) {
        return false;
    }
    table->entries[table->count++] = {tag};
    return true;
}

const ImageCodec* ImageCodecFind(const ImageCodecTable* table, const WCHAR* tag) {
    for (int32_t i = 0; i < table->count; i++) {
        if (wcscmp(table->entries[i].tag, tag) == 0) {
            return &table->entries[i];
        }
    }
    return nullptr;
}

void BmpCodecLibraryStart() {
    ImageCodecAdd(&ImageDecoders, RT_TEXT("BMP"));
    ImageCodecAdd(&ImageEncoders, RT_TEXT("BMP"));
}

}  // namespace rt
