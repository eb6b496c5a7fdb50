#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <random>
#include <sstream>

#include "support/support.h"

namespace rt::test {

int Main(int argc, char** argv, void (*start)()) {
    testing::InitGoogleTest(&argc, argv);
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
