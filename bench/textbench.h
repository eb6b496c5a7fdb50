// Shared parts of the text-file throughput benchmarks: the generated input, the timing, the shell
// commands timed beside our code, and what the system reports about the run.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "runtime/platform/platform.h"

namespace bench {

// Lines of 0 to 100 characters, mostly printable ASCII with some 8-bit characters, ending in CR LF,
// up to `bytes` bytes; the same file for the same size on every run and platform.
void GenerateLines(const std::filesystem::path& path, int64_t bytes);
// Empty lines (CR LF), up to `bytes` bytes.
void GenerateEmptyLines(const std::filesystem::path& path, int64_t bytes);
// One line of `bytes` - 2 characters of the same kinds as GenerateLines', then CR LF.
void GenerateOneLine(const std::filesystem::path& path, int64_t bytes);

// A timed job: `prepare` runs before every timed `run`, untimed; `run` tells whether it succeeded.
struct Job {
    std::function<void()> prepare;
    std::function<bool()> run;
};
// The seconds of every run of every job, by job and round, negative for a run that failed. A round
// runs every job once, in turn, so that the machine's slower and faster moments fall on all of
// them alike and the ratios of one round compare like with like.
std::vector<std::vector<double>> SecondsEachRound(const std::vector<Job>& jobs, int rounds);
// The best time of each job over `rounds` rounds of SecondsEachRound, in seconds, negative for a
// job of which a run failed.
std::vector<double> BestSecondsEach(const std::vector<std::function<bool()>>& jobs, int rounds = 5);
// Runs a shell command; whether it succeeded.
bool Shell(const std::string& command);
std::string Quote(const std::filesystem::path& path);
// A path as a runtime string.
std::basic_string<WCHAR> Wide(const std::filesystem::path& path);
// Whether two files hold the same bytes.
bool SameContent(const std::filesystem::path& a, const std::filesystem::path& b);
// The peak resident set of this process in MiB, where the system reports it.
std::string PeakResident();

}  // namespace bench
