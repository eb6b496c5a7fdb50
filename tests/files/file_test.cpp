// File objects: opening and creating, closing, the end-of-file test and write-failure reports.
#include <gtest/gtest.h>

#include <string>

#include "runtime/files/files.h"
#include "support/support.h"

namespace rt::test {
namespace {

class FileObjects : public testing::Test {
  protected:
    void TearDown() override { FileClose(DYNAMIC_ID); }

    FileRecord* OpenDynamic(const std::string& name, int32_t mode, int32_t flags = 0) {
        return reinterpret_cast<FileRecord*>(
            FileOpenEx(DYNAMIC_ID, folder_.Name(name).c_str(), mode, flags));
    }

    TempFolder folder_;
};

TEST_F(FileObjects, CreateTruncatesAnExistingFileAndFillsTheRecord) {
    WriteBytes(folder_.Path("out.txt"), "old content");
    FileRecord* file = OpenDynamic("out.txt", OPEN_MODE_CREATE, TEXT_ANSI | OPEN_SHARED_ALL);
    ASSERT_NE(file, nullptr);
    EXPECT_NE(file->handle, nullptr);
    EXPECT_NE(file->buffer, nullptr);
    EXPECT_EQ(file->bufferSize, FILE_BUFFER_SIZE);
    EXPECT_EQ(file->count, 0);
    EXPECT_EQ(file->state, FILE_STATE_READING);
    EXPECT_EQ(file->textFormat, TEXT_ANSI);
    EXPECT_EQ(file->readOnly, 0);
    EXPECT_EQ(ReadBytes(folder_.Path("out.txt")), "");
}

TEST_F(FileObjects, OpenFormsSetTheirDefaults) {
    WriteBytes(folder_.Path("in.txt"), "x");
    FileRecord* readOnly = OpenDynamic("in.txt", OPEN_MODE_READ, OPEN_SHARED_ALL | OPEN_NO_BUFFER);
    ASSERT_NE(readOnly, nullptr);
    EXPECT_EQ(readOnly->readOnly, 1);
    EXPECT_EQ(readOnly->textFormat, TEXT_UTF8);
    EXPECT_EQ(readOnly->buffer, nullptr);
    EXPECT_EQ(readOnly->bufferSize, FILE_BUFFER_SIZE);
}

TEST_F(FileObjects, OpenCreatesAMissingFileButOpenReadFails) {
    EXPECT_EQ(FileOpenRead(1, folder_.Name("missing.txt").c_str()), 0);
    EXPECT_FALSE(std::filesystem::exists(folder_.Path("missing.txt")));
    // The refused number names no file: everything on it does nothing.
    EXPECT_EQ(FileAtEnd(1), 0);
    EXPECT_EQ(FileWriteString(1, RT_TEXT("abc"), TEXT_UTF16), 0);
    EXPECT_EQ(FileError(1), 0);
    FileClose(1);

    EXPECT_NE(FileOpen(1, folder_.Name("missing.txt").c_str()), 0);
    EXPECT_TRUE(std::filesystem::exists(folder_.Path("missing.txt")));
    EXPECT_NE(FileAtEnd(1), 0);
}

TEST_F(FileObjects, SecondExclusiveOpenFailsWhileTheFirstIsOpen) {
    WideString name = folder_.Name("data.txt");
    ASSERT_NE(FileOpen(1, name.c_str()), 0);
    EXPECT_EQ(FileOpen(2, name.c_str()), 0);
    EXPECT_EQ(FileCreate(2, name.c_str(), OPEN_SHARED_ALL), 0);
    FileClose(1);
    EXPECT_NE(FileOpen(2, name.c_str()), 0);
}

TEST_F(FileObjects, SharedOutputAdmitsASharedReader) {
    WideString name = folder_.Name("out.txt");
    ASSERT_NE(FileCreate(0, name.c_str(), TEXT_ANSI | OPEN_SHARED_ALL), 0);
    EXPECT_NE(FileOpenEx(1, name.c_str(), OPEN_MODE_READ, OPEN_SHARED_ALL), 0);
    EXPECT_EQ(FileOpenRead(2, name.c_str()), 0) << "an exclusive reader is refused";
}

TEST_F(FileObjects, ReusingANumberClosesAndFlushesTheOldFile) {
    ASSERT_NE(FileCreate(0, folder_.Name("first.txt").c_str(), OPEN_SHARED_ALL), 0);
    EXPECT_EQ(FileWriteString(0, RT_TEXT("ab"), TEXT_UTF16), 4);
    EXPECT_EQ(ReadBytes(folder_.Path("first.txt")), "") << "small writes wait in the buffer";
    ASSERT_NE(FileCreate(0, folder_.Name("second.txt").c_str()), 0);
    EXPECT_EQ(ReadBytes(folder_.Path("first.txt")), std::string("a\0b\0", 4));
}

TEST_F(FileObjects, CloseOfAnUnknownNumberDoesNothingAndDynamicIdClosesEveryFile) {
    FileClose(1000);
    FileClose(5);
    ASSERT_NE(FileCreate(5, folder_.Name("a.txt").c_str()), 0);
    FileRecord* dynamic = OpenDynamic("b.txt", OPEN_MODE_CREATE);
    ASSERT_NE(dynamic, nullptr);
    FileWriteString(5, RT_TEXT("x"), TEXT_UTF16);
    FileWriteString(reinterpret_cast<ObjectId>(dynamic), RT_TEXT("y"), TEXT_UTF16);
    FileClose(DYNAMIC_ID);
    EXPECT_EQ(FileAtEnd(5), 0);
    EXPECT_EQ(ReadBytes(folder_.Path("a.txt")), std::string("x\0", 2));
    EXPECT_EQ(ReadBytes(folder_.Path("b.txt")), std::string("y\0", 2));
    // Both files are closed: exclusive opens succeed again.
    EXPECT_NE(FileOpen(6, folder_.Name("a.txt").c_str()), 0);
    EXPECT_NE(FileOpen(7, folder_.Name("b.txt").c_str()), 0);
}

TEST_F(FileObjects, AppendStartsAtTheEnd) {
    WriteBytes(folder_.Path("log.txt"), "one ");
    ASSERT_NE(FileOpenEx(1, folder_.Name("log.txt").c_str(), OPEN_MODE_READ_WRITE, OPEN_APPEND), 0);
    FileWriteString(1, RT_TEXT("two"), TEXT_ANSI);
    FileClose(1);
    EXPECT_EQ(ReadBytes(folder_.Path("log.txt")), "one two");
}

TEST(FileAtEnd, EmptyFileIsAtItsEndAtOnceAndAOneByteFileAfterItsByte) {
    TempFolder folder;
    WriteBytes(folder.Path("empty"), "");
    WriteBytes(folder.Path("one"), "z");
    for (int32_t flags : {0, OPEN_NO_BUFFER}) {
        int64_t atEnd = flags == OPEN_NO_BUFFER ? -1 : 1;
        ASSERT_NE(FileOpenEx(1, folder.Name("empty").c_str(), OPEN_MODE_READ, flags), 0);
        EXPECT_EQ(FileAtEnd(1), atEnd);
        auto* file = reinterpret_cast<FileRecord*>(
            FileOpenEx(DYNAMIC_ID, folder.Name("one").c_str(), OPEN_MODE_READ, flags));
        ASSERT_NE(file, nullptr);
        ObjectId id = reinterpret_cast<ObjectId>(file);
        EXPECT_EQ(FileAtEnd(id), 0);
        EXPECT_EQ(FileAtEnd(id), 0) << "the test gives its byte back";
        char byte = 0;
        EXPECT_EQ(FileBufferRead(file, &byte, 1), 1);
        EXPECT_EQ(byte, 'z');
        EXPECT_EQ(FileAtEnd(id), atEnd);
        FileClose(DYNAMIC_ID);
    }
}

TEST(FileError, WriteToAReadOnlyFileIsRefusedAndReported) {
    TempFolder folder;
    WriteBytes(folder.Path("in"), "abc");
    ASSERT_NE(FileOpenRead(1, folder.Name("in").c_str()), 0);
    EXPECT_EQ(FileWriteString(1, RT_TEXT("x"), TEXT_ANSI), 0);
    EXPECT_EQ(FileError(1), ERROR_ACCESS_DENIED);
    EXPECT_EQ(FileCloseChecked(1), ERROR_ACCESS_DENIED);
    EXPECT_EQ(ReadBytes(folder.Path("in")), "abc");
    EXPECT_EQ(FileCloseChecked(1), 0) << "the number is free again";
}

TEST(FileError, SuccessfulWritesReportNothing) {
    TempFolder folder;
    ASSERT_NE(FileCreate(1, folder.Name("out").c_str()), 0);
    std::string big(10000, 'q');
    FileWriteString(1, RT_TEXT("small"), TEXT_ANSI);
    auto* file = reinterpret_cast<FileRecord*>(
        FileOpenEx(DYNAMIC_ID, folder.Name("out2").c_str(), OPEN_MODE_CREATE, 0));
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(FileBufferWrite(file, big.data(), static_cast<int64_t>(big.size())), 10000);
    EXPECT_EQ(FileError(1), 0);
    EXPECT_EQ(FileCloseChecked(1), 0);
    EXPECT_EQ(FileCloseChecked(DYNAMIC_ID), 0);
    EXPECT_EQ(ReadBytes(folder.Path("out2")), big);
}

// A device that takes no byte: /dev/full, reached under Wine through drive Z:.
WideString FullDevice() {
#ifdef _WIN32
    return L"Z:\\dev\\full";
#else
    return u"/dev/full";
#endif
}

TEST(FileError, FullDeviceFailsTheFinalFlushAndALargeWriteAtOnce) {
    if (FileOpenEx(1, FullDevice().c_str(), OPEN_MODE_READ_WRITE, OPEN_SHARED_ALL) == 0) {
        GTEST_SKIP() << "no full device here";
    }
    FileWriteString(1, RT_TEXT("pending"), TEXT_ANSI);
    EXPECT_EQ(FileError(1), 0) << "nothing has been tried yet";
    EXPECT_EQ(FileCloseChecked(1), ERROR_DISK_FULL);

    ASSERT_NE(FileOpenEx(2, FullDevice().c_str(), OPEN_MODE_READ_WRITE, OPEN_SHARED_ALL), 0);
    std::basic_string<WCHAR> line(5000, RT_TEXT('x'));
    FileWriteString(2, line.c_str(), TEXT_ANSI);
    EXPECT_EQ(FileError(2), ERROR_DISK_FULL);
    FileClose(2);
}

TEST(FileError, DynamicCloseCheckedReportsAFailureAmongSeveralFiles) {
    TempFolder folder;
    ASSERT_NE(FileCreate(1, folder.Name("good").c_str()), 0);
    if (FileOpenEx(2, FullDevice().c_str(), OPEN_MODE_READ_WRITE, OPEN_SHARED_ALL) == 0) {
        GTEST_SKIP() << "no full device here";
    }
    FileWriteString(1, RT_TEXT("fine"), TEXT_ANSI);
    FileWriteString(2, RT_TEXT("lost"), TEXT_ANSI);
    EXPECT_EQ(FileCloseChecked(DYNAMIC_ID), ERROR_DISK_FULL);
    EXPECT_EQ(ReadBytes(folder.Path("good")), "fine");
}

#if RT_HAS_ALLOCATION_HOOK
TEST(FileError, FailedReadEndsTheDataAndIsReported) {
    TempFolder folder;
    WriteBytes(folder.Path("in"), std::string(10000, 'r'));
    struct Case {
        int32_t flags;
        int64_t failingRead;  // counted from the open
        int64_t bytesBefore;  // what FileBufferRead delivers before the failure
    } cases[] = {{0, 1, 0}, {0, 2, 4096}, {OPEN_NO_BUFFER, 1, 0}, {OPEN_NO_BUFFER, 3, 2}};
    for (const Case& c : cases) {
        auto* file = reinterpret_cast<FileRecord*>(
            FileOpenEx(DYNAMIC_ID, folder.Name("in").c_str(), OPEN_MODE_READ, c.flags));
        ASSERT_NE(file, nullptr);
        ObjectId id = reinterpret_cast<ObjectId>(file);
        PlatformFailRead(c.failingRead);
        int64_t delivered = 0;
        char byte;
        while (FileBufferRead(file, &byte, 1) == 1) {
            ++delivered;
        }
        PlatformFailRead(0);
        EXPECT_EQ(delivered, c.bytesBefore) << "read " << c.failingRead << " failing";
        EXPECT_EQ(FileError(id), ERROR_READ_FAULT);
        EXPECT_EQ(FileCloseChecked(id), ERROR_READ_FAULT);
    }
}

TEST(FileOpenEx, FailedAllocationsLeaveNoFileOrAWorkingUnbufferedOne) {
    TempFolder folder;
    WideString name = folder.Name("out");
    std::string content(6000, 'k');
    SweepAllocationFailures([&](int) {
        auto* file = reinterpret_cast<FileRecord*>(
            FileOpenEx(DYNAMIC_ID, name.c_str(), OPEN_MODE_CREATE, 0));
        if (file == nullptr) {
            return false;
        }
        FileBufferWrite(file, "head", 4);
        FileBufferWrite(file, content.data(), static_cast<int64_t>(content.size()));
        EXPECT_EQ(FileCloseChecked(reinterpret_cast<ObjectId>(file)), 0);
        EXPECT_EQ(ReadBytes(folder.Path("out")), "head" + content);
        return true;
    });
}
#endif

}  // namespace
}  // namespace rt::test
