// Text lines: line ends, zero characters, limits and encodings when reading; conversions and line
// ends when writing; a line buffer that cannot grow.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "runtime/files/files.h"
#include "support/support.h"

namespace rt::test {
namespace {

using Lines = std::vector<WideString>;

// The next line as delivered in the builder, copied out without an allocation of the runtime's,
// so that allocation-failure tests count only the reader's own.
WideString ReadLine(ObjectId id, int32_t flags, int64_t maxLength = -1) {
    int32_t mark = StringBuilderMark();
    FileReadLine(id, flags, maxLength, mark);
    const WCHAR* start = StringBuilderBase() + mark / 2;
    WideString line(start, start + (StringBuilderMark() - mark) / 2);
    StringBuilderRewind(mark);
    return line;
}

Lines ReadAll(ObjectId id, int32_t flags) {
    Lines lines;
    while (FileAtEnd(id) == 0) {
        lines.push_back(ReadLine(id, flags));
    }
    return lines;
}

// The file image of 8-bit text in a format: UTF-16 widens every byte to a unit.
std::string Encode(const std::string& bytes, int32_t format) {
    if (format != TEXT_UTF16) {
        return bytes;
    }
    std::string wide;
    for (char byte : bytes) {
        wide += byte;
        wide += '\0';
    }
    return wide;
}

class TextLines : public testing::Test {
  protected:
    void SetUp() override { StringBuilderEnsure(); }
    void TearDown() override { FileClose(DYNAMIC_ID); }

    // Opens a file holding `bytes` as number 1; the flags also give the file's TextFormat.
    void Open(const std::string& bytes, int32_t flags = 0) {
        WriteBytes(folder_.Path("text"), bytes);
        ASSERT_NE(FileOpenEx(1, folder_.Name("text").c_str(), OPEN_MODE_READ_WRITE,
                             flags | OPEN_SHARED_ALL),
                  0);
    }
    void Create(int32_t flags = 0) {
        ASSERT_NE(FileCreate(0, folder_.Name("out").c_str(), flags | OPEN_SHARED_ALL), 0);
    }
    std::string Written() {
        FileClose(0);
        return ReadBytes(folder_.Path("out"));
    }

    TempFolder folder_;
};

struct LineCase {
    std::string bytes;
    Lines lines;
};

TEST_F(TextLines, LineEndsAndZeroCharactersInEveryFormatBufferedOrNot) {
    const std::vector<LineCase> cases = {
        {"a\r\nb\r\n", {RT_TEXT("a"), RT_TEXT("b")}},
        {"a\nb", {RT_TEXT("a"), RT_TEXT("b")}},
        {"a\rb", {RT_TEXT("a"), RT_TEXT("b")}},
        {"a\r", {RT_TEXT("a")}},
        {"a\n\rb", {RT_TEXT("a"), RT_TEXT(""), RT_TEXT("b")}},
        {"\r\n\r\n", {RT_TEXT(""), RT_TEXT("")}},
        {std::string("a\0b\r\n", 5), {RT_TEXT("a"), RT_TEXT("b")}},
        {std::string(5000, 'x'), {WideString(5000, RT_TEXT('x'))}},
        {std::string(9000, 'y') + "\r\nz", {WideString(9000, RT_TEXT('y')), RT_TEXT("z")}},
    };
    for (int32_t format : {TEXT_ANSI, TEXT_UTF8, TEXT_UTF16}) {
        for (int32_t buffering : {0, OPEN_NO_BUFFER}) {
            for (const LineCase& test : cases) {
                Open(Encode(test.bytes, format), buffering);
                EXPECT_EQ(ReadAll(1, format), test.lines)
                    << "format " << format << ", flags " << buffering << ", "
                    << test.bytes.substr(0, 8);
                FileClose(1);
            }
        }
    }
}

TEST_F(TextLines, ReadAtTheEndDeliversAnEmptyLine) {
    Open("a");
    EXPECT_EQ(ReadLine(1, TEXT_ANSI), RT_TEXT("a"));
    EXPECT_EQ(ReadLine(1, TEXT_ANSI), RT_TEXT(""));
    EXPECT_EQ(ReadLine(7, TEXT_ANSI), RT_TEXT("")) << "a number that names no file";
}

TEST_F(TextLines, IgnoringLineEndsStopsOnlyAtAZero) {
    for (int32_t format : {TEXT_ANSI, TEXT_UTF8, TEXT_UTF16}) {
        Open(Encode(std::string("a\r\nb\r\0c", 7), format));
        EXPECT_EQ(ReadLine(1, format | READ_IGNORE_LINE_ENDS), RT_TEXT("a\r\nb\r"));
        EXPECT_EQ(ReadLine(1, format | READ_IGNORE_LINE_ENDS), RT_TEXT("c"));
        FileClose(1);
    }
}

TEST_F(TextLines, LimitedReadCountsCharactersOfTheFormat) {
    for (int32_t format : {TEXT_ANSI, TEXT_UTF8, TEXT_UTF16}) {
        Open(Encode("abcdef\r\ng", format));
        EXPECT_EQ(ReadLine(1, format, 3), RT_TEXT("abc"));
        EXPECT_EQ(ReadLine(1, format, 3), RT_TEXT("def"));
        // The limit stopped the read before the line end: the next read meets it at once.
        EXPECT_EQ(ReadLine(1, format, 3), RT_TEXT(""));
        EXPECT_EQ(ReadLine(1, format, 3), RT_TEXT("g"));
        FileClose(1);
    }
    // UTF-8 counts whole characters of 1 to 4 bytes.
    Open("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80x");
    EXPECT_EQ(ReadLine(1, TEXT_UTF8, 3), RT_TEXT("\u00e9\u20ac\U0001F600"));
    EXPECT_EQ(ReadLine(1, TEXT_UTF8, 3), RT_TEXT("x"));
}

TEST_F(TextLines, Utf8StrayBytesBecomeQuestionMarksAndACutCharacterIsDropped) {
    Open(
        "a\x80"
        "b\xF8\r\nc\xE2\x82");
    EXPECT_EQ(ReadLine(1, TEXT_UTF8), RT_TEXT("a?b?"));
    EXPECT_EQ(ReadLine(1, TEXT_UTF8), RT_TEXT("c"));
    EXPECT_NE(FileAtEnd(1), 0);
}

TEST_F(TextLines, ByteOrderMarkIsPartOfTheFirstLine) {
    Open(
        "\xEF\xBB\xBF"
        "ab\r\n");
    EXPECT_EQ(ReadLine(1, 0), RT_TEXT("\uFEFFab")) << "format 0: the file's own, TEXT_UTF8";
    Open(std::string("\xFF\xFE"
                     "a\0",
                     4),
         TEXT_UTF16);
    EXPECT_EQ(ReadLine(1, 0), RT_TEXT("\uFEFFa"));
}

TEST_F(TextLines, AnsiLinesUseTheActiveCodePage) {
    Open("\xE9\x80\x81\r\n");
    EXPECT_EQ(ReadLine(1, TEXT_ANSI), RT_TEXT("\u00e9\u20ac\u0081"));
}

TEST_F(TextLines, CarriageReturnLookAheadAcrossARefillIsGivenBackWhole) {
    // One byte read as 8-bit text leaves the UTF-16 units at odd offsets: the unit after the CR
    // straddles the end of the first buffer load.
    std::string bytes = "x" + Encode(std::string(2046, 'a') + "\rbbbb", TEXT_UTF16);
    ASSERT_EQ(bytes.size() % 2, 1u);
    Open(bytes);
    EXPECT_EQ(ReadLine(1, TEXT_ANSI, 1), RT_TEXT("x"));
    EXPECT_EQ(ReadLine(1, TEXT_UTF16), WideString(2046, RT_TEXT('a')));
    EXPECT_EQ(ReadLine(1, TEXT_UTF16), RT_TEXT("bbbb"));
    EXPECT_NE(FileAtEnd(1), 0);
}

TEST_F(TextLines, LineEndsAroundTheEndOfABufferLoadAreReadOnce) {
    // The CR of a line end on the last byte of a 4096-byte load, its LF on the first of the next,
    // and both on either side, in 8-bit text and in UTF-8.
    for (int32_t format : {TEXT_ANSI, TEXT_UTF8}) {
        for (size_t length = 4093; length <= 4096; ++length) {
            for (const char* lineEnd : {"\r\n", "\r", "\n"}) {
                Open(std::string(length, 'p') + lineEnd + "tail\r\n");
                EXPECT_EQ(ReadAll(1, format),
                          (Lines{WideString(length, RT_TEXT('p')), RT_TEXT("tail")}))
                    << "format " << format << ", length " << length << ", " << std::strlen(lineEnd);
                FileClose(1);
            }
        }
    }
}

TEST_F(TextLines, ManyLinesWrittenThroughTheBufferArriveWhole) {
    Create(TEXT_ANSI);
    std::string expected;
    for (int i = 0; i < 3000; ++i) {
        WideString line(static_cast<size_t>(i % 211), static_cast<WCHAR>(u'!' + i % 90));
        FileWriteLine(0, line.c_str(), TEXT_ANSI);
        expected += std::string(line.size(), static_cast<char>('!' + i % 90)) + "\r\n";
    }
    EXPECT_EQ(Written(), expected);
}

// Text written behind pending bytes reaches the disk where FileBufferWrite puts a converted block:
// stored while it is shorter than the free room, else after a flush of the pending bytes, and
// written at once when it fills a buffer; narrowed or converted by the system alike.
TEST_F(TextLines, TextThatDoesNotFitTheRoomFlushesWhereABlockWould) {
    struct FlushCase {
        int pending;
        int length;
        int onDisk;  // after the text
    };
    const FlushCase cases[] = {
        {2, 95, 0},         {2, 4093, 0},       {2, 4094, 2},       {2, 4095, 2},
        {2, 4096, 4098},    {4000, 95, 0},      {4000, 96, 4000},   {4000, 97, 4000},
        {4000, 4095, 4000}, {4000, 4096, 8096}, {4000, 5000, 9000}, {4095, 1, 4095},
    };
    for (const FlushCase& test : cases) {
        for (WCHAR special : {u'x', u'\u20AC'}) {  // narrowed, or through the code page's table
            for (bool specialFirst : {true, false}) {
                SCOPED_TRACE(testing::Message() << test.pending << " " << test.length << " "
                                                << static_cast<int>(special) << specialFirst);
                Create(TEXT_ANSI);
                std::string first(static_cast<size_t>(test.pending), 'p');
                WideString firstText(first.begin(), first.end());
                FileWriteString(0, firstText.c_str(), TEXT_ANSI);
                WideString text(static_cast<size_t>(test.length), u'a');
                text[specialFirst ? 0 : text.size() - 1] = special;
                std::string bytes(text.begin(), text.end());
                bytes[specialFirst ? 0 : bytes.size() - 1] = special == u'x' ? 'x' : '\x80';
                EXPECT_EQ(FileWriteString(0, text.c_str(), TEXT_ANSI), test.length);
                EXPECT_EQ(std::filesystem::file_size(folder_.Path("out")),
                          static_cast<uintmax_t>(test.onDisk));
                EXPECT_EQ(Written(), first + bytes);
            }
        }
    }
}

TEST_F(TextLines, WriteLineEncodesTheTextAndTheLineEnd) {
    Create();
    FileWriteLine(0, RT_TEXT("abc"), TEXT_UTF16);
    EXPECT_EQ(Written(), std::string("a\0b\0c\0\r\0\n\0", 10));
    for (int32_t format : {TEXT_ANSI, TEXT_UTF8}) {
        Create();
        EXPECT_EQ(FileWriteLine(0, RT_TEXT("abc"), format), 2) << "the bytes of the line end";
        EXPECT_EQ(Written(), "abc\r\n");
    }
    Create();
    FileWriteLine(0, RT_TEXT(""), TEXT_ANSI);
    FileWriteLine(0, nullptr, TEXT_ANSI);
    EXPECT_EQ(Written(), "\r\n\r\n");
}

TEST_F(TextLines, FormatZeroWritesTheActiveCodePageAndNoFormatTheFilesOwn) {
    Create(TEXT_UTF8);
    EXPECT_EQ(FileWriteString(0, RT_TEXT("\u00e9"), 0), 1);
    FileWriteLine(0, RT_TEXT("\u00e9"));
    EXPECT_EQ(FileWriteString(0, RT_TEXT("\u20ac"), TEXT_UTF8), 3);
    FileWriteString(0, RT_TEXT("\u0416"),
                    TEXT_ANSI);  // not in the code page: its default character
    EXPECT_EQ(Written(), "\xE9\xC3\xA9\r\n\xE2\x82\xAC?");
    EXPECT_EQ(FileWriteLine(0, RT_TEXT("x")), 0) << "number 0 names no file any more";
}

TEST_F(TextLines, AnsiCopyKeepsEveryByteButTheLineEnds) {
    std::string bytes;
    for (int byte = 1; byte < 256; ++byte) {
        if (byte != '\r' && byte != '\n') {
            bytes += static_cast<char>(byte);
        }
    }
    Open(bytes + "\r\n" + bytes);
    Create(TEXT_ANSI | OPEN_SHARED_ALL);
    for (const WideString& line : ReadAll(1, TEXT_ANSI)) {
        FileWriteLine(0, line.c_str(), TEXT_ANSI);
    }
    EXPECT_EQ(Written(), bytes + "\r\n" + bytes + "\r\n");
}

#if RT_HAS_ALLOCATION_HOOK
TEST_F(TextLines, LineBufferThatCannotGrowDeliversThePartReadSoFar) {
    Open(std::string(5000, 'x') + "\r\nnext");
    ReadLine(1, TEXT_ANSI);  // the builder reaches its working size before the hook is armed
    FileClose(1);
    Open(std::string(5000, 'x') + "\r\nnext");
    PlatformFailAllocation(2);  // the first allocation is the line buffer, the second its growth
    EXPECT_EQ(ReadLine(1, TEXT_ANSI), WideString(4095, RT_TEXT('x')));
    EXPECT_FALSE(PlatformAllocationFailurePending());
    EXPECT_EQ(FileLineCutShort(1), 1) << "the caller can tell the part from a whole line";
    EXPECT_EQ(ReadLine(1, TEXT_ANSI), WideString(905, RT_TEXT('x')));
    EXPECT_EQ(FileLineCutShort(1), 0);
    EXPECT_EQ(ReadLine(1, TEXT_ANSI), RT_TEXT("next"));
    EXPECT_EQ(FileLineCutShort(1), 0);
    EXPECT_EQ(FileLineCutShort(2), 0) << "no file";
}

// Reallocations of the line buffer of a long line, counted on MainHeap: growing by half the
// capacity, a line of 1 MiB takes 14 allocations; in 4096-byte steps it took 257, and a heap that
// moves a block to grow it copied the line that many times.
TEST_F(TextLines, LongLineBufferGrowsByHalfItsCapacity) {
    const std::string line(1 << 20, 'x');
    Open(line + "\r\nnext");
    PlatformFailAllocation(20, 1, MainHeap);
    EXPECT_EQ(ReadLine(1, TEXT_ANSI), WideString(line.begin(), line.end()));
    EXPECT_TRUE(PlatformAllocationFailurePending()) << "at most 19 allocations";
    PlatformFailAllocation(0);
    EXPECT_EQ(FileLineCutShort(1), 0);
    EXPECT_EQ(ReadLine(1, TEXT_ANSI), RT_TEXT("next"));
}

TEST_F(TextLines, LineEndedByTheLimitIsNotCutShort) {
    Open(std::string(5000, 'y'));
    EXPECT_EQ(ReadLine(1, TEXT_ANSI, 3), RT_TEXT("yyy"));
    EXPECT_EQ(FileLineCutShort(1), 0);
}

TEST_F(TextLines, LineBufferThatCannotBeHadDeliversNothingAndConsumesNothing) {
    Open("abc\r\n");
    PlatformFailAllocation(1);
    int32_t mark = StringBuilderMark();
    EXPECT_EQ(FileReadLine(1, TEXT_ANSI, mark), nullptr);
    EXPECT_EQ(StringBuilderMark(), mark);
    EXPECT_EQ(ReadLine(1, TEXT_ANSI), RT_TEXT("abc"));
}

TEST_F(TextLines, EveryFailedAllocationLosesNoCharacter) {
    // A long line in UTF-8 with characters of every length, so that growth meets each of them.
    std::string unit = "ab\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
    WideString expected;
    std::string bytes;
    for (int i = 0; i < 900; ++i) {
        bytes += unit;
        expected += RT_TEXT("ab\u00e9\u20ac\U0001F600");
    }
    WriteBytes(folder_.Path("long"), bytes + "\r\nend");
    expected += RT_TEXT("end");
    // The builder is grown beforehand: its growth is not what this test drives.
    int32_t mark = StringBuilderMark();
    StringBuilderReserve(100000, -1);
    StringBuilderRewind(mark);
    SweepAllocationFailures([&](int) {
        if (FileOpenEx(2, folder_.Name("long").c_str(), OPEN_MODE_READ, 0) == 0) {
            return false;
        }
        WideString joined;
        for (int reads = 0; FileAtEnd(2) == 0 && reads < 100; ++reads) {
            joined += ReadLine(2, TEXT_UTF8);
        }
        EXPECT_EQ(joined, expected);
        FileClose(2);
        return true;
    });
}
#endif

}  // namespace
}  // namespace rt::test
