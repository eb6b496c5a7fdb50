#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#ifndef _WIN32
#include <sys/mman.h>
#endif

#include "support/support.h"

namespace rt::test {

int Main(int argc, char** argv, void (*start)()) {
    // The Wine runner asks for this line, so that a run that failed shows whether it got here.
    if (std::getenv("RT_TEST_ANNOUNCE") != nullptr) {
        std::fputs("main entered\n", stderr);
        std::fflush(stderr);
    }
    testing::InitGoogleTest(&argc, argv);
#ifdef _WIN32
    // As the entry routine does, before MainHeap: the window library registers its classes with
    // it, and the gadget library names its per-window property after it.
    ModuleHandle = GetModuleHandleW(nullptr);
#endif
    MainHeap = HeapCreate(0, 4096, 0);
    if (start != nullptr) {
        start();
    }
    return RUN_ALL_TESTS();
}

TempFolder::TempFolder() {
    static std::atomic<int> serial{0};
    std::random_device random;
    for (;;) {
        path_ = std::filesystem::temp_directory_path() /
                ("rt-test-" + std::to_string(random()) + "-" + std::to_string(serial++));
        if (std::filesystem::create_directory(path_)) {
            return;
        }
    }
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

WideString TempFolder::Name(const std::string& name) const {
    return WidePath(Path(name));
}

WideString WidePath(const std::filesystem::path& path) {
#ifdef _WIN32
    return path.wstring();
#else
    return path.u16string();
#endif
}

std::string ReadBytes(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::string> NamesIn(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

#ifdef _WIN32
PageBeforeGuard::PageBeforeGuard()
    : base_(static_cast<char*>(VirtualAlloc(nullptr, READABLE_BYTES + PAGE_BYTES,
                                            MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE))) {
    DWORD previous;
    if (base_ == nullptr ||
        !VirtualProtect(base_ + READABLE_BYTES, PAGE_BYTES, PAGE_NOACCESS, &previous)) {
        std::abort();
    }
}

PageBeforeGuard::~PageBeforeGuard() {
    VirtualFree(base_, 0, MEM_RELEASE);
}
#else
PageBeforeGuard::PageBeforeGuard()
    : base_(static_cast<char*>(mmap(nullptr, READABLE_BYTES + PAGE_BYTES, PROT_READ | PROT_WRITE,
                                    MAP_PRIVATE | MAP_ANONYMOUS, -1, 0))) {
    if (base_ == MAP_FAILED || mprotect(base_ + READABLE_BYTES, PAGE_BYTES, PROT_NONE) != 0) {
        std::abort();
    }
}

PageBeforeGuard::~PageBeforeGuard() {
    munmap(base_, READABLE_BYTES + PAGE_BYTES);
}
#endif

int64_t CountBusyBlocks(HANDLE heap) {
    PROCESS_HEAP_ENTRY entry{};
    int64_t count = 0;
    while (HeapWalk(heap, &entry)) {
        if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) {
            count += 1;
        }
    }
    return count;
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
    auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > giveUp) {
            return false;
        }
        Sleep(10);
    }
    return true;
}

DWORD RunOnNewThread(const std::function<void()>& body) {
    DWORD id = 0;
    std::thread([&] {
        id = GetCurrentThreadId();
        body();
    }).join();
    return id;
}

namespace {

// Calls `visit` for every live context, under the service lock, until it returns true.
bool AnyThreadExitContext(const std::function<bool(const ThreadExitContext*)>& visit) {
    if (__atomic_load_n(&ThreadExitService.started, __ATOMIC_ACQUIRE) == 0) {
        return false;  // no lock exists yet, and no context
    }
    CriticalSectionLock guard(&ThreadExitService.lock);
    for (ThreadExitContext* context = ThreadExitService.contexts; context != nullptr;
         context = context->next) {
        if (visit(context)) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool ThreadExitContextLive(const ThreadExitContext* context) {
    return AnyThreadExitContext(
        [context](const ThreadExitContext* live) { return live == context; });
}

bool ThreadExitQueued(void (*routine)(void*), const void* argument) {
    return AnyThreadExitContext([&](const ThreadExitContext* context) {
        for (ThreadExitItem* item = context->items; item != nullptr; item = item->next) {
            if (item->routine == routine && item->argument == argument) {
                return true;
            }
        }
        return false;
    });
}

#if RT_HAS_ALLOCATION_HOOK
int SweepAllocationFailures(const std::function<bool(int nth)>& attempt) {
    for (int nth = 1;; ++nth) {
        PlatformFailAllocation(nth);
        bool succeeded = attempt(nth);
        bool failed = !PlatformAllocationFailurePending();
        PlatformFailAllocation(0);
        if (!failed) {
            EXPECT_TRUE(succeeded) << "the operation failed although no allocation did";
            return nth - 1;
        }
    }
}
#endif

}  // namespace rt::test
