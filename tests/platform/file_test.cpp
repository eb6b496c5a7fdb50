// Contract of the file calls the runtime relies on, on both builds: under Wine the same cases check
// the POSIX emulation's choices against Windows' behaviour.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/support.h"

namespace rt::test {
namespace {

constexpr DWORD READ_WRITE = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE Open(const WideString& name, DWORD access, DWORD share, DWORD disposition) {
    return CreateFileW(name.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

// The error of an open that must fail.
DWORD OpenError(const WideString& name, DWORD access, DWORD share, DWORD disposition) {
    HANDLE handle = Open(name, access, share, disposition);
    if (handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
        return ERROR_SUCCESS;
    }
    return GetLastError();
}

DWORD Write(HANDLE file, const std::string& bytes) {
    DWORD written = 0xDEAD;
    EXPECT_TRUE(WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    return written;
}

std::string Read(HANDLE file, DWORD size) {
    std::string bytes(size, '\0');
    DWORD got = 0xDEAD;
    EXPECT_TRUE(ReadFile(file, bytes.data(), size, &got, nullptr));
    bytes.resize(got);
    return bytes;
}

class File : public testing::Test {
  protected:
    TempFolder folder_;
    WideString name_ = folder_.Name("data.bin");
};

TEST_F(File, CreateNewCreatesOnceThenReportsFileExists) {
    HANDLE file = Open(name_, READ_WRITE, 0, CREATE_NEW);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    EXPECT_EQ(OpenError(name_, READ_WRITE, 0, CREATE_NEW), static_cast<DWORD>(ERROR_FILE_EXISTS));
}

TEST_F(File, CreateAlwaysTruncatesAnExistingFileAndSaysItExisted) {
    SetLastError(1234);
    HANDLE file = Open(name_, READ_WRITE, 0, CREATE_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    CloseHandle(file);
    WriteBytes(folder_.Path("data.bin"), "old content");
    file = Open(name_, READ_WRITE, 0, CREATE_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    CloseHandle(file);
    EXPECT_EQ(ReadBytes(folder_.Path("data.bin")), "");
}

TEST_F(File, OpenAlwaysKeepsContentAndCreatesWhenMissing) {
    HANDLE file = Open(name_, READ_WRITE, 0, OPEN_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    Write(file, "kept");
    CloseHandle(file);
    file = Open(name_, READ_WRITE, 0, OPEN_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(Read(file, 100), "kept");
    CloseHandle(file);
}

TEST_F(File, OpenExistingTellsMissingFileFromMissingFolder) {
    EXPECT_EQ(OpenError(name_, GENERIC_READ, 0, OPEN_EXISTING),
              static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(OpenError(folder_.Name("no-folder/data.bin"), GENERIC_READ, 0, OPEN_EXISTING),
              static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(OpenError(folder_.Name("no-folder/data.bin"), READ_WRITE, 0, CREATE_ALWAYS),
              static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(OpenError(name_, GENERIC_WRITE, 0, TRUNCATE_EXISTING),
              static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(File, TruncateExistingEmptiesTheFile) {
    WriteBytes(folder_.Path("data.bin"), "something");
    HANDLE file = Open(name_, GENERIC_WRITE, 0, TRUNCATE_EXISTING);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    EXPECT_EQ(ReadBytes(folder_.Path("data.bin")), "");
}

TEST_F(File, OpeningAFolderIsRefused) {
    WideString folder = WidePath(folder_.Path());
    EXPECT_EQ(OpenError(folder, GENERIC_READ, SHARE_ALL, OPEN_EXISTING),
              static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(OpenError(folder, READ_WRITE, SHARE_ALL, OPEN_ALWAYS),
              static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

// Linux names: under Wine in the C locale (as the tests run) the Unix side cannot hold non-ASCII
// names at all, so these run natively only.
#ifndef _WIN32
TEST_F(File, NonAsciiNamesAreTheSystemsNames) {
    std::filesystem::path expected(RT_TEXT("\u00e9t\u00e9 \u20ac.txt"));
    WideString name = WidePath(folder_.Path() / expected);
    HANDLE file = Open(name, READ_WRITE, 0, CREATE_NEW);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    Write(file, "summer");
    CloseHandle(file);
    std::filesystem::directory_iterator entry(folder_.Path());
    ASSERT_NE(entry, std::filesystem::directory_iterator());
    EXPECT_EQ(entry->path().filename(), expected);
    file = Open(name, GENERIC_READ, 0, OPEN_EXISTING);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Read(file, 100), "summer");
    CloseHandle(file);
}

TEST_F(File, BackslashIsAnOrdinaryCharacterOfALinuxName) {
    HANDLE file = Open(folder_.Name("a\\b.txt"), READ_WRITE, 0, CREATE_NEW);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    EXPECT_TRUE(std::filesystem::is_regular_file(folder_.Path("a\\b.txt")));
}
#endif

TEST_F(File, ExclusiveHandleRefusesEveryOtherOpenAndIsRefusedByAnyHandle) {
    HANDLE first = Open(name_, READ_WRITE, 0, CREATE_ALWAYS);
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    Write(first, "precious");
    EXPECT_EQ(OpenError(name_, GENERIC_READ, SHARE_ALL, OPEN_EXISTING),
              static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    // A refused CREATE_ALWAYS must not have truncated the file.
    EXPECT_EQ(OpenError(name_, READ_WRITE, SHARE_ALL, CREATE_ALWAYS),
              static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    CloseHandle(first);
    EXPECT_EQ(ReadBytes(folder_.Path("data.bin")), "precious");

    HANDLE shared = Open(name_, GENERIC_READ, SHARE_ALL, OPEN_EXISTING);
    ASSERT_NE(shared, INVALID_HANDLE_VALUE);
    EXPECT_EQ(OpenError(name_, GENERIC_READ, 0, OPEN_EXISTING),
              static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    CloseHandle(shared);
    HANDLE again = Open(name_, READ_WRITE, 0, OPEN_EXISTING);
    EXPECT_NE(again, INVALID_HANDLE_VALUE);
    CloseHandle(again);
}

TEST_F(File, ShareModesAreCheckedInBothDirections) {
    WriteBytes(folder_.Path("data.bin"), "x");
    // The existing handle shares reading only: a writer is refused, a reader admitted...
    HANDLE reader = Open(name_, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    EXPECT_EQ(OpenError(name_, GENERIC_WRITE, SHARE_ALL, OPEN_EXISTING),
              static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    // ...unless the new handle does not share reading with the existing reader.
    EXPECT_EQ(OpenError(name_, GENERIC_READ, FILE_SHARE_WRITE, OPEN_EXISTING),
              static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    HANDLE second = Open(name_, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    EXPECT_NE(second, INVALID_HANDLE_VALUE);
    CloseHandle(second);
    CloseHandle(reader);

    // A writer that shares everything admits a new writer only if that one shares writing.
    HANDLE writer = Open(name_, GENERIC_WRITE, SHARE_ALL, OPEN_EXISTING);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(OpenError(name_, GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING),
              static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    HANDLE other = Open(name_, GENERIC_WRITE, FILE_SHARE_WRITE, OPEN_EXISTING);
    EXPECT_NE(other, INVALID_HANDLE_VALUE);
    CloseHandle(other);
    CloseHandle(writer);
}

TEST_F(File, ReadAtTheEndSucceedsWithZeroBytes) {
    HANDLE file = Open(name_, READ_WRITE, 0, CREATE_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Write(file, "abc"), 3u);
    EXPECT_EQ(Read(file, 10), "");
    EXPECT_EQ(SetFilePointer(file, 1, nullptr, FILE_BEGIN), 1u);
    EXPECT_EQ(Read(file, 10), "bc");
    CloseHandle(file);
}

TEST_F(File, SetFilePointerMovesIn64Bits) {
    HANDLE file = Open(name_, READ_WRITE, 0, CREATE_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    Write(file, "0123456789");
    // 5 GiB + 2: high part 1, low part 0x40000002.
    LONG high = 1;
    EXPECT_EQ(SetFilePointer(file, 0x40000002, &high, FILE_BEGIN), 0x40000002u);
    EXPECT_EQ(high, 1);
    Write(file, "z");
    high = 0;
    EXPECT_EQ(SetFilePointer(file, 0, &high, FILE_END), 0x40000003u);
    EXPECT_EQ(high, 1);
    // Back to 3, by a negative 64-bit distance split into its halves.
    int64_t back = 3 - int64_t{0x140000003};
    high = static_cast<LONG>(back >> 32);
    EXPECT_EQ(SetFilePointer(file, static_cast<LONG>(back), &high, FILE_CURRENT), 3u);
    EXPECT_EQ(high, 0);
    EXPECT_EQ(Read(file, 2), "34");
    CloseHandle(file);
}

TEST_F(File, SetFilePointerRefusesANegativePositionAndKeepsThePosition) {
    HANDLE file = Open(name_, READ_WRITE, 0, CREATE_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    Write(file, "abc");
    EXPECT_EQ(SetFilePointer(file, -4, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
    EXPECT_EQ(SetFilePointer(file, -1, nullptr, FILE_CURRENT), 2u);
    // A position whose low half is 0xFFFFFFFF succeeds with the last error cleared.
    SetLastError(1234);
    LONG high = 0;
    EXPECT_EQ(SetFilePointer(file, -1, &high, FILE_BEGIN), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(high, 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    CloseHandle(file);
}

TEST_F(File, HandleWithoutWriteAccessRefusesWritesAndWithoutReadAccessReads) {
    WriteBytes(folder_.Path("data.bin"), "abc");
    HANDLE reader = Open(name_, GENERIC_READ, 0, OPEN_EXISTING);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    DWORD written = 77;
    EXPECT_FALSE(WriteFile(reader, "x", 1, &written, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(written, 0u);
    CloseHandle(reader);

    HANDLE writer = Open(name_, GENERIC_WRITE, 0, OPEN_EXISTING);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    char byte;
    DWORD got = 77;
    EXPECT_FALSE(ReadFile(writer, &byte, 1, &got, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(got, 0u);
    CloseHandle(writer);
    EXPECT_EQ(ReadBytes(folder_.Path("data.bin")), "abc");
}

// /dev/full takes no byte; under Wine the same device is reached through drive Z:.
#ifdef _WIN32
const WideString FULL_DEVICE = L"Z:\\dev\\full";
#else
const WideString FULL_DEVICE = u"/dev/full";
#endif

TEST(WriteFile, FullDeviceFailsWithDiskFull) {
    HANDLE file = Open(FULL_DEVICE, GENERIC_WRITE, SHARE_ALL, OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE) {
        GTEST_SKIP() << "no /dev/full here";
    }
    char bytes[4096] = {};
    DWORD written = 77;
    EXPECT_FALSE(WriteFile(file, bytes, sizeof bytes, &written, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
    EXPECT_EQ(written, 0u);
    CloseHandle(file);
}

TEST(CreateFileW, CreatingOverADeviceOpensItAsItIs) {
    HANDLE existing = Open(FULL_DEVICE, READ_WRITE, SHARE_ALL, OPEN_EXISTING);
    if (existing == INVALID_HANDLE_VALUE) {
        GTEST_SKIP() << "no /dev/full here";
    }
    CloseHandle(existing);
    HANDLE file = Open(FULL_DEVICE, READ_WRITE, SHARE_ALL, CREATE_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
    CloseHandle(file);
}

TEST_F(File, DeleteFileRemovesUnlessAHandleDoesNotShareDeletion) {
    EXPECT_FALSE(DeleteFileW(name_.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    HANDLE exclusive = Open(name_, READ_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, CREATE_ALWAYS);
    ASSERT_NE(exclusive, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(DeleteFileW(name_.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    CloseHandle(exclusive);

    EXPECT_TRUE(DeleteFileW(name_.c_str()));
    EXPECT_FALSE(std::filesystem::exists(folder_.Path("data.bin")));
}

TEST_F(File, DeleteFileSucceedsWhileEveryHandleSharesDeletion) {
    HANDLE shared = Open(name_, READ_WRITE, SHARE_ALL, CREATE_ALWAYS);
    ASSERT_NE(shared, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(DeleteFileW(name_.c_str()));
    CloseHandle(shared);
    EXPECT_FALSE(std::filesystem::exists(folder_.Path("data.bin")));
}

// A closed file's handle, and one that names a thread, are refused by the transfers as no file.
TEST(FileHandles, HandlesOfNoOpenFileAreRefused) {
    TempFolder folder;
    HANDLE closed = Open(folder.Name("x"), READ_WRITE, 0, CREATE_ALWAYS);
    ASSERT_NE(closed, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CloseHandle(closed));
    HANDLE thread = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(),
                                &thread, SYNCHRONIZE, FALSE, 0));
    for (HANDLE handle : {closed, thread}) {
        char byte = 'x';
        DWORD count;
        EXPECT_FALSE(WriteFile(handle, &byte, 1, &count, nullptr));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        EXPECT_FALSE(ReadFile(handle, &byte, 1, &count, nullptr));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    }
    CloseHandle(thread);
}

}  // namespace
}  // namespace rt::test
