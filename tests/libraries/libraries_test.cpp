// The runtime as the entry routine starts and ends it: where every library's per-thread section
// lies, what the start routines leave in place, and what the end routines release of what a
// program left open. Each case runs in a process of its own, so it starts the libraries once.
#include <gtest/gtest.h>

#include "runtime/files/files.h"
#include "runtime/graphics/graphics.h"
#include "runtime/gui/events/events.h"
#include "runtime/gui/gadgets/gadgets.h"
#include "runtime/gui/windows/window.h"
#include "runtime/libraries/libraries.h"
#include "runtime/strings/strings.h"
#include "support/support.h"

namespace rt::test {
namespace {

TEST(LibrariesStart, LaysOutEveryThreadsRecordInStartOrder) {
    LibrariesStart();
    struct SectionRow {
        const char* library;
        int64_t offset;
        int64_t expected;
    };
    const SectionRow rows[] = {
        {"events", EventThreadDataOffset, 0},
        {"vector drawing", VectorThreadDataOffset, 72},
        // After the sections that nothing reads: 2D drawing at 272, windows at 408 and 448.
        {"gadgets", GadgetThreadDataOffset, 544},
        {"the whole record", ThreadDataLayout.totalSize, 648},
    };
    for (const SectionRow& row : rows) {
        EXPECT_EQ(row.offset, row.expected) << row.library;
    }

    // The BMP codec started after the 2D drawing library emptied the tables.
    ASSERT_EQ(ImageDecoders.count, 1);
    ASSERT_EQ(ImageEncoders.count, 1);
    EXPECT_NE(ImageCodecFind(&ImageDecoders, L"BMP"), nullptr);
    EXPECT_NE(ImageCodecFind(&ImageEncoders, L"BMP"), nullptr);

    LibrariesEnd();
}

TEST(LibrariesStart, AlphaBlendingBlendsWhenItsLibraryIsThere) {
    LibrariesStart();
    ASSERT_NE(AlphaBlendFunction, nullptr) << "\"AlphaBlend\" of \"msimg32.dll\" was not found";
    // White at half its strength over black gives mid grey.
    ImageCreate(1, 2, 2);
    ImageCreate(2, 2, 2);
    auto* target = static_cast<ImageObject*>(RegistryLookup(ImageRegistry, 1));
    auto* source = static_cast<ImageObject*>(RegistryLookup(ImageRegistry, 2));
    for (int i = 0; i < 4; i++) {
        source->pixels[i] = 0xFFFFFF;
    }
    HDC targetDc = CreateCompatibleDC(nullptr);
    HDC sourceDc = CreateCompatibleDC(nullptr);
    HGDIOBJ oldTarget = SelectObject(targetDc, target->handle);
    HGDIOBJ oldSource = SelectObject(sourceDc, source->handle);
    BLENDFUNCTION half = {AC_SRC_OVER, 0, 128, 0};
    EXPECT_TRUE(AlphaBlendFunction(targetDc, 0, 0, 2, 2, sourceDc, 0, 0, 2, 2, half));
    GdiFlush();
    EXPECT_NEAR(static_cast<int>(target->pixels[3] & 0xFF), 128, 2);
    SelectObject(targetDc, oldTarget);
    SelectObject(sourceDc, oldSource);
    DeleteDC(targetDc);
    DeleteDC(sourceDc);

    LibrariesEnd();
}

TEST(LibrariesEnd, ReleasesWhatTheProgramLeftOpen) {
    TempFolder folder;
    LibrariesStart();
    HWND window = reinterpret_cast<HWND>(WindowOpen(0, 0, 0, 250, 80, L"File Encryption",
                                                    WINDOW_DEFAULT_FLAGS | WINDOW_SCREEN_CENTRED));
    ASSERT_NE(window, nullptr);
    HWND button = reinterpret_cast<HWND>(ButtonCreate(2, 15, 15, 100, 50, L"Encrypt File"));
    ASSERT_NE(button, nullptr);
    // The window library registers every window's class with the program's icon 1.
    EXPECT_NE(GetClassLongPtrW(window, GCLP_HICON), 0) << "the class has no icon";
    HWND postWindow = PostEventWindow;
    ASSERT_TRUE(IsWindow(postWindow));
    ASSERT_NE(FileCreate(0, folder.Name("left-open.txt").c_str()), 0);
    FileWriteLine(0, L"still in the buffer");
    auto font = reinterpret_cast<HGDIOBJ>(FontLoad(1, L"Tahoma", -11));
    auto* imageRecord = reinterpret_cast<ImageObject*>(ImageCreate(DYNAMIC_ID, 4, 4));
    ASSERT_NE(font, nullptr);
    ASSERT_NE(imageRecord, nullptr);
    HGDIOBJ image = imageRecord->handle;
    EXPECT_EQ(ReadBytes(folder.Path("left-open.txt")), "") << "the line was written early";

    LibrariesEnd();

    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(IsWindow(button));
    EXPECT_FALSE(IsWindow(postWindow));
    EXPECT_EQ(ReadBytes(folder.Path("left-open.txt")), "still in the buffer\r\n");
    EXPECT_EQ(GetObjectType(font), 0u) << "the font was not deleted";
    EXPECT_EQ(GetObjectType(image), 0u) << "the image was not deleted";
    EXPECT_EQ(RegistryLookup(WindowRegistry, 0), nullptr);
    EXPECT_EQ(RegistryLookup(GadgetRegistry, 2), nullptr);
    StringLibraryEnd();
}

}  // namespace
}  // namespace rt::test
