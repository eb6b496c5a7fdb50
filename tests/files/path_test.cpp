#include <gtest/gtest.h>

#include <string>

#include "runtime/files/files.h"
#include "support/support.h"

namespace rt {
namespace {

std::u16string Text(const WCHAR* text) {
    return reinterpret_cast<const char16_t*>(text);
}
const WCHAR* W(const std::u16string& text) {
    return reinterpret_cast<const WCHAR*>(text.c_str());
}

// Runs a path function at a fresh mark, the way an assignment does, and checks the builder
// position after it.
template <typename Call>
std::u16string Part(Call call) {
    int32_t mark = StringBuilderMark();
    WCHAR* result = call(mark);
    std::u16string text = Text(StringBuilderBase() + mark / 2);
    EXPECT_EQ(result, StringBuilderBase() + mark / 2);
    EXPECT_EQ(StringBuilderMark(), mark + static_cast<int32_t>(2 * text.size()));
    StringBuilderRewind(mark);
    return text;
}

struct Row {
    std::u16string path, directory, file, base, extension;
};

TEST(PathParts, SplitEveryPathOfTheTable) {
    const Row rows[] = {
        {u"C:\\data\\notes.txt", u"C:\\data\\", u"notes.txt", u"notes", u"txt"},
        {u"/home/user/a.tar.gz", u"/home/user/", u"a.tar.gz", u"a.tar", u"gz"},
        {u"notes.txt", u"", u"notes.txt", u"notes", u"txt"},
        {u"C:\\data\\", u"C:\\data\\", u"", u"", u""},
        {u"C:\\data\\README", u"C:\\data\\", u"README", u"README", u""},
        {u"C:\\data\\.profile", u"C:\\data\\", u".profile", u".profile", u""},
        {u"C:\\data\\name.", u"C:\\data\\", u"name.", u"name.", u""},
        {u"C:\\my dir\\a b.txt", u"C:\\my dir\\", u"a b.txt", u"a b", u"txt"},
        {u"C:\\data\\report 2.0 final", u"C:\\data\\", u"report 2.0 final", u"report 2.0 final",
         u""},
        {u"C:\\a.b\\file", u"C:\\a.b\\", u"file", u"file", u""},
        {u"\"C:\\x\\y.txt\"", u"C:\\x\\", u"y.txt", u"y", u"txt"},
        {u"C:\\a\\b|c\\d", u"C:\\a\\", u"d", u"d", u""},  // the pipe stops the directory scan only
        {u"C:\\data\\name.with space", u"C:\\data\\", u"name.with space", u"name.with space", u""},
        {u"C:\\data\\archive.tar.gz", u"C:\\data\\", u"archive.tar.gz", u"archive.tar", u"gz"},
        {u".hidden", u"", u".hidden", u".hidden", u""},
        {u"", u"", u"", u"", u""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.path.begin(), row.path.end()));
        const WCHAR* path = W(row.path);
        EXPECT_EQ(Part([&](int32_t m) { return PathDirectoryPart(path, m); }), row.directory);
        EXPECT_EQ(Part([&](int32_t m) { return PathFilePart(path, 0, m); }), row.file);
        EXPECT_EQ(Part([&](int32_t m) { return PathFilePart(path, PATH_NO_EXTENSION, m); }),
                  row.base);
        EXPECT_EQ(Part([&](int32_t m) { return PathExtensionPart(path, m); }), row.extension);
    }
}

TEST(PathParts, NullPathGivesEmptyResults) {
    EXPECT_EQ(Part([](int32_t m) { return PathDirectoryPart(nullptr, m); }), u"");
    EXPECT_EQ(Part([](int32_t m) { return PathFilePart(nullptr, PATH_NO_EXTENSION, m); }), u"");
    EXPECT_EQ(Part([](int32_t m) { return PathExtensionPart(nullptr, m); }), u"");
    EXPECT_EQ(IsValidFileName(nullptr), 0);
}

TEST(PathFilePart, OtherFlagBitsAreIgnored) {
    EXPECT_EQ(Part([](int32_t m) { return PathFilePart(RT_TEXT("a\\b.c"), 2, m); }), u"b.c");
    EXPECT_EQ(Part([](int32_t m) { return PathFilePart(RT_TEXT("a\\b.c"), 3, m); }), u"b");
}

TEST(PathParts, SourceInsideTheBuilderSurvivesTheBufferMoving) {
    // A long path assembled in the builder, then split in the same expression: reserving the
    // result grows (and moves) the buffer while the source still lies in it.
    std::u16string directory = u"C:\\" + std::u16string(30000, u'd') + u"\\";
    int32_t rewind = StringBuilderMark();
    int32_t pathMark = StringBuilderMark();
    StringAppend(W(directory + u"notes.txt"));
    StringTerminate();
    const WCHAR* source = StringBuilderBase() + pathMark / 2;
    int32_t resultMark = StringBuilderMark();
    PathDirectoryPart(source, resultMark);
    EXPECT_EQ(Text(StringBuilderBase() + resultMark / 2), directory);
    StringBuilderRewind(rewind);
}

TEST(IsValidFileName, RefusesEmptyNamesControlCharactersAndReservedCharacters) {
    EXPECT_EQ(IsValidFileName(RT_TEXT("notes.txt")), 1);
    EXPECT_EQ(IsValidFileName(RT_TEXT("a b.txt")), 1);
    EXPECT_EQ(IsValidFileName(RT_TEXT("\u00e9t\u00e9")), 1);
    EXPECT_EQ(IsValidFileName(RT_TEXT("")), 0);
    EXPECT_EQ(IsValidFileName(RT_TEXT("C:\\notes.txt")), 0);
    EXPECT_EQ(IsValidFileName(RT_TEXT("a?.txt")), 0);
    EXPECT_EQ(IsValidFileName(RT_TEXT("tab\there")), 0);
    for (const WCHAR* name : {RT_TEXT("\""), RT_TEXT("*"), RT_TEXT("/"), RT_TEXT(":"), RT_TEXT("<"),
                              RT_TEXT(">"), RT_TEXT("|")}) {
        EXPECT_EQ(IsValidFileName(name), 0);
    }
}

}  // namespace
}  // namespace rt
