// Throughput of the utility's job: every line of a large text file is read through a file object
// as 8-bit text, rotated by ROT47 and written through a second file object with CR LF, as the
// encrypt action does. In the same run the usual shell one-liner `tr '!-~' 'P-~!-O'` and `cat` copy
// the same file, so that the figures can be compared on this machine.
//
// Usage: line_throughput [megabytes (200)] [folder (the system's temporary folder)]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <random>
#include <string>

#include "runtime/files/files.h"

namespace {

namespace fs = std::filesystem;

// Lines of 0 to 100 characters, mostly printable ASCII with some 8-bit characters, ending in CR LF.
void Generate(const fs::path& path, int64_t bytes) {
    std::mt19937 random(47);
    std::uniform_int_distribution<int> length(0, 100);
    std::uniform_int_distribution<int> printable(32, 126);
    std::uniform_int_distribution<int> high(0xA0, 0xFF);
    std::uniform_int_distribution<int> percent(0, 99);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::string line;
    for (int64_t written = 0; written < bytes; written += static_cast<int64_t>(line.size())) {
        line.clear();
        for (int i = length(random); i > 0; --i) {
            line += static_cast<char>(percent(random) < 3 ? high(random) : printable(random));
        }
        line += "\r\n";
        out.write(line.data(), static_cast<std::streamsize>(line.size()));
    }
}

// The application's transform: 33..126 move 47 places within that range, written branch-free
// over blocks so that the compiler turns it into vector code.
void Rot47(WCHAR* text) {
    auto rotate = [](WCHAR c) {
        auto rotated = static_cast<WCHAR>(c <= 79 ? c + 47 : c - 47);
        return static_cast<uint16_t>(c - 33) < 94 ? rotated : c;
    };
    size_t length = wcslen(text);
    size_t i = 0;
    for (; i + 16 <= length; i += 16) {
        for (size_t j = 0; j < 16; ++j) {
            text[i + j] = rotate(text[i + j]);
        }
    }
    for (; i < length; ++i) {
        text[i] = rotate(text[i]);
    }
}

std::basic_string<WCHAR> Wide(const fs::path& path) {
#ifdef _WIN32
    return path.wstring();
#else
    return path.u16string();
#endif
}

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
        Rot47(line);
        FileWriteLine(0, line, TEXT_ANSI);
    }
    StringFree(line);
    FileClose(1);
    return FileCloseChecked(0) == 0;
}

bool Shell(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

std::string Quote(const fs::path& path) {
    return "'" + path.string() + "'";
}

// The best of three runs, in seconds; negative when the job failed.
double Time(const std::function<bool()>& job) {
    double best = -1;
    for (int run = 0; run < 3; ++run) {
        auto start = std::chrono::steady_clock::now();
        if (!job()) {
            return -1;
        }
        double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        best = best < 0 ? seconds : std::min(best, seconds);
    }
    return best;
}

// The peak resident set of this process in MiB, where the system reports it.
std::string PeakResident() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::to_string(std::stol(line.substr(6)) / 1024) + " MiB";
        }
    }
    return "not reported";
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
    rt::StringLibraryStart();
    rt::FileLibraryStart();

    Generate(input, megabytes * 1000000);
    double size = static_cast<double>(fs::file_size(input)) / 1e6;
    Shell("cat " + Quote(input) + " > " + Quote(copied));  // brings the input into the page cache

    double oursSeconds = Time([&] { return CopyThroughFileObjects(input, ours); });
    double trSeconds =
        Time([&] { return Shell("tr '!-~' 'P-~!-O' < " + Quote(input) + " > " + Quote(theirs)); });
    double catSeconds = Time([&] { return Shell("cat " + Quote(input) + " > " + Quote(copied)); });

    auto rate = [&](double seconds) { return seconds > 0 ? size / seconds : 0; };
    std::printf("input: %.0f MB of lines of 0-100 characters with CR LF\n", size);
    std::printf("file objects (read line, ROT47, write line): %8.1f MB/s\n", rate(oursSeconds));
    if (trSeconds > 0) {
        std::printf("tr '!-~' 'P-~!-O':                           %8.1f MB/s  ratio %.2f\n",
                    rate(trSeconds), oursSeconds > 0 ? trSeconds / oursSeconds : 0);
        bool same = fs::file_size(ours) == fs::file_size(theirs);
        if (same) {
            std::ifstream a(ours, std::ios::binary);
            std::ifstream b(theirs, std::ios::binary);
            same = std::equal(std::istreambuf_iterator<char>(a), std::istreambuf_iterator<char>(),
                              std::istreambuf_iterator<char>(b));
        }
        std::printf("output identical to tr's: %s\n", same ? "yes" : "NO");
    } else {
        std::printf("tr: not available here\n");
    }
    if (catSeconds > 0) {
        std::printf("cat:                                         %8.1f MB/s  ratio %.2f\n",
                    rate(catSeconds), oursSeconds > 0 ? catSeconds / oursSeconds : 0);
    } else {
        std::printf("cat: not available here\n");
    }
    std::printf("peak resident set: %s\n", PeakResident().c_str());

    rt::FileLibraryEnd();
    rt::StringLibraryEnd();
    HeapDestroy(rt::MainHeap);
    for (const fs::path& path : {input, ours, theirs, copied}) {
        std::error_code ignored;
        fs::remove(path, ignored);
    }
    return oursSeconds > 0 ? 0 : 1;
}
