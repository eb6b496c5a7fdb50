// Shared helpers of the test programs.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "runtime/core/core.h"

namespace rt::test {

// The body of every test program's main: takes the module handle and creates MainHeap as the entry
// routine does, runs `start` (the start routines the program's libraries need, in their order) and
// then every test.
int Main(int argc, char** argv, void (*start)());

// A wide string of the runtime's code unit.
using WideString = std::basic_string<WCHAR>;

// A fresh folder under the system's temporary folder, removed with everything in it at the end of
// its scope.
class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    // The path of `name` inside the folder.
    std::filesystem::path Path(const std::string& name) const { return path_ / name; }
    // The same path as a runtime string.
    WideString Name(const std::string& name) const;

  private:
    std::filesystem::path path_;
};

// The path as a runtime string.
WideString WidePath(const std::filesystem::path& path);
// The whole content of a file ("" when it cannot be read) and a file made of `bytes`.
std::string ReadBytes(const std::filesystem::path& path);
void WriteBytes(const std::filesystem::path& path, const std::string& bytes);
// The names of the entries of a folder, sorted.
std::vector<std::string> NamesIn(const std::filesystem::path& folder);

// Number of allocated blocks in a heap, counted with HeapWalk.
int64_t CountBusyBlocks(HANDLE heap);

// Polls `condition` every 10 ms until it holds or `timeoutMs` have passed; whether it held. For
// results that another thread or process delivers at a moment the test cannot know, such as the
// clean-up after a thread's end or a dialog that appears.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs = 10000);

// Runs `body` on a new thread and returns, with that thread's id, once the thread has ended.
DWORD RunOnNewThread(const std::function<void()>& body);

// Whether `context` is on the thread-exit service's chain of live contexts (compared, never read).
bool ThreadExitContextLive(const ThreadExitContext* context);
// Whether a live context holds an item of `routine` with `argument`.
bool ThreadExitQueued(void (*routine)(void*), const void* argument);

// A page of memory followed by one that every access faults on: text placed at its end shows
// whether a loop reads past the page that holds the text's end.
class PageBeforeGuard {
  public:
    PageBeforeGuard();
    ~PageBeforeGuard();
    PageBeforeGuard(const PageBeforeGuard&) = delete;
    PageBeforeGuard& operator=(const PageBeforeGuard&) = delete;

    // Room for `units` units that end where the guard page starts. Two readable pages come before
    // it, so that a text may also cross from one page into the next.
    WCHAR* UnitsAtEnd(size_t units) const {
        return reinterpret_cast<WCHAR*>(base_ + READABLE_BYTES) - units;
    }

    static constexpr size_t PAGE_BYTES = 4096;
    static constexpr size_t READABLE_BYTES = 2 * PAGE_BYTES;

  private:
    char* base_;
};

#if RT_HAS_ALLOCATION_HOOK
// Drives every failure path of an operation: runs `attempt` with the 1st, 2nd, 3rd... heap
// allocation failing, until an attempt makes fewer allocations than the one set to fail (it then
// ran without failure). `attempt` gets the index of the failing allocation, checks what the failure
// must leave behind, and returns whether the operation reported success; the run without failure
// must succeed. Returns the number of runs in which an allocation failed.
int SweepAllocationFailures(const std::function<bool(int nth)>& attempt);
#endif

}  // namespace rt::test
