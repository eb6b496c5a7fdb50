// Throughput of an action's whole file work once the input has been chosen: FileActionRun opens
// the input, reads every line as 8-bit text, rotates it, writes it with CR LF, closes both files
// and checks that everything reached the output. In the same run the shell one-liner
// `tr '!-~' 'P-~!-O'` rotates the same file where the system can start it; under Wine it cannot,
// and bench/action_run.sh compares the Windows figure with the native run's tr.
//
// Usage: action_throughput [megabytes (200)] [folder (the system's temporary folder)]
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/app.h"
#include "runtime/files/files.h"
#include "textbench.h"

namespace {

namespace fs = std::filesystem;

bool told = false;

void NoteFailure(const WCHAR*) {
    told = true;
}

}  // namespace

int main(int argc, char** argv) {
    int64_t megabytes = argc > 1 ? std::atoll(argv[1]) : 200;
    fs::path folder = argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path();
    fs::path input = folder / "bench-action.txt";
    fs::path ours = folder / "bench-action-enc.txt";
    fs::path theirs = folder / "bench-action-tr.txt";

    rt::MainHeap = HeapCreate(0, 4096, 0);
    rt::StringLibraryStart();
    rt::FileLibraryStart();

    bench::GenerateLines(input, megabytes * 1000000);
    double size = static_cast<double>(fs::file_size(input)) / 1e6;
    std::basic_string<WCHAR> path = bench::Wide(input);

    double oursSeconds = bench::BestSeconds([&] {
        app::FileActionRun(path.c_str(), RT_TEXT("-enc."), NoteFailure);
        return !told;
    });
#ifdef _WIN32
    double trSeconds = -1;
#else
    double trSeconds = bench::BestSeconds([&] {
        return bench::Shell("tr '!-~' 'P-~!-O' < " + bench::Quote(input) + " > " +
                            bench::Quote(theirs));
    });
#endif

    auto rate = [&](double seconds) { return seconds > 0 ? size / seconds : 0; };
    std::printf("input: %.0f MB of lines of 0-100 characters with CR LF\n", size);
    std::printf("action path (open, read line, ROT47, write line, close): %8.1f MB/s\n",
                rate(oursSeconds));
    if (trSeconds > 0) {
        std::printf("tr '!-~' 'P-~!-O': %8.1f MB/s  ratio %.2f\n", rate(trSeconds),
                    oursSeconds > 0 ? trSeconds / oursSeconds : 0);
        std::printf("output identical to tr's: %s\n",
                    bench::SameContent(ours, theirs) ? "yes" : "NO");
    } else {
        std::printf("tr: not started from here\n");
    }
    std::printf("peak resident set: %s\n", bench::PeakResident().c_str());

    rt::FileLibraryEnd();
    rt::StringLibraryEnd();
    HeapDestroy(rt::MainHeap);
    for (const fs::path& file : {input, ours, theirs}) {
        std::error_code ignored;
        fs::remove(file, ignored);
    }
    return oursSeconds > 0 ? 0 : 1;
}
