#include "textbench.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>

namespace bench {

namespace fs = std::filesystem;

void GenerateLines(const fs::path& path, int64_t bytes) {
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

std::vector<double> BestSecondsEach(const std::vector<std::function<bool()>>& jobs, int rounds) {
    std::vector<double> best(jobs.size(), 0);
    for (int round = 0; round < rounds; ++round) {
        for (size_t job = 0; job < jobs.size(); ++job) {
            if (best[job] < 0) {
                continue;  // failed before: not timed again
            }
            auto start = std::chrono::steady_clock::now();
            bool done = jobs[job]();
            double seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            if (!done) {
                best[job] = -1;
            } else if (round == 0 || seconds < best[job]) {
                best[job] = seconds;
            }
        }
    }
    return best;
}

bool Shell(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

std::string Quote(const fs::path& path) {
    return "'" + path.string() + "'";
}

std::basic_string<WCHAR> Wide(const fs::path& path) {
#ifdef _WIN32
    return path.wstring();
#else
    return path.u16string();
#endif
}

bool SameContent(const fs::path& a, const fs::path& b) {
    std::error_code error;
    if (fs::file_size(a, error) != fs::file_size(b, error) || error) {
        return false;
    }
    std::ifstream left(a, std::ios::binary);
    std::ifstream right(b, std::ios::binary);
    return std::equal(std::istreambuf_iterator<char>(left), std::istreambuf_iterator<char>(),
                      std::istreambuf_iterator<char>(right));
}

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

}  // namespace bench
