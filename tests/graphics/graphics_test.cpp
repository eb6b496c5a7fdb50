// The graphics libraries: fonts and images as GDI objects under numbers, the codec tables, and the
// pen and brush of a thread's vector drawing, released after the thread has ended.
#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "runtime/graphics/graphics.h"
#include "support/support.h"

namespace rt::test {
namespace {

struct GdiKind {
    const char* name;
    std::function<int64_t(ObjectId)> create;
    void (*free)(ObjectId);
    ObjectRegistry** registry;
    DWORD objectType;
};

HGDIOBJ HandleOf(const GdiKind& kind, ObjectId id) {
    auto* record = static_cast<HGDIOBJ*>(RegistryLookup(*kind.registry, id));
    return record != nullptr ? *record : nullptr;
}

TEST(GdiObjectRegistries, NumbersReplaceAndFreeTheirObjects) {
    const GdiKind kinds[] = {
        {"font", [](ObjectId id) { return FontLoad(id, L"Tahoma", -11); }, FontFree, &FontRegistry,
         OBJ_FONT},
        {"image", [](ObjectId id) { return ImageCreate(id, 3, 2); }, ImageFree, &ImageRegistry,
         OBJ_BITMAP},
    };
    for (const GdiKind& kind : kinds) {
        SCOPED_TRACE(kind.name);
        // A number: the object's handle, which the record holds.
        auto first = reinterpret_cast<HGDIOBJ>(kind.create(3));
        ASSERT_NE(first, nullptr);
        EXPECT_EQ(GetObjectType(first), kind.objectType);
        EXPECT_EQ(HandleOf(kind, 3), first);

        // Creating under the same number deletes the old object.
        auto second = reinterpret_cast<HGDIOBJ>(kind.create(3));
        ASSERT_NE(second, nullptr);
        EXPECT_EQ(GetObjectType(first), 0u);
        EXPECT_EQ(HandleOf(kind, 3), second);

        // DYNAMIC_ID: the record's address, whose first field is the handle.
        int64_t dynamic = kind.create(DYNAMIC_ID);
        ASSERT_NE(dynamic, 0);
        EXPECT_EQ(RegistryIsObject(*kind.registry, dynamic), reinterpret_cast<void*>(dynamic));
        HGDIOBJ dynamicHandle = *reinterpret_cast<HGDIOBJ*>(dynamic);
        EXPECT_EQ(GetObjectType(dynamicHandle), kind.objectType);

        // A number that holds nothing is left alone; one that holds an object loses it.
        kind.free(7);
        kind.free(3);
        EXPECT_EQ(GetObjectType(second), 0u);
        EXPECT_EQ(RegistryLookup(*kind.registry, 3), nullptr);

        // DYNAMIC_ID frees every object, numbered and dynamic.
        auto numbered = reinterpret_cast<HGDIOBJ>(kind.create(5));
        kind.free(DYNAMIC_ID);
        EXPECT_EQ(GetObjectType(numbered), 0u);
        EXPECT_EQ(GetObjectType(dynamicHandle), 0u);
        EXPECT_EQ(RegistryIsObject(*kind.registry, dynamic), nullptr);
    }
}

TEST(ImageCreate, RefusesAnEmptySizeAndFreesTheNumberAllTheSame) {
    const std::pair<int32_t, int32_t> emptySizes[] = {{0, 3}, {4, 0}, {-1, 5}};
    for (auto [width, height] : emptySizes) {
        ASSERT_NE(ImageCreate(1, 4, 3), 0);
        EXPECT_EQ(ImageCreate(1, width, height), 0) << width << " x " << height;
        EXPECT_EQ(RegistryLookup(ImageRegistry, 1), nullptr) << width << " x " << height;
    }
}

// One rectangle drawn on a 10 x 10 white image by a thread of its own after `setUp`.
struct RectangleCase {
    const char* name;
    std::function<void()> setUp;
    uint32_t edge;    // 0x00RRGGBB at (2, 2), on the outline
    uint32_t inside;  // at (5, 5)
};

TEST(VectorRectangle, DrawsWithTheThreadsOwnPenAndBrush) {
    const RectangleCase cases[] = {
        {"pen and brush",
         [] {
             VectorPenSet(RGB(255, 0, 0), 1);
             VectorBrushSet(RGB(0, 255, 0));
         },
         0xFF0000, 0x00FF00},
        {"pen only", [] { VectorPenSet(RGB(0, 0, 255), 1); }, 0x0000FF, 0xFFFFFF},
        // A new thread has neither: the device context's own black pen, nothing filled.
        {"neither", [] {}, 0x000000, 0xFFFFFF},
        {"the last pen set",
         [] {
             VectorPenSet(RGB(255, 0, 0), 1);
             VectorPenSet(RGB(0, 0, 255), 1);
         },
         0x0000FF, 0xFFFFFF},
    };
    for (const RectangleCase& row : cases) {
        SCOPED_TRACE(row.name);
        ImageCreate(1, 10, 10);
        auto* image = static_cast<ImageObject*>(RegistryLookup(ImageRegistry, 1));
        for (int i = 0; i < 100; i++) {
            image->pixels[i] = 0xFFFFFF;
        }
        HDC dc = CreateCompatibleDC(nullptr);
        HGDIOBJ old = SelectObject(dc, image->handle);
        int64_t drawn = 0;
        std::thread([&] {
            row.setUp();
            drawn = VectorRectangle(dc, 2, 2, 6, 6);
        }).join();
        GdiFlush();
        EXPECT_NE(drawn, 0);
        EXPECT_EQ(image->pixels[2 * 10 + 2], row.edge);
        EXPECT_EQ(image->pixels[5 * 10 + 5], row.inside);
        // The device context's own objects are back.
        EXPECT_EQ(GetCurrentObject(dc, OBJ_PEN), GetStockObject(BLACK_PEN));
        SelectObject(dc, old);
        DeleteDC(dc);
    }
    ImageFree(1);
}

TEST(VectorThreadFree, DeletesAnEndedThreadsPenAndBrush) {
    HPEN pen = nullptr;
    HBRUSH brush = nullptr;
    std::thread([&] {
        VectorPenSet(RGB(1, 2, 3), 2);
        VectorBrushSet(RGB(4, 5, 6));
        auto* state = static_cast<VectorThreadState*>(ThreadDataGet(VectorThreadDataOffset));
        pen = state->pen;
        brush = state->brush;
        // Checked while the thread runs: once it has ended, the clean-up may come at any moment.
        EXPECT_EQ(GetObjectType(pen), static_cast<DWORD>(OBJ_PEN));
        EXPECT_EQ(GetObjectType(brush), static_cast<DWORD>(OBJ_BRUSH));
    }).join();
    ASSERT_NE(pen, nullptr);
    ASSERT_NE(brush, nullptr);
    // The thread-exit service releases the record on a system thread once the thread has ended.
    DWORD start = GetTickCount();
    while ((GetObjectType(pen) != 0 || GetObjectType(brush) != 0) &&
           GetTickCount() - start < 10000) {
        Sleep(10);
    }
    EXPECT_EQ(GetObjectType(pen), 0u) << "the ended thread's pen was not deleted";
    EXPECT_EQ(GetObjectType(brush), 0u) << "the ended thread's brush was not deleted";
}

TEST(ImageCodecTable, AFullTableTakesNoFurtherEntry) {
    ImageCodecTable table = {};
    for (int i = 0; i < IMAGE_CODECS_MAX; i++) {
        EXPECT_TRUE(ImageCodecAdd(&table, L"BMP"));
    }
    EXPECT_FALSE(ImageCodecAdd(&table, L"PNG"));
    EXPECT_EQ(table.count, IMAGE_CODECS_MAX);
    EXPECT_EQ(ImageCodecFind(&table, L"PNG"), nullptr);
    EXPECT_EQ(ImageCodecFind(&table, L"bmp"), nullptr) << "tags are compared exactly";
}

}  // namespace
}  // namespace rt::test
