// Shared parts of the text-file throughput benchmarks: the generated input, the timing, the shell
// commands timed beside our code, and what the system reports about the run.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "runtime/platform/platform.h"

namespace bench {

// Lines of 0 to 100 characters, mostly printable ASCII with some 8-bit characters, ending in CR LF,
// up to `bytes` bytes; the same file for the same size on every run and platform.
void GenerateLines(const std::filesystem::path& path, int64_t bytes);
// The best of three runs of `job`, in seconds; negative when a run failed.
double BestSeconds(const std::function<bool()>& job);
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
