// Throughput of an action's whole file work once the input has been chosen: FileActionRun opens
// the input, reads every line as 8-bit text, rotates it, writes it with CR LF, closes both files
// and checks that everything reached the output. In the same run, taking turns with it, the shell
// one-liner `tr '!-~' 'P-~!-O'` rotates the same file and `cat` copies it, where the system can
// start them; under Wine it cannot, and bench/action_run.sh compares the Windows figure with the
// native run's tr. A plain copy with the file buffer's own ReadFile and WriteFile calls of 4096
// bytes and no work between them takes its turn too, on every platform: the time those calls
// alone take, which no change to the line copy can go below.
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
#include "runtime/libraries/libraries.h"
#include "textbench.h"

namespace {

namespace fs = std::filesystem;

bool told = false;

void NoteFailure(const WCHAR*) {
    told = true;
}

// Copies `from` to `to` in the file buffer's transfers: whether every byte was written.
bool CopyInBufferCalls(const WCHAR* from, const WCHAR* to) {
    HANDLE input =
        CreateFileW(from, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    HANDLE output = CreateFileW(to, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    auto* buffer = static_cast<uint8_t*>(HeapAlloc(rt::MainHeap, 0, rt::FILE_BUFFER_SIZE));
    bool copied = input != INVALID_HANDLE_VALUE && output != INVALID_HANDLE_VALUE && buffer;
    while (copied) {
        DWORD read = 0;
        copied = ReadFile(input, buffer, rt::FILE_BUFFER_SIZE, &read, nullptr) != 0;
        if (!copied || read == 0) {
            break;  // a failed read, or the end of the data
        }
        DWORD written = 0;
        copied = WriteFile(output, buffer, read, &written, nullptr) && written == read;
    }
    HeapFree(rt::MainHeap, 0, buffer);
    for (HANDLE handle : {input, output}) {
        if (handle != INVALID_HANDLE_VALUE) {
            CloseHandle(handle);
        }
    }
    return copied;
}

}  // namespace

int main(int argc, char** argv) {
    int64_t megabytes = argc > 1 ? std::atoll(argv[1]) : 200;
    fs::path folder = argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path();
    fs::path input = folder / "bench-action.txt";
    fs::path ours = folder / "bench-action-enc.txt";
    fs::path theirs = folder / "bench-action-tr.txt";
    fs::path copied = folder / "bench-action-cat.txt";
    fs::path transferred = folder / "bench-action-calls.txt";

    rt::MainHeap = HeapCreate(0, 4096, 0);
    rt::LibrariesStart(rt::Library::FILES);

    bench::GenerateLines(input, megabytes * 1000000);
    double size = static_cast<double>(fs::file_size(input)) / 1e6;
    std::basic_string<WCHAR> path = bench::Wide(input);
    std::basic_string<WCHAR> callsPath = bench::Wide(transferred);

    std::vector<std::function<bool()>> jobs = {
        [&] {
            app::FileActionRun(path.c_str(), RT_TEXT("-enc."), NoteFailure);
            return !told;
        },
        [&] { return CopyInBufferCalls(path.c_str(), callsPath.c_str()); }};
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
    if (seconds[1] > 0) {
        std::printf("4096-byte ReadFile and WriteFile, nothing else: %8.1f MB/s  ratio %.2f\n",
                    rate(seconds[1]), ratio(seconds[1]));
    }
    if (seconds.size() > 2 && seconds[2] > 0) {
        std::printf("tr '!-~' 'P-~!-O': %8.1f MB/s  ratio %.2f\n", rate(seconds[2]),
                    ratio(seconds[2]));
        std::printf("output identical to tr's: %s\n",
                    bench::SameContent(ours, theirs) ? "yes" : "NO");
    } else {
        std::printf("tr: not started from here\n");
    }
    if (seconds.size() > 3 && seconds[3] > 0) {
        std::printf("cat: %8.1f MB/s  ratio %.2f\n", rate(seconds[3]), ratio(seconds[3]));
    }
    std::printf("peak resident set: %s\n", bench::PeakResident().c_str());

    rt::LibrariesEnd(rt::Library::FILES);
    rt::StringLibraryEnd();
    HeapDestroy(rt::MainHeap);
    for (const fs::path& file : {input, ours, theirs, copied, transferred}) {
        std::error_code ignored;
        fs::remove(file, ignored);
    }
    return oursSeconds > 0 ? 0 : 1;
}
