// The harnesses' shared start-up, scratch folder and checks.
#include "harness.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "runtime/libraries/libraries.h"
#include "runtime/strings/strings.h"

namespace fuzz {

namespace {

std::filesystem::path scratch;

void RemoveScratch() {
    std::error_code ignored;
    std::filesystem::remove_all(scratch, ignored);
}

}  // namespace

void RuntimeStart() {
    if (rt::MainHeap != nullptr) {
        return;
    }
    rt::MainHeap = HeapCreate(0, 4096, 0);
    rt::LibrariesStart(rt::Library::LINKED_LISTS);
    rt::StringBuilderEnsure();
}

std::string ScratchPath(const std::string& name) {
    if (scratch.empty()) {
        std::random_device random;
        do {
            scratch =
                std::filesystem::temp_directory_path() / ("rt-fuzz-" + std::to_string(random()));
        } while (!std::filesystem::create_directory(scratch));
        std::atexit(RemoveScratch);
    }
    return (scratch / name).string();
}

WideString WidePath(const std::string& path) {
    return WideString(path.begin(), path.end());
}

std::string ReadWholeFile(const std::string& path, bool* exists) {
    std::ifstream file(path, std::ios::binary);
    if (exists != nullptr) {
        *exists = file.is_open();
    }
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void WriteWholeFile(const std::string& path, const uint8_t* data, size_t size) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    Check(file.good(), "the scratch file could not be written");
}

void Finding(const char* what) {
    std::fprintf(stderr, "finding: %s\n", what);
    std::abort();
}

WideString TakeResult(int32_t mark) {
    const WCHAR* start = rt::StringBuilderBase() + mark / 2;
    WideString text(start, start + (rt::StringBuilderMark() - mark) / 2);
    rt::StringBuilderRewind(mark);
    return text;
}

}  // namespace fuzz
