// The file buffer: read-ahead, the backward seek before the first write, flush on read, and the
// transfers that bypass the buffer.
#include <gtest/gtest.h>

#include <string>

#include "runtime/files/files.h"
#include "support/support.h"

namespace rt::test {
namespace {

std::string Pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>('a' + i % 23);
    }
    return bytes;
}

class FileBuffer : public testing::Test {
  protected:
    void TearDown() override { FileClose(DYNAMIC_ID); }

    // Opens `content` for reading and writing, shared so that the test can look at the disk.
    FileRecord* Open(const std::string& content, int32_t flags = 0) {
        WriteBytes(folder_.Path("data"), content);
        return reinterpret_cast<FileRecord*>(FileOpenEx(DYNAMIC_ID, folder_.Name("data").c_str(),
                                                        OPEN_MODE_READ_WRITE,
                                                        OPEN_SHARED_ALL | flags));
    }
    std::string Disk() const { return ReadBytes(folder_.Path("data")); }

    std::string Read(FileRecord* file, int64_t bytes) {
        std::string out(static_cast<size_t>(bytes), '\0');
        out.resize(static_cast<size_t>(FileBufferRead(file, out.data(), bytes)));
        return out;
    }

    TempFolder folder_;
};

TEST_F(FileBuffer, ReadOneThenWriteOneOverwritesTheSecondByte) {
    std::string content = Pattern(10000);
    FileRecord* file = Open(content);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(Read(file, 1), "a");
    EXPECT_EQ(file->state, FILE_STATE_READING);
    EXPECT_EQ(file->fill, 4096);
    EXPECT_EQ(file->count, 4095);
    EXPECT_EQ(FileBufferWrite(file, "X", 1), 1);
    EXPECT_EQ(file->state, FILE_STATE_WRITING);
    EXPECT_EQ(file->count, 4095);
    FileClose(reinterpret_cast<ObjectId>(file));
    content[1] = 'X';
    EXPECT_EQ(Disk(), content);
}

TEST_F(FileBuffer, ReadAfterWriteFlushesFirstAndContinuesAfterTheWrittenBytes) {
    FileRecord* file = Open("0123456789");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(FileBufferWrite(file, "ab", 2), 2);
    EXPECT_EQ(Disk(), "0123456789") << "the write waits in the buffer";
    EXPECT_EQ(Read(file, 2), "23");
    EXPECT_EQ(file->state, FILE_STATE_READING);
    EXPECT_EQ(Disk(), "ab23456789");
}

TEST_F(FileBuffer, FlushWritesOnlyInTheWritingState) {
    FileRecord* file = Open("xyz");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(FileBufferFlush(file), 0);
    FileBufferWrite(file, "abcd", 4);
    EXPECT_EQ(FileBufferFlush(file), 4);
    EXPECT_EQ(file->state, FILE_STATE_WRITING);
    EXPECT_EQ(file->count, FILE_BUFFER_SIZE);
    EXPECT_EQ(FileBufferFlush(file), 0) << "nothing pending: a zero-byte write";
    EXPECT_EQ(Disk(), "abcd");
}

TEST_F(FileBuffer, LargeTransfersBypassTheBufferAndKeepTheOrder) {
    std::string content = Pattern(20000);
    FileRecord* file = Open(content);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(Read(file, 10), content.substr(0, 10));
    EXPECT_EQ(Read(file, 9000), content.substr(10, 9000));
    EXPECT_EQ(file->count, 0);
    EXPECT_EQ(Read(file, 990), content.substr(9010, 990));
    EXPECT_EQ(Read(file, 30000), content.substr(10000));
    EXPECT_EQ(Read(file, 1), "");

    std::string big = Pattern(5000);
    FileBufferWrite(file, "tail", 4);
    EXPECT_EQ(FileBufferWrite(file, big.data(), 5000), 5000);
    EXPECT_EQ(Disk(), content + "tail" + big) << "the pending bytes go first";
}

TEST_F(FileBuffer, AWriteThatFillsTheBufferExactlyFlushesBeforeIt) {
    FileRecord* file = Open("");
    ASSERT_NE(file, nullptr);
    std::string first = Pattern(4095);
    EXPECT_EQ(FileBufferWrite(file, first.data(), 4095), 4095);
    EXPECT_EQ(file->count, 1);
    EXPECT_EQ(FileBufferWrite(file, "!", 1), 1);
    EXPECT_EQ(Disk(), first);
    EXPECT_EQ(file->count, FILE_BUFFER_SIZE - 1);
    FileClose(reinterpret_cast<ObjectId>(file));
    EXPECT_EQ(Disk(), first + "!");
}

TEST_F(FileBuffer, UnbufferedFileTransfersStraightToTheSystem) {
    FileRecord* file = Open("hello world", OPEN_NO_BUFFER);
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(file->buffer, nullptr);
    EXPECT_EQ(Read(file, 6), "hello ");
    EXPECT_EQ(FileBufferWrite(file, "W", 1), 1);
    EXPECT_EQ(Disk(), "hello World");
    EXPECT_EQ(Read(file, 100), "orld");
}

}  // namespace
}  // namespace rt::test
