// Fuzzes the whole file work of an action: an input file of arbitrary bytes is copied by
// FileActionRun, and its output compared byte for byte with a transform written here from the
// line rules (lines end at CR LF, LF, CR or a zero byte; every line is rotated and followed by
// CR LF). One allocation of the runtime's MainHeap, chosen by the input, may fail: the result must
// then still be the exact copy without a word, or a message with no output left behind. (The
// string heap's allocations are left alone: running out of it stops the program by design.)
//
// Input: one byte giving which MainHeap allocation of the action fails (its value modulo 64; 0:
// none), then the input file's content. The first call warms the runtime up with one copy, so that
// an input names the same allocation whichever inputs ran before it.
#include "app/app.h"
#include "harness.h"
#include "runtime/files/files.h"

namespace {

int told = 0;

void Record(const WCHAR*) {
    ++told;
}

// The copy the action must make, from the 8-bit text's bytes: every byte value maps to its own
// character in the active code page and back, so the rotation can be done on the bytes.
std::string Reference(const std::string& input) {
    std::string output;
    size_t at = 0;
    while (at < input.size()) {
        std::string line;
        for (; at < input.size(); ++at) {
            char byte = input[at];
            if (byte == '\0' || byte == '\n') {
                ++at;
                break;
            }
            if (byte == '\r') {
                at += at + 1 < input.size() && input[at + 1] == '\n' ? 2 : 1;
                break;
            }
            auto c = static_cast<uint8_t>(byte);
            line += static_cast<char>(c >= 33 && c <= 126 ? (c + 14) % 94 + 33 : c);
        }
        output += line + "\r\n";
    }
    return output;
}

const std::string& InputPath() {
    static const std::string path = fuzz::ScratchPath("notes.txt");
    return path;
}

const std::string& OutputPath() {
    static const std::string path = fuzz::ScratchPath("notes-enc.txt");
    return path;
}

// Copies the input's file with the allocation it names failing, and checks the outcome.
void Run(const uint8_t* data, size_t size) {
    fuzz::Input input(data, size);
    int failing = input.Byte() % 64;
    std::string content = input.Rest();
    fuzz::WriteWholeFile(InputPath(), reinterpret_cast<const uint8_t*>(content.data()),
                         content.size());
    DeleteFileW(fuzz::WidePath(OutputPath()).c_str());

    told = 0;
    int32_t mark = rt::StringBuilderMark();
    PlatformFailAllocation(failing, 1, rt::MainHeap);
    app::FileActionRun(fuzz::WidePath(InputPath()).c_str(), RT_TEXT("-enc."), Record);
    bool failed = failing != 0 && !PlatformAllocationFailurePending();
    PlatformFailAllocation(0);
    fuzz::Check(rt::StringBuilderMark() == mark, "the builder is not back at its mark");

    bool exists = false;
    std::string output = fuzz::ReadWholeFile(OutputPath(), &exists);
    if (told == 0) {
        fuzz::Check(exists && output == Reference(content),
                    "the copy is wrong and nothing was told");
    } else {
        fuzz::Check(failed, "a failure was told where nothing failed");
        fuzz::Check(told == 1, "more than one message");
        fuzz::Check(!exists, "an output was left behind after a message");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::RuntimeStart();
    // One copy without a failure first, so that the registry's number table, the builder and the
    // heaps' lookaside lists have their working sizes before an allocation is made to fail.
    static const bool warm = [] {
        const uint8_t warmUp[] = {0, 'a', 'b', 'c', '\r', '\n'};
        Run(warmUp, sizeof(warmUp));
        return true;
    }();
    (void)warm;
    Run(data, size);
    return 0;
}
