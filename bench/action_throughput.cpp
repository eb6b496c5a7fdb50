// The action's whole file work once the input has been chosen, measured against the exact-call
// floor: FileActionRun opens the input, reads every line as 8-bit text, rotates it, writes it with
// CR LF, closes both files and checks that everything reached the output. The floor is a program
// that makes the same system calls and nothing else: the input read in the file buffer's 4096-byte
// ReadFile calls, and the output written in the WriteFile calls the copy itself made, with the
// sizes recorded from a run of the copy (bench/action_run.sh records them with strace). No change
// to the line copy can go below the floor, so the ratio of the two is what the copy's own work
// costs. The same program runs natively and, built for Windows, under Wine.
//
// Usage:
//   action_throughput generate lines|empty|long BYTES FILE
//       the bench's lines of 0-100 characters, empty lines, or one line, up to BYTES bytes
//   action_throughput copy FILE
//       one copy to FILE's "-enc." sibling: its seconds and the peak resident set
//   action_throughput race FILE WRITE-SIZES [ROUNDS (5)]
//       the copy and the floor in turns; each output is removed before its run, untimed
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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

// The copy's output: FILE's directory, base name, "-enc." and extension.
fs::path OutputOf(const fs::path& input) {
    fs::path output = input;
    return output.replace_filename(input.stem().string() + "-enc" + input.extension().string());
}

// One copy of the action. Not inlined, so that an instruction count can be taken on it alone.
[[gnu::noinline]] bool CopyOnce(const WCHAR* path) {
    app::FileActionRun(path, RT_TEXT("-enc."), NoteFailure);
    return !told;
}

// The floor: `input` read in FILE_BUFFER_SIZE calls and `output` written in calls of `sizes`, each
// issued once the data read covers it, from one block. Whether every call did all its work.
bool CopyInExactCalls(const fs::path& input, const fs::path& output,
                      const std::vector<DWORD>& sizes) {
    HANDLE from = CreateFileW(bench::Wide(input).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    HANDLE to = CreateFileW(bench::Wide(output).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD largest = std::max<DWORD>(
        rt::FILE_BUFFER_SIZE, sizes.empty() ? 0 : *std::max_element(sizes.begin(), sizes.end()));
    auto* block = static_cast<uint8_t*>(HeapAlloc(rt::MainHeap, 0, largest));
    bool done = from != INVALID_HANDLE_VALUE && to != INVALID_HANDLE_VALUE && block != nullptr;
    uint64_t readBytes = 0;
    uint64_t writtenBytes = 0;
    size_t next = 0;
    for (bool more = true; done && (more || next < sizes.size());) {
        if (more) {
            DWORD got = 0;
            done = ReadFile(from, block, rt::FILE_BUFFER_SIZE, &got, nullptr) != 0;
            readBytes += got;
            more = got != 0;
        }
        for (; done && next < sizes.size() && (!more || writtenBytes + sizes[next] <= readBytes);
             ++next) {
            DWORD written = 0;
            done = WriteFile(to, block, sizes[next], &written, nullptr) && written == sizes[next];
            writtenBytes += written;
        }
    }
    HeapFree(rt::MainHeap, 0, block);
    for (HANDLE handle : {from, to}) {
        if (handle != INVALID_HANDLE_VALUE) {
            CloseHandle(handle);
        }
    }
    return done;
}

std::vector<DWORD> ReadSizes(const fs::path& path) {
    std::vector<DWORD> sizes;
    std::ifstream in(path);
    for (DWORD size; in >> size;) {
        sizes.push_back(size);
    }
    return sizes;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

void Remove(const fs::path& path) {
    std::error_code ignored;
    fs::remove(path, ignored);
}

int Generate(const std::string& kind, int64_t bytes, const fs::path& path) {
    if (kind == "lines") {
        bench::GenerateLines(path, bytes);
    } else if (kind == "empty") {
        bench::GenerateEmptyLines(path, bytes);
    } else if (kind == "long") {
        bench::GenerateOneLine(path, bytes);
    } else {
        std::fprintf(stderr, "unknown kind of input: %s\n", kind.c_str());
        return 2;
    }
    return 0;
}

int Copy(const fs::path& input) {
    Remove(OutputOf(input));
    std::basic_string<WCHAR> path = bench::Wide(input);
    std::vector<std::vector<double>> seconds =
        bench::SecondsEachRound({{[] {}, [&] { return CopyOnce(path.c_str()); }}}, 1);
    std::printf("seconds: %.3f\npeak resident set: %s\n", seconds[0][0],
                bench::PeakResident().c_str());
    return seconds[0][0] >= 0 ? 0 : 1;
}

int Race(const fs::path& input, const fs::path& sizesFile, int rounds) {
    std::vector<DWORD> sizes = ReadSizes(sizesFile);
    if (sizes.empty()) {
        std::fprintf(stderr, "no write sizes in %s\n", sizesFile.string().c_str());
        return 2;
    }
    fs::path ours = OutputOf(input);
    fs::path floor = ours;
    floor.replace_filename(input.stem().string() + "-floor" + input.extension().string());
    std::basic_string<WCHAR> path = bench::Wide(input);
    std::vector<std::vector<double>> seconds = bench::SecondsEachRound(
        {{[&] { Remove(ours); }, [&] { return CopyOnce(path.c_str()); }},
         {[&] { Remove(floor); }, [&] { return CopyInExactCalls(input, floor, sizes); }}},
        rounds);
    Remove(floor);
    std::vector<double> ratios;
    for (int round = 0; round < rounds; ++round) {
        if (seconds[0][round] <= 0 || seconds[1][round] <= 0) {
            std::fprintf(stderr, "round %d failed\n", round + 1);
            return 1;
        }
        ratios.push_back(seconds[1][round] / seconds[0][round]);
    }
    double megabytes = static_cast<double>(fs::file_size(input)) / 1e6;
    std::printf("input: %.0f MB, %zu writes of the copy replayed\n", megabytes, sizes.size());
    std::printf("copy: median %.1f MB/s\n", megabytes / Median(seconds[0]));
    std::printf("exact-call floor: median %.1f MB/s\n", megabytes / Median(seconds[1]));
    std::printf("ratio to the floor: median %.3f over %d alternations (", Median(ratios), rounds);
    for (double ratio : ratios) {
        std::printf(" %.3f", ratio);
    }
    std::printf(" )\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments.size() == 4 && arguments[0] == "generate") {
        return Generate(arguments[1], std::atoll(arguments[2].c_str()), arguments[3]);
    }
    rt::MainHeap = HeapCreate(0, 4096, 0);
    rt::LibrariesStart(rt::Library::FILES);
    int status = 2;
    if (arguments.size() == 2 && arguments[0] == "copy") {
        status = Copy(arguments[1]);
    } else if ((arguments.size() == 3 || arguments.size() == 4) && arguments[0] == "race") {
        status = Race(arguments[1], arguments[2],
                      arguments.size() == 4 ? std::max(1, std::atoi(arguments[3].c_str())) : 5);
    } else {
        std::fprintf(stderr,
                     "usage: action_throughput generate lines|empty|long BYTES FILE\n"
                     "       action_throughput copy FILE\n"
                     "       action_throughput race FILE WRITE-SIZES [ROUNDS]\n");
    }
    rt::LibrariesEnd(rt::Library::FILES);
    rt::StringLibraryEnd();
    HeapDestroy(rt::MainHeap);
    return status;
}
