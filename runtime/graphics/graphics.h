// The graphics libraries: fonts, images, the image codec tables, vector and 2D drawing state, and
// alpha blending with the visual-styles test. Windows only.
//
// The program reaches none of this beyond the start and end routines; what exists is what those
// routines set up and release, and the few operations that give their objects and sections a
// content: fonts and images are GDI objects kept in their libraries' registries (each registry
// guards itself with its own lock, any thread may create and free), and the vector-drawing section
// holds the pen and brush a thread draws with (that thread's own; released after it ends). The
// codec tables and the alpha-blending state are written by the start routines on the main thread
// and only read afterwards.
#pragma once

#include <cstdint>

#include "../core/core.h"

namespace rt {

// ---------------------------------------------------------------------------------------------
// Fonts: records of one GDI font handle each, freed with DeleteObject.

struct FontObject {
    HFONT handle;  // non-null while the font exists
};
static_assert(sizeof(FontObject) == 8);

extern ObjectRegistry* FontRegistry;

void FontLibraryStart();
void FontLibraryEnd();
// Creates a font of the face `name`, `height` units high (negative: character height, as
// CreateFontW takes it), replacing any font the number held: the font's handle for a number, its
// id for DYNAMIC_ID; 0 when the system refuses the font (the number then holds nothing).
int64_t FontLoad(ObjectId id, const WCHAR* name, int32_t height);
// Deletes one font; DYNAMIC_ID deletes every font. A number that holds nothing is left alone.
void FontFree(ObjectId id);

// ---------------------------------------------------------------------------------------------
// Images: 32-bit top-down device-independent bitmaps whose pixels the program can reach.

struct ImageObject {
    HBITMAP handle;    // non-null while the image exists
    uint32_t* pixels;  // width * height pixels, 0x00RRGGBB, rows top first; owned by the bitmap
    int32_t width;
    int32_t height;
    int32_t depth;       // bits per pixel: 32
    int32_t frameCount;  // 1: the image is one frame
    uint8_t unused[16];
};
static_assert(sizeof(ImageObject) == 48);

extern ObjectRegistry* ImageRegistry;

void ImageLibraryStart();
void ImageLibraryEnd();
// Creates a width x height image, every pixel 0, replacing any image the number held: the bitmap's
// handle for a number, the image's id for DYNAMIC_ID; 0 for a size below 1 or when the system
// refuses the bitmap (the number then holds nothing).
int64_t ImageCreate(ObjectId id, int32_t width, int32_t height);
// Deletes one image and its pixels; DYNAMIC_ID deletes every image.
void ImageFree(ObjectId id);

// ---------------------------------------------------------------------------------------------
// The image codec tables: the formats images are read from (decoders) and written in (encoders).
// An entry names its format by a tag; codecs of this runtime reach no code of their own here.

struct ImageCodec {
    const WCHAR* tag;  // the format's name, e.g. "BMP"
};

constexpr int32_t IMAGE_CODECS_MAX = 8;

struct ImageCodecTable {
    int32_t count;
    ImageCodec entries[IMAGE_CODECS_MAX];
};

extern ImageCodecTable ImageDecoders;
extern ImageCodecTable ImageEncoders;

// Adds an entry; false when the table is full (it is then unchanged).
bool ImageCodecAdd(ImageCodecTable* table, const WCHAR* tag);
// The entry tagged `tag` (compared exactly), or null.
const ImageCodec* ImageCodecFind(const ImageCodecTable* table, const WCHAR* tag);
// Adds the BMP decoder and encoder. After DrawingLibraryStart, which empties the tables.
void BmpCodecLibraryStart();

// ---------------------------------------------------------------------------------------------
// 2D drawing: the thread's 136-byte section, and the codec tables emptied at start.

// The 2D-drawing section of every thread's record, zero-filled when the record is made. No drawing
// operation of this runtime writes it; it keeps its place so that the later sections lie where
// the other libraries expect them.
struct DrawingThreadState {
    uint8_t reserved[136];
};
static_assert(sizeof(DrawingThreadState) == 136);

void DrawingLibraryStart();

// ---------------------------------------------------------------------------------------------
// Vector drawing: the pen and brush a thread outlines and fills shapes with.

// The vector-drawing section of every thread's record (200 bytes, zero-filled when made). The pen
// and brush belong to the thread; its section's free routine deletes them after it has ended.
struct VectorThreadState {
    HPEN pen;      // null: the device context's own pen is used
    HBRUSH brush;  // null: shapes are not filled
    uint8_t unused[184];
};
static_assert(sizeof(VectorThreadState) == 200);

extern int64_t VectorThreadDataOffset;

void VectorDrawingLibraryStart();
// The section's free routine: deletes the thread's pen and brush.
void VectorThreadFree(void* section);
// Sets the calling thread's pen: a solid line `width` units wide in `colour` (0x00BBGGRR); the
// old pen is deleted. 1, or 0 when the system refuses the pen (the old one is then kept).
int64_t VectorPenSet(COLORREF colour, int32_t width);
// Sets the calling thread's brush to a solid `colour`; as VectorPenSet otherwise.
int64_t VectorBrushSet(COLORREF colour);
// Outlines (and fills, when the thread has a brush) the rectangle (x, y)-(x + width, y + height)
// on `dc` with the thread's pen and brush; the device context's own objects are put back. The
// result of Rectangle: non-zero on success.
int64_t VectorRectangle(HDC dc, int32_t x, int32_t y, int32_t width, int32_t height);

// ---------------------------------------------------------------------------------------------
// Alpha blending and themes.

using AlphaBlendRoutine = BOOL(WINAPI*)(HDC, int, int, int, int, HDC, int, int, int, int,
                                        BLENDFUNCTION);

// "AlphaBlend" of "msimg32.dll", or null when either is missing.
extern AlphaBlendRoutine AlphaBlendFunction;
// True when the controls are drawn with visual styles: the application is themed and the common
// controls are version 6.0 or later. A missing library or function counts as off.
extern bool VisualStylesInUse;

void AlphaBlendLibraryStart();
void AlphaBlendLibraryEnd();

}  // namespace rt
