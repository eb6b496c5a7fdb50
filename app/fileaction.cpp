// The file work of the encrypt and decrypt actions once the input has been chosen: the output
// name, the line-by-line ROT47 copy, and what the user is told when the copy cannot be made.
//
// The input is opened before the output is created and only for reading, so that a missing or
// unreadable input leaves nothing behind and a read-only file, or one another program holds open
// for reading, can still be copied. A copy that could not be written whole is removed rather than
// left looking complete, and so is a copy of an input that could not be read whole (a line too long
// for memory among them), and so is a copy in progress when the runtime has to stop the program;
// a copy that cannot be removed is emptied. Failures are told through the routine the caller
// passes, with what became of the copy: the Windows action shows a message box, tests record the
// text.
//
// Runs on the thread of the event loop. It uses the fixed file numbers 0 (output) and 1 (input) and
// the program-wide line variable, so one action runs at a time.
#include "app.h"

#include "runtime/files/files.h"

namespace app {

WCHAR* CurrentLine = nullptr;

namespace {

using rt::ObjectId;

constexpr ObjectId OUTPUT_FILE = 0;
constexpr ObjectId INPUT_FILE = 1;
constexpr int32_t OUTPUT_FLAGS = rt::TEXT_ANSI | rt::OPEN_SHARED_ALL;
static_assert(OUTPUT_FLAGS == 0x40018);
constexpr int32_t INPUT_FLAGS = rt::TEXT_ANSI | rt::OPEN_SHARED_READ;

// Tells the user `reason`, a line break and `path`, and when `more` is given, a line break, `more`,
// a line break and `morePath`.
void Tell(UserNotice tell, const WCHAR* reason, const WCHAR* path, const WCHAR* more = nullptr,
          const WCHAR* morePath = nullptr) {
    int32_t mark = rt::StringBuilderMark();
    rt::StringAppend(reason);
    rt::StringAppend(RT_TEXT("\n"));
    rt::StringAppend(path);
    if (more != nullptr) {
        rt::StringAppend(RT_TEXT("\n"));
        rt::StringAppend(more);
        rt::StringAppend(RT_TEXT("\n"));
        rt::StringAppend(morePath);
    }
    rt::StringTerminate();
    tell(reinterpret_cast<const WCHAR*>(reinterpret_cast<const char*>(rt::StringBuilderBase()) +
                                        mark));
    rt::StringBuilderRewind(mark);
}

// Lines copied between two looks at the output's write error.
constexpr int64_t ERROR_CHECK_LINES = 1024;

enum class CopyOutcome { Complete, ReadFailed, WriteFailed };

// Copies every line of the input to the output, rotated, each followed by CR LF. A line that could
// not be read whole (no memory for it, too long for the string builder or for its variable, or a
// line cut short because its buffer could not grow) ends
// the copy, and so does a failed write, since the copy is removed anyway; a failed read of the
// input ends its data early and is looked at when the loop has ended. The output's error is looked
// at only now and then, so that the look costs nothing next to the copy. Both files are closed;
// the output's final flush counts as a write.
CopyOutcome CopyLines() {
    bool readWhole = true;
    for (int64_t line = 1; rt::FileAtEnd(INPUT_FILE) == 0; ++line) {
        if (line % ERROR_CHECK_LINES == 0 && rt::FileError(OUTPUT_FILE) != 0) {
            break;
        }
        int32_t mark = rt::StringBuilderMark();
        // The line is rotated while it is copied into its variable: one pass instead of an
        // assignment and a second one over the variable, with the same variable, block and
        // builder as those two would leave. A line too long for the memory left for text is given
        // up like a line that could not be read.
        if (rt::FileReadLine(INPUT_FILE, rt::TEXT_ANSI, mark) == nullptr ||
            rt::FileLineCutShort(INPUT_FILE) != 0 ||
            !rt::StringAssignChecked(&CurrentLine, mark, Rot47Copy)) {
            rt::StringBuilderRewind(mark);
            readWhole = false;
            break;
        }
        rt::FileWriteLine(OUTPUT_FILE, CurrentLine, rt::TEXT_ANSI);
    }
    bool read = rt::FileCloseChecked(INPUT_FILE) == 0 && readWhole;
    bool written = rt::FileCloseChecked(OUTPUT_FILE) == 0;
    return !read      ? CopyOutcome::ReadFailed
           : !written ? CopyOutcome::WriteFailed
                      : CopyOutcome::Complete;
}

// What became of a copy that could not be made whole.
enum class Discarded { Removed, Emptied, Kept };

// Closes the incomplete copy if it is still open and removes it. When the removal is refused
// (another program holds the file and does not let it be deleted), the copy is created over,
// empty, so that nothing torn is left looking complete: whoever holds the file lets it be written,
// or the copy could not have been created.
Discarded DiscardCopy(const WCHAR* outputPath) {
    rt::FileClose(OUTPUT_FILE);
    if (DeleteFileW(outputPath)) {
        return Discarded::Removed;
    }
    if (rt::FileCreate(OUTPUT_FILE, outputPath, OUTPUT_FLAGS | rt::OPEN_NO_BUFFER) != 0 &&
        rt::FileCloseChecked(OUTPUT_FILE) == 0) {
        return Discarded::Emptied;
    }
    return Discarded::Kept;
}

void DiscardCopyAtStop(void* outputPath) {
    DiscardCopy(static_cast<const WCHAR*>(outputPath));
}

// Tells the user that the copy could not be made whole, and what became of it.
void TellIncomplete(UserNotice tell, CopyOutcome outcome, Discarded discarded,
                    const WCHAR* inputPath, const WCHAR* outputPath) {
    if (outcome == CopyOutcome::WriteFailed) {
        const WCHAR* reason =
            discarded == Discarded::Removed
                ? RT_TEXT("The file could not be written completely and was removed:")
            : discarded == Discarded::Emptied
                ? RT_TEXT(
                      "The file could not be written completely. The incomplete copy could "
                      "not be removed and was emptied:")
                : RT_TEXT(
                      "The file could not be written completely. The incomplete copy could "
                      "not be removed:");
        Tell(tell, reason, outputPath);
        return;
    }
    const WCHAR* kept = discarded == Discarded::Removed ? nullptr
                        : discarded == Discarded::Emptied
                            ? RT_TEXT("The incomplete copy could not be removed and was emptied:")
                            : RT_TEXT("The incomplete copy could not be removed:");
    Tell(tell, RT_TEXT("The file could not be read completely:"), inputPath, kept, outputPath);
}

}  // namespace

int64_t FileActionRun(const WCHAR* path, const WCHAR* suffix, UserNotice tell) {
    rt::StringBuilderEnsure();
    WCHAR* directory = nullptr;
    WCHAR* baseName = nullptr;
    WCHAR* extension = nullptr;
    WCHAR* outputPath = nullptr;

    int32_t mark = rt::StringBuilderMark();
    rt::PathDirectoryPart(path, mark);
    rt::StringAssign(&directory, mark);
    rt::PathFilePart(path, rt::PATH_NO_EXTENSION, mark);
    rt::StringAssign(&baseName, mark);
    rt::PathExtensionPart(path, mark);
    rt::StringAssign(&extension, mark);
    // Kept in a variable rather than as a builder temporary: the messages and the removal of an
    // incomplete copy need it after the copy has used the builder.
    rt::StringAppend(directory);
    rt::StringAppend(baseName);
    rt::StringAppend(suffix);
    rt::StringAppend(extension);
    rt::StringAssign(&outputPath, mark);

    if (rt::FileOpenEx(INPUT_FILE, path, rt::OPEN_MODE_READ, INPUT_FLAGS) == 0) {
        Tell(tell, RT_TEXT("The file could not be opened:"), path);
    } else if (rt::FileCreate(OUTPUT_FILE, outputPath, OUTPUT_FLAGS) == 0) {
        rt::FileClose(INPUT_FILE);
        Tell(tell, RT_TEXT("The file could not be created:"), outputPath);
    } else {
        // Should the runtime have to stop the program during the copy, the copy goes first.
        rt::FatalStopCleanup discardAtStop = {DiscardCopyAtStop, outputPath};
        rt::FatalStopCleanup* previous = rt::FatalStopCleanupSet(&discardAtStop);
        CopyOutcome outcome = CopyLines();
        rt::FatalStopCleanupSet(previous);
        if (outcome != CopyOutcome::Complete) {
            TellIncomplete(tell, outcome, DiscardCopy(outputPath), path, outputPath);
        }
    }

    rt::StringFree(directory);
    rt::StringFree(baseName);
    rt::StringFree(extension);
    rt::StringFree(outputPath);
    return 0;
}

}  // namespace app
