// Throughput of an action's whole file work once the input has been chosen: FileActionRun opens
// the input, reads every line as 8-bit text, rotates it, writes it with CR LF, closes both files
// and checks that everything reached the output. In the same run, taking turns with it, the shell
// one-liner `tr '!-~' 'P-~!-O'` rotates the same file and `cat` copies it, where the system can
// start them; under Wine it cannot, and bench/action_run.sh compares the Windows figure with the
// native run's tr.
//
// Usage: action_throughput [megabytes (200)] [folder (the system's temporary folder)]
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

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
    fs::path copied = folder / "bench-action-cat.txt";

    rt::MainHeap = HeapCreate(0, 4096, 0);
    rt::StringLibraryStart();
    rt::FileLibraryStart();

    bench::GenerateLines(input, megabytes * 1000000);
    double size = static_cast<double>(fs::file_size(input)) / 1e6;
    std::basic_string<WCHAR> path = bench::Wide(input);

    std::vector<std::function<bool()>> jobs = {[&] {
        app::FileActionRun(path.c_str(), RT_TEXT("-enc."), NoteFailure);
        return !told;
    }};
#ifndef _WIN32
    jobs.push_back([&] {
        return bench::Shell("tr '!-~' 'P-~!-O' < " + bench::Quote(input) + " > " +
                            bench::Quote(theirs));
    });
    jobs.push_back(
        [&] { return bench::Shell("cat " + bench::Quote(input) + " > " + bench::Quote(copied)); });
#endif
    std::vector<double> seconds = bench::BestSecondsEach(jobs);
    double oursSeconds = seconds[0];

    auto rate = [&](double taken) { return taken > 0 ? size / taken : 0; };
    auto ratio = [&](double taken) { return oursSeconds > 0 ? taken / oursSeconds : 0; };
    std::printf("input: %.0f MB of lines of 0-100 characters with CR LF\n", size);
    std::printf("action path (open, read line, ROT47, write line, close): %8.1f MB/s\n",
                rate(oursSeconds));
    if (seconds.size() > 1 && seconds[1] > 0) {
        std::printf("tr '!-~' 'P-~!-O': %8.1f MB/s  ratio %.2f\n", rate(seconds[1]),
                    ratio(seconds[1]));
        std::printf("output identical to tr's: %s\n",
                    bench::SameContent(ours, theirs) ? "yes" : "NO");
    } else {
        std::printf("tr: not started from here\n");
    }
    if (seconds.size() > 2 && seconds[2] > 0) {
        std::printf("cat: %8.1f MB/s  ratio %.2f\n", rate(seconds[2]), ratio(seconds[2]));
    }
    std::printf("peak resident set: %s\n", bench::PeakResident().c_str());

    rt::FileLibraryEnd();
    rt::StringLibraryEnd();
    HeapDestroy(rt::MainHeap);
    for (const fs::path& file : {input, ours, theirs, copied}) {
        std::error_code ignored;
        fs::remove(file, ignored);
    }
    return oursSeconds > 0 ? 0 : 1;
}
