#include "textbench.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>

namespace bench {

namespace fs = std::filesystem;

namespace {

// The characters of the generated text: mostly printable ASCII, 3 % bytes 0xA0 to 0xFF.
class Characters {
  public:
    char Next() {
        return static_cast<char>(percent_(random_) < 3 ? high_(random_) : printable_(random_));
    }
    int Length() { return length_(random_); }

  private:
    std::mt19937 random_{47};
    std::uniform_int_distribution<int> length_{0, 100};
    std::uniform_int_distribution<int> printable_{32, 126};
    std::uniform_int_distribution<int> high_{0xA0, 0xFF};
    std::uniform_int_distribution<int> percent_{0, 99};
};

}  // namespace

void GenerateLines(const fs::path& path, int64_t bytes) {
    Characters characters;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::string line;
    for (int64_t written = 0; written < bytes; written += static_cast<int64_t>(line.size())) {
        line.clear();
        for (int i = characters.Length(); i > 0; --i) {
            line += characters.Next();
        }
        line += "\r\n";
        out.write(line.data(), static_cast<std::streamsize>(line.size()));
    }
}

void GenerateEmptyLines(const fs::path& path, int64_t bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::string lines(static_cast<size_t>(std::max<int64_t>(bytes / 2, 0)) * 2, '\n');
    for (size_t i = 0; i < lines.size(); i += 2) {
        lines[i] = '\r';
    }
    out.write(lines.data(), static_cast<std::streamsize>(lines.size()));
}

void GenerateOneLine(const fs::path& path, int64_t bytes) {
    Characters characters;
    std::string line(static_cast<size_t>(std::max<int64_t>(bytes - 2, 0)), ' ');
    for (char& character : line) {
        character = characters.Next();
    }
    line += "\r\n";
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(line.data(), static_cast<std::streamsize>(line.size()));
}

std::vector<std::vector<double>> SecondsEachRound(const std::vector<Job>& jobs, int rounds) {
    std::vector<std::vector<double>> seconds(jobs.size(), std::vector<double>(rounds));
    for (int round = 0; round < rounds; ++round) {
        for (size_t job = 0; job < jobs.size(); ++job) {
            jobs[job].prepare();
            auto start = std::chrono::steady_clock::now();
            bool done = jobs[job].run();
            double taken =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            seconds[job][round] = done ? taken : -1;
        }
    }
    return seconds;
}

std::vector<double> BestSecondsEach(const std::vector<std::function<bool()>>& jobs, int rounds) {
    std::vector<Job> timed;
    for (const std::function<bool()>& job : jobs) {
        timed.push_back({[] {}, job});
    }
    std::vector<double> best;
    for (const std::vector<double>& runs : SecondsEachRound(timed, rounds)) {
        bool failed = std::any_of(runs.begin(), runs.end(), [](double run) { return run < 0; });
        best.push_back(failed ? -1 : *std::min_element(runs.begin(), runs.end()));
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
