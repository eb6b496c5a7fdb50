// What the fuzzing harnesses share: the runtime started once per process in the entry routine's
// order, a scratch folder for the harnesses that work on files, a reader over the fuzzer's input,
// and the check that turns a wrong result into a finding.
//
// Each harness is one libFuzzer program; the fuzzer calls its entry point on one thread, so
// nothing here is locked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "runtime/platform/platform.h"

namespace fuzz {

using WideString = std::basic_string<WCHAR>;

// Creates MainHeap and starts the string, map, list and file libraries; later calls do nothing.
void RuntimeStart();

// The path of `name` in this process's scratch folder, which is removed when the process exits.
std::string ScratchPath(const std::string& name);
// A path of plain ASCII as a runtime string.
WideString WidePath(const std::string& path);
// The whole content of a file; `exists` tells whether it could be opened.
std::string ReadWholeFile(const std::string& path, bool* exists = nullptr);
void WriteWholeFile(const std::string& path, const uint8_t* data, size_t size);

// Reports `what` and aborts, which the fuzzer records as a finding with the input that caused it.
[[noreturn]] void Finding(const char* what);
inline void Check(bool condition, const char* what) {
    if (!condition) {
        Finding(what);
    }
}

// The fuzzer's input consumed from the front; past its end every read gives 0.
class Input {
  public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool Empty() const { return at_ == size_; }
    uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    // What is left, all consumed.
    std::string Rest() {
        std::string rest(reinterpret_cast<const char*>(data_ + at_), size_ - at_);
        at_ = size_;
        return rest;
    }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

// The builder's text from `mark` to its position, copied out; the builder is rewound to `mark`.
WideString TakeResult(int32_t mark);

}  // namespace fuzz
