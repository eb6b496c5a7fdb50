#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/app.h"
#include "runtime/files/files.h"
#include "support/support.h"

namespace app {
namespace {

namespace fs = std::filesystem;
using rt::test::NamesIn;
using rt::test::ReadBytes;
using rt::test::TempFolder;
using rt::test::WideString;
using rt::test::WriteBytes;

std::vector<WideString> told;

void Record(const WCHAR* text) {
    told.push_back(text);
}

// Runs the action on `path` and returns what the user was told (empty: nothing).
std::vector<WideString> Act(const WideString& path, const WCHAR* suffix = RT_TEXT("-enc.")) {
    told.clear();
    int32_t mark = rt::StringBuilderMark();
    EXPECT_EQ(FileActionRun(path.c_str(), suffix, Record), 0);
    EXPECT_EQ(rt::StringBuilderMark(), mark) << "the builder is back at its mark";
    return told;
}

std::vector<WideString> Told(const WCHAR* reason, const WideString& path) {
    return {WideString(reason) + RT_TEXT("\n") + path};
}

// Encrypts `input` from a file in a fresh folder and returns the output's bytes.
std::string Encrypted(const std::string& input) {
    TempFolder folder;
    WriteBytes(folder.Path("in.txt"), input);
    EXPECT_TRUE(Act(folder.Name("in.txt")).empty());
    return ReadBytes(folder.Path("in-enc.txt"));
}

TEST(FileActionRun, EncryptsAndDecryptsTheExampleFile) {
    TempFolder folder;
    WriteBytes(folder.Path("notes.txt"), "abc\nPlain text");
    EXPECT_TRUE(Act(folder.Name("notes.txt")).empty());
    EXPECT_EQ(ReadBytes(folder.Path("notes-enc.txt")), "234\r\n!=2:? E6IE\r\n");
    EXPECT_EQ(WideString(CurrentLine), RT_TEXT("!=2:? E6IE"));

    EXPECT_TRUE(Act(folder.Name("notes-enc.txt"), RT_TEXT("-dec.")).empty());
    EXPECT_EQ(ReadBytes(folder.Path("notes-enc-dec.txt")), "abc\r\nPlain text\r\n");
    EXPECT_EQ(ReadBytes(folder.Path("notes.txt")), "abc\nPlain text");
}

TEST(FileActionRun, OutputIsNamedBesideTheInputWithTheSuffixBeforeTheExtension) {
    TempFolder folder;
    for (const char* name : {"archive.tar.gz", "README", ".profile", "name.with space"}) {
        WriteBytes(folder.Path(name), "x");
        EXPECT_TRUE(Act(folder.Name(name)).empty()) << name;
    }
#ifdef _WIN32
    // Windows drops the dot at the end of a name when it creates the file.
    const std::string end;
#else
    const std::string end = ".";
#endif
    EXPECT_EQ(NamesIn(folder.Path()),
              (std::vector<std::string>{".profile", ".profile-enc" + end, "README",
                                        "README-enc" + end, "archive.tar-enc.gz", "archive.tar.gz",
                                        "name.with space", "name.with space-enc" + end}));
    EXPECT_EQ(ReadBytes(folder.Path("README-enc" + end)), "I\r\n");
}

TEST(FileActionRun, LineStructureBecomesCrLfAfterEveryLine) {
    EXPECT_EQ(Encrypted(""), "");
    EXPECT_EQ(Encrypted("\r\n\r\n"), "\r\n\r\n");
    EXPECT_EQ(Encrypted("a\rb\n\nc"), "2\r\n3\r\n\r\n4\r\n");
    EXPECT_EQ(Encrypted(std::string("ab\0cd\r\n", 7)), "23\r\n45\r\n");
    EXPECT_EQ(Encrypted(" \tx y\t"), " \tI J\t\r\n");
}

TEST(FileActionRun, LongLineIsTransformedWhole) {
    std::string line;
    std::string rotated;
    for (int i = 0; i < 5000; ++i) {
        line += static_cast<char>('!' + i % 94);
        rotated += static_cast<char>('!' + (i + 47) % 94);
    }
    EXPECT_EQ(Encrypted(line + "\r\n"), rotated + "\r\n");
}

TEST(FileActionRun, LineTooLongForTheBuilderIsToldAndNoCopyIsLeft) {
    // The builder's positions bounded at 64 KiB, on a thread of its own (a fresh builder): a line
    // of 20000 characters still fits, one of 40000 (80000 bytes) does not; the program goes on.
    TempFolder folder;
    WriteBytes(folder.Path("short.txt"), "ab\r\n" + std::string(20000, 'x') + "\r\n");
    WriteBytes(folder.Path("long.txt"), "ab\r\n" + std::string(40000, 'x') + "\r\ncd\r\n");
    std::thread([&] {
        rt::StringBuilderEnsure();
        rt::StringBuilderLimitPositions(65536);
        EXPECT_TRUE(Act(folder.Name("short.txt")).empty());
        EXPECT_EQ(Act(folder.Name("long.txt")),
                  Told(RT_TEXT("The file could not be read completely:"), folder.Name("long.txt")));
        rt::StringBuilderLimitPositions(0);
    }).join();
    EXPECT_EQ(ReadBytes(folder.Path("short-enc.txt")), "23\r\n" + std::string(20000, 'I') + "\r\n");
    EXPECT_EQ(NamesIn(folder.Path()),
              (std::vector<std::string>{"long.txt", "short-enc.txt", "short.txt"}));
}

TEST(FileActionRun, EightBitCharactersPassUnchanged) {
    std::string high;
    for (int c = 128; c <= 255; ++c) {
        high += static_cast<char>(c);
    }
    EXPECT_EQ(Encrypted(high + "!\r\n"), high + "P\r\n");
}

TEST(FileActionRun, ExistingOutputIsReplaced) {
    TempFolder folder;
    WriteBytes(folder.Path("in.txt"), "abc");
    WriteBytes(folder.Path("in-enc.txt"), std::string(10000, 'z'));
    EXPECT_TRUE(Act(folder.Name("in.txt")).empty());
    EXPECT_EQ(ReadBytes(folder.Path("in-enc.txt")), "234\r\n");
}

TEST(FileActionRun, MissingInputIsToldAndNothingIsCreated) {
    TempFolder folder;
    EXPECT_EQ(Act(folder.Name("missing.txt")),
              Told(RT_TEXT("The file could not be opened:"), folder.Name("missing.txt")));
    EXPECT_TRUE(NamesIn(folder.Path()).empty());
}

TEST(FileActionRun, FolderAsInputIsToldAndNothingIsCreated) {
    TempFolder folder;
    fs::create_directory(folder.Path("notes.d"));
    EXPECT_EQ(Act(folder.Name("notes.d")),
              Told(RT_TEXT("The file could not be opened:"), folder.Name("notes.d")));
    EXPECT_EQ(NamesIn(folder.Path()), std::vector<std::string>{"notes.d"});
}

// A handle of another user of the file, closed with the object.
class OtherHandle {
  public:
    OtherHandle(const WideString& path, DWORD access, DWORD share)
        : handle_(CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr)) {}
    ~OtherHandle() {
        if (handle_ != INVALID_HANDLE_VALUE) {
            CloseHandle(handle_);
        }
    }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }

  private:
    HANDLE handle_;
};

TEST(FileActionRun, InputThatAViewerHoldsOpenIsEncrypted) {
    TempFolder folder;
    WriteBytes(folder.Path("notes.txt"), "abc\r\n");
    fs::permissions(folder.Path("notes.txt"),
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    // A viewer reads the file and lets others only read it: nobody may open it for writing now.
    OtherHandle viewer(folder.Name("notes.txt"), GENERIC_READ, FILE_SHARE_READ);
    ASSERT_TRUE(viewer.valid());
    EXPECT_TRUE(Act(folder.Name("notes.txt")).empty());
    EXPECT_EQ(ReadBytes(folder.Path("notes-enc.txt")), "234\r\n");
    fs::permissions(folder.Path("notes.txt"), fs::perms::owner_write, fs::perm_options::add);
}

TEST(FileActionRun, InputLockedByAWriterIsToldAndNothingIsCreated) {
    TempFolder folder;
    WriteBytes(folder.Path("notes.txt"), "abc\r\n");
    OtherHandle writer(folder.Name("notes.txt"), GENERIC_READ | GENERIC_WRITE, 0);
    ASSERT_TRUE(writer.valid());
    EXPECT_EQ(Act(folder.Name("notes.txt")),
              Told(RT_TEXT("The file could not be opened:"), folder.Name("notes.txt")));
    EXPECT_EQ(NamesIn(folder.Path()), std::vector<std::string>{"notes.txt"});
}

TEST(FileActionRun, OutputThatCannotBeCreatedIsToldAndTheInputIsReleased) {
    TempFolder folder;
    WriteBytes(folder.Path("notes.txt"), "abc\r\n");
    fs::create_directory(folder.Path("notes-enc.txt"));
    EXPECT_EQ(Act(folder.Name("notes.txt")),
              Told(RT_TEXT("The file could not be created:"), folder.Name("notes-enc.txt")));
    EXPECT_TRUE(fs::is_directory(folder.Path("notes-enc.txt")));
    OtherHandle exclusive(folder.Name("notes.txt"), GENERIC_READ | GENERIC_WRITE, 0);
    EXPECT_TRUE(exclusive.valid()) << "the input was left open";
}

#ifndef _WIN32
TEST(FileActionRun, FifoWithoutAWriterGivesAnEmptyCopyAtOnce) {
    TempFolder folder;
    ASSERT_EQ(mkfifo(folder.Path("in.txt").c_str(), 0600), 0);
    // Should the open wait for a writer, one comes after ten seconds, so that the test fails
    // instead of hanging.
    std::atomic<bool> done{false};
    std::atomic<bool> rescued{false};
    std::thread rescuer([&] {
        for (int i = 0; i < 1000 && !done; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        int writer = done ? -1 : open(folder.Path("in.txt").c_str(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0) {
            rescued = true;
            close(writer);
        }
    });
    EXPECT_TRUE(Act(folder.Name("in.txt")).empty());
    done = true;
    rescuer.join();
    EXPECT_FALSE(rescued) << "the open waited for a writer";
    EXPECT_EQ(ReadBytes(folder.Path("in-enc.txt")), "");
}
#endif

// An output whose writes fail: a link from the output's name to a device that is always full.
bool OutputOnFullDevice(const fs::path& output) {
    std::error_code error;
    fs::create_symlink("/dev/full", output, error);
    return !error && fs::exists("/dev/full");
}

TEST(FileActionRun, OutputThatCannotBeWrittenIsRemovedAndTold) {
    // One line that stays in the buffer until the final flush, and enough to fill it many times.
    for (size_t size : {size_t{5}, size_t{100000}}) {
        TempFolder folder;
        WriteBytes(folder.Path("notes.txt"), std::string(size - 2, 'a') + "\r\n");
        if (!OutputOnFullDevice(folder.Path("notes-enc.txt"))) {
            GTEST_SKIP() << "no full device to write to here";
        }
        EXPECT_EQ(Act(folder.Name("notes.txt")),
                  Told(RT_TEXT("The file could not be written completely and was removed:"),
                       folder.Name("notes-enc.txt")))
            << size << " bytes";
        EXPECT_EQ(NamesIn(folder.Path()), std::vector<std::string>{"notes.txt"})
            << size << " bytes";
    }
}

#ifndef _WIN32
// The runtime may have to stop the program while a copy is made, and on any thread: the copy is
// removed first. A second thread feeds the input through a FIFO and stops the program once the
// action has copied what it was given and waits for more.
TEST(FileActionRunDeathTest, StopDuringTheCopyRemovesTheCopy) {
    TempFolder folder;
    ASSERT_EQ(mkfifo(folder.Path("in.txt").c_str(), 0600), 0);
    EXPECT_DEATH(
        {
            // Opened for reading and writing, the FIFO has a writer before the action opens it,
            // which therefore waits for data instead of meeting the end at once.
            int feed = open(folder.Path("in.txt").c_str(), O_RDWR);
            std::thread feeder([&] {
                std::string lines;
                while (lines.size() < 65536) {
                    lines += "abc\r\n";
                }
                if (write(feed, lines.data(), lines.size()) > 0) {
                    while (ReadBytes(folder.Path("in-enc.txt")).size() < 32768) {
                        std::this_thread::sleep_for(std::chrono::milliseconds(10));
                    }
                    std::this_thread::sleep_for(std::chrono::milliseconds(200));
                    rt::FatalStop(RT_TEXT("stopped during the copy"));
                }
            });
            FileActionRun(folder.Name("in.txt").c_str(), RT_TEXT("-enc."), Record);
        },
        "stopped during the copy");
    EXPECT_EQ(NamesIn(folder.Path()), std::vector<std::string>{"in.txt"});
}
#endif

#if RT_HAS_ALLOCATION_HOOK
const WCHAR* const READ_FAILED = RT_TEXT("The file could not be read completely:");

TEST(FileActionRun, InputThatFailsToReadPartWayIsToldAndNoCopyIsLeft) {
    TempFolder folder;
    std::string input;
    while (input.size() < 20000) {
        input += std::string(98, 'a') + "\r\n";
    }
    WriteBytes(folder.Path("notes.txt"), input);
    // The first read of the input, then one after two buffers' worth have been copied.
    for (int64_t failingRead : {1, 3}) {
        PlatformFailRead(failingRead);
        EXPECT_EQ(Act(folder.Name("notes.txt")), Told(READ_FAILED, folder.Name("notes.txt")))
            << "read " << failingRead << " failing";
        PlatformFailRead(0);
        EXPECT_EQ(NamesIn(folder.Path()), std::vector<std::string>{"notes.txt"})
            << "read " << failingRead << " failing";
    }
}

TEST(FileActionRun, IncompleteCopyIsRemovedOrElseEmptiedAndTheMessageSaysWhich) {
    const WideString removedAfterWrite =
        RT_TEXT("The file could not be written completely and was removed:");
    const WideString emptiedAfterWrite = RT_TEXT(
        "The file could not be written completely. The incomplete copy could not be removed and "
        "was emptied:");
    const WideString emptied = RT_TEXT("The incomplete copy could not be removed and was emptied:");
    for (bool readFails : {true, false}) {
        // Held: another program has the old copy open and lets others read and write it, but not
        // delete it.
        for (bool held : {false, true}) {
            TempFolder folder;
            WideString input = folder.Name("notes.txt");
            WideString output = folder.Name("notes-enc.txt");
            WriteBytes(folder.Path("notes.txt"), std::string(20000, 'a') + "\r\n");
            WriteBytes(folder.Path("notes-enc.txt"), "old copy");
            std::optional<OtherHandle> holder;
            if (held) {
                holder.emplace(output, GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE);
                ASSERT_TRUE(holder->valid());
            }
            readFails ? PlatformFailRead(3) : PlatformFailWrite(1);
            std::vector<WideString> said = Act(input);
            PlatformFailRead(0);
            PlatformFailWrite(0);
            std::vector<WideString> expected =
                readFails && held
                    ? std::vector<WideString>{WideString(READ_FAILED) + RT_TEXT("\n") + input +
                                              RT_TEXT("\n") + emptied + RT_TEXT("\n") + output}
                : readFails ? Told(READ_FAILED, input)
                : held      ? Told(emptiedAfterWrite.c_str(), output)
                            : Told(removedAfterWrite.c_str(), output);
            EXPECT_EQ(said, expected) << "read fails: " << readFails << ", held: " << held;
            EXPECT_EQ(fs::exists(folder.Path("notes-enc.txt")), held);
            if (held) {
                EXPECT_EQ(fs::file_size(folder.Path("notes-enc.txt")), 0u);
            }
        }
    }
}

// Under any one failed allocation the action either makes the exact copy and says nothing, or
// tells the user and leaves no output behind, or (when the string heap is exhausted) stops the
// program as the string library does, and then too leaves no output behind; it never leaves a
// wrong copy without a word. Each run is a child process, since a stop ends the process that runs
// it. A line whose variable cannot be had, or, when it is longer than its first buffer and than
// the builder's room, whose buffer or builder cannot grow, cannot be read whole: the user is told.
TEST(FileActionRunDeathTest, FailedAllocationNeverLeavesAWrongCopyUntold) {
    constexpr int EXACT = 0;
    constexpr int WRONG = 1;
    constexpr int NOTHING_FAILED = 3;
    constexpr int TOLD_READ_FAILED = 4;
    constexpr int TOLD_OTHER = 5;
    struct Case {
        std::string input;
        std::string output;
    } cases[] = {
        {"abc\r\nPlain text\r\n", "234\r\n!=2:? E6IE\r\n"},
        {std::string(100000, 'x'), std::string(100000, 'I') + "\r\n"},
    };
    for (const Case& c : cases) {
        TempFolder folder;
        WriteBytes(folder.Path("notes.txt"), c.input);
        int outcome = -1;
        auto acceptable = [&](int status) {
            outcome = -1;
            for (int code : {EXACT, NOTHING_FAILED, TOLD_READ_FAILED, TOLD_OTHER}) {
                if (testing::ExitedWithCode(code)(status)) {
                    outcome = code;
                }
            }
            if (testing::KilledBySignal(SIGABRT)(status)) {
                outcome = SIGABRT;
            }
            return outcome != -1;
        };
        int stops = 0;
        bool readFailureTold = false;
        for (int nth = 1; outcome != NOTHING_FAILED && nth < 1000; ++nth) {
            EXPECT_EXIT(
                {
                    fs::remove(folder.Path("notes-enc.txt"));
                    told.clear();
                    PlatformFailAllocation(nth);
                    FileActionRun(folder.Name("notes.txt").c_str(), RT_TEXT("-enc."), Record);
                    bool failed = !PlatformAllocationFailurePending();
                    PlatformFailAllocation(0);
                    bool exact =
                        told.empty() && ReadBytes(folder.Path("notes-enc.txt")) == c.output;
                    bool removed = told.size() == 1 && !fs::exists(folder.Path("notes-enc.txt"));
                    bool readFailed =
                        removed && told[0] == Told(READ_FAILED, folder.Name("notes.txt"))[0];
                    std::_Exit(!failed      ? NOTHING_FAILED
                               : exact      ? EXACT
                               : readFailed ? TOLD_READ_FAILED
                               : removed    ? TOLD_OTHER
                                            : WRONG);
                },
                acceptable, "")
                << "allocation " << nth << " failing, input of " << c.input.size() << " bytes";
            if (outcome == SIGABRT) {
                stops += 1;
                EXPECT_FALSE(fs::exists(folder.Path("notes-enc.txt")))
                    << "a stop at allocation " << nth << " left the copy";
            }
            readFailureTold = readFailureTold || outcome == TOLD_READ_FAILED;
        }
        EXPECT_EQ(outcome, NOTHING_FAILED);
        EXPECT_LT(stops, 100) << "some failures must be handled by the action itself";
        EXPECT_TRUE(readFailureTold) << c.input.size() << " bytes";
    }
}
#endif

}  // namespace
}  // namespace app
