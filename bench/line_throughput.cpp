// Throughput of the utility's job: every line of a large text file is read through a file object
// as 8-bit text, rotated by ROT47 and written through a second file object with CR LF, as the
// encrypt action does. In the same run, taking turns with it, the usual shell one-liner
// `tr '!-~' 'P-~!-O'` and `cat` copy the same file, so that the figures can be compared on this
// machine.
//
// Usage: line_throughput [megabytes (200)] [folder (the system's temporary folder)]
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/app.h"
#include "runtime/files/files.h"
#include "runtime/libraries/libraries.h"
#include "textbench.h"

namespace {

namespace fs = std::filesystem;
using bench::Quote;
using bench::Shell;
using bench::Wide;

// Copies the input line by line through the file objects, as the encrypt action does.
bool CopyThroughFileObjects(const fs::path& input, const fs::path& output) {
    using namespace rt;
    StringBuilderEnsure();
    if (FileCreate(0, Wide(output).c_str(), TEXT_ANSI | OPEN_SHARED_ALL) == 0 ||
        FileOpen(1, Wide(input).c_str()) == 0) {
        return false;
    }
    WCHAR* line = nullptr;
    while (FileAtEnd(1) == 0) {
        int32_t mark = StringBuilderMark();
        FileReadLine(1, TEXT_ANSI, mark);
        StringAssign(&line, mark);
        app::Rot47InPlace(line);
        FileWriteLine(0, line, TEXT_ANSI);
    }
    StringFree(line);
    FileClose(1);
    return FileCloseChecked(0) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    int64_t megabytes = argc > 1 ? std::atoll(argv[1]) : 200;
    fs::path folder = argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path();
    fs::path input = folder / "bench-lines.txt";
    fs::path ours = folder / "bench-lines-enc.txt";
    fs::path theirs = folder / "bench-lines-tr.txt";
    fs::path copied = folder / "bench-lines-cat.txt";

    rt::MainHeap = HeapCreate(0, 4096, 0);
    rt::LibrariesStart(rt::Library::FILES);

    bench::GenerateLines(input, megabytes * 1000000);
    double size = static_cast<double>(fs::file_size(input)) / 1e6;
    Shell("cat " + Quote(input) + " > " + Quote(copied));  // brings the input into the page cache

    std::vector<double> seconds = bench::BestSecondsEach(
        {[&] { return CopyThroughFileObjects(input, ours); },
         [&] { return Shell("tr '!-~' 'P-~!-O' < " + Quote(input) + " > " + Quote(theirs)); },
         [&] { return Shell("cat " + Quote(input) + " > " + Quote(copied)); }});
    double oursSeconds = seconds[0];
    double trSeconds = seconds[1];
    double catSeconds = seconds[2];

    auto rate = [&](double taken) { return taken > 0 ? size / taken : 0; };
    std::printf("input: %.0f MB of lines of 0-100 characters with CR LF\n", size);
    std::printf("file objects (read line, ROT47, write line): %8.1f MB/s\n", rate(oursSeconds));
    if (trSeconds > 0) {
        std::printf("tr '!-~' 'P-~!-O':                           %8.1f MB/s  ratio %.2f\n",
                    rate(trSeconds), oursSeconds > 0 ? trSeconds / oursSeconds : 0);
        std::printf("output identical to tr's: %s\n",
                    bench::SameContent(ours, theirs) ? "yes" : "NO");
    } else {
        std::printf("tr: not available here\n");
    }
    if (catSeconds > 0) {
        std::printf("cat:                                         %8.1f MB/s  ratio %.2f\n",
                    rate(catSeconds), oursSeconds > 0 ? catSeconds / oursSeconds : 0);
    } else {
        std::printf("cat: not available here\n");
    }
    std::printf("peak resident set: %s\n", bench::PeakResident().c_str());

    rt::LibrariesEnd(rt::Library::FILES);
    rt::StringLibraryEnd();
    HeapDestroy(rt::MainHeap);
    for (const fs::path& path : {input, ours, theirs, copied}) {
        std::error_code ignored;
        fs::remove(path, ignored);
    }
    return oursSeconds > 0 ? 0 : 1;
}
