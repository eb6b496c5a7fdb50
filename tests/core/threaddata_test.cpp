// Per-thread data with the sections this system registers at start-up, made once for the whole
// program before any test runs (registrations only ever grow the layout, as in the product): test
// routines of the events, vector drawing, 2D drawing, windows (two) and gadgets sections, with the
// sizes and the kinds of routine those libraries register.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "support/support.h"

namespace rt {
namespace {

struct Call {
    std::string routine;
    char* section;
    DWORD thread;
};

std::mutex callLock;
std::vector<Call> calls;

void Log(const char* routine, void* section) {
    std::lock_guard<std::mutex> guard(callLock);
    calls.push_back({routine, static_cast<char*>(section), GetCurrentThreadId()});
}

// The position that the next logged call will take.
size_t LogMark() {
    std::lock_guard<std::mutex> guard(callLock);
    return calls.size();
}

// The calls logged since `mark` for sections of `record`, in order. (The heap may give a new
// thread the block of an ended thread's record: the mark tells the two records apart.)
std::vector<Call> CallsOn(const char* record, size_t mark) {
    std::lock_guard<std::mutex> guard(callLock);
    std::vector<Call> found;
    for (size_t at = mark; at < calls.size(); ++at) {
        if (calls[at].section >= record && calls[at].section < record + 648) {
            found.push_back(calls[at]);
        }
    }
    return found;
}

// The event section: a pool of its own per thread, with one slot taken.
struct EventSection {
    BlockPool* pool;
    void* slot;
};
void EventInit(void* section) {
    auto* events = static_cast<EventSection*>(section);
    events->pool = PoolNew(56, 16, 256, POOL_NO_LOCK);
    events->slot = PoolAlloc(events->pool);
    Log("events init", section);
}
void EventFree(void* section) {
    PoolDelete(static_cast<EventSection*>(section)->pool);
    Log("events free", section);
}
void VectorFree(void* section) {
    Log("vector free", section);
}
// The gadget section: a stack of ten parents, and the current font.
struct GadgetSection {
    void** parents;
    uint64_t font;
};
constexpr uint64_t DEFAULT_FONT = 0xF0;
void GadgetInit(void* section) {
    auto* gadgets = static_cast<GadgetSection*>(section);
    gadgets->parents = static_cast<void**>(HeapAlloc(MainHeap, HEAP_ZERO_MEMORY, 80));
    gadgets->font = DEFAULT_FONT;
    Log("gadgets init", section);
}
void GadgetFree(void* section) {
    HeapFree(MainHeap, 0, static_cast<GadgetSection*>(section)->parents);
    Log("gadgets free", section);
}

int64_t offsets[6];
char* mainRecordAtStart;
std::vector<Call> startCalls;

class SystemSections : public testing::Environment {
  public:
    void SetUp() override {
        offsets[0] = ThreadDataRegister(72, EventInit, EventFree);
        offsets[1] = ThreadDataRegister(200, nullptr, VectorFree);
        offsets[2] = ThreadDataRegister(136, nullptr, nullptr);
        offsets[3] = ThreadDataRegister(40, nullptr, nullptr);
        offsets[4] = ThreadDataRegister(92, nullptr, nullptr);
        offsets[5] = ThreadDataRegister(104, GadgetInit, GadgetFree);
        mainRecordAtStart = static_cast<char*>(TlsGetValue(ThreadDataLayout.tlsIndex));
        std::lock_guard<std::mutex> guard(callLock);
        startCalls = calls;
    }
};
testing::Environment* const systemSections = testing::AddGlobalTestEnvironment(new SystemSections);

TEST(ThreadDataRegister, SystemSectionsLieAtTheirOffsetsInA648ByteRecord) {
    const int64_t expected[6] = {0, 72, 272, 408, 448, 544};  // 92 bytes occupy 96
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(offsets[i], expected[i]) << "section " << i;
    }
    EXPECT_EQ(ThreadDataLayout.totalSize, 648);
    EXPECT_EQ(HeapSize(MainHeap, 0, mainRecordAtStart), 648u);

    // Only the three sections with routines have descriptors, newest first.
    struct Expected {
        int64_t offset;
        void (*init)(void*);
        void (*free)(void*);
    } descriptors[] = {
        {544, GadgetInit, GadgetFree}, {72, nullptr, VectorFree}, {0, EventInit, EventFree}};
    BlockChainNode* node = ThreadDataLayout.sections;
    for (const Expected& descriptor : descriptors) {
        ASSERT_NE(node, nullptr);
        auto* section = static_cast<ThreadDataSection*>(BlockChainPayload(node));
        EXPECT_EQ(section->offset, descriptor.offset);
        EXPECT_EQ(section->initRoutine, descriptor.init);
        EXPECT_EQ(section->freeRoutine, descriptor.free);
        node = node->next;
    }
    EXPECT_EQ(node, nullptr);
}

TEST(ThreadDataRegister, MainThreadRecordRanInitRoutinesInRegistrationOrderAndKeptTheirWork) {
    ASSERT_EQ(startCalls.size(), 2u);
    EXPECT_EQ(startCalls[0].routine, "events init");
    EXPECT_EQ(startCalls[1].routine, "gadgets init");

    // The record moved as it grew; what the routines stored moved with it.
    char* record = static_cast<char*>(ThreadDataGet(0));
    EXPECT_EQ(record, mainRecordAtStart);
    auto* events = reinterpret_cast<EventSection*>(record);
    EXPECT_NE(events->pool, nullptr);
    EXPECT_NE(events->slot, nullptr);
    auto* gadgets = static_cast<GadgetSection*>(ThreadDataGet(544));
    EXPECT_EQ(gadgets, reinterpret_cast<GadgetSection*>(record + 544));
    EXPECT_NE(gadgets->parents, nullptr);
    EXPECT_EQ(gadgets->font, DEFAULT_FONT);
}

TEST(ThreadDataGet, NewThreadMakesAZeroFilledRecordAndRunsInitRoutinesNewestFirst) {
    size_t mark = LogMark();
    char* record = nullptr;
    test::RunOnNewThread([&] {
        auto* windows = static_cast<char*>(ThreadDataGet(448));
        record = windows - 448;
        EXPECT_NE(record, mainRecordAtStart);
        EXPECT_EQ(ThreadDataGet(0), record);  // the same record: no second init
        EXPECT_EQ(ThreadDataGet(544), record + 544);
        EXPECT_EQ(HeapSize(MainHeap, 0, record), 648u);
        // Everything the init routines did not write is zero.
        for (int64_t at = sizeof(EventSection); at < 544; ++at) {
            ASSERT_EQ(record[at], 0) << at;
        }
        for (int64_t at = 544 + sizeof(GadgetSection); at < 648; ++at) {
            ASSERT_EQ(record[at], 0) << at;
        }
        std::vector<Call> made = CallsOn(record, mark);
        ASSERT_EQ(made.size(), 2u);
        EXPECT_EQ(made[0].routine, "gadgets init");
        EXPECT_EQ(made[0].section, record + 544);
        EXPECT_EQ(made[1].routine, "events init");
        EXPECT_EQ(made[1].section, record);
        for (const Call& call : made) {
            EXPECT_EQ(call.thread, GetCurrentThreadId()) << call.routine;
        }
    });
    // The release after the thread's end is the next test's matter; it is awaited here so that
    // it does not run into another test.
    ASSERT_TRUE(test::WaitUntil([&] { return CallsOn(record, mark).size() == 5; }));
}

TEST(ThreadDataGet, ThreadEndRunsFreeRoutinesOnceOnAnotherThreadNewestSectionFirst) {
    size_t mark = LogMark();
    char* record = nullptr;
    DWORD ended = test::RunOnNewThread([&] {
        record = static_cast<char*>(ThreadDataGet(72)) - 72;
        EXPECT_TRUE(test::ThreadExitQueued(ThreadDataRelease, record));
        Sleep(20);
        EXPECT_EQ(CallsOn(record, mark).size(), 2u);  // nothing is released while the thread runs
    });
    ASSERT_TRUE(test::WaitUntil([&] { return CallsOn(record, mark).size() >= 5; }));
    Sleep(20);
    std::vector<Call> made = CallsOn(record, mark);
    ASSERT_EQ(made.size(), 5u);
    const char* order[] = {"gadgets free", "vector free", "events free"};
    const int64_t at[] = {544, 72, 0};
    for (int i = 0; i < 3; ++i) {
        const Call& call = made[2 + i];
        EXPECT_EQ(call.routine, order[i]);
        EXPECT_EQ(call.section, record + at[i]);
        EXPECT_NE(call.thread, ended);
    }
}

TEST(ThreadDataGet, MainThreadRecordIsNeverQueuedForRelease) {
    // A thread that holds its record while the queue is inspected, so that the inspection is
    // known to see queued releases at all.
    size_t mark = LogMark();
    std::atomic<char*> threadRecord{nullptr};
    std::atomic<bool> release{false};
    std::thread holder([&] {
        threadRecord = static_cast<char*>(ThreadDataGet(0));
        while (!release) {
            Sleep(1);
        }
    });
    ASSERT_TRUE(test::WaitUntil([&] { return threadRecord != nullptr; }));
    EXPECT_TRUE(test::ThreadExitQueued(ThreadDataRelease, threadRecord));

    EXPECT_EQ(ThreadDataGet(0), mainRecordAtStart);
    EXPECT_FALSE(test::ThreadExitQueued(ThreadDataRelease, mainRecordAtStart));
    EXPECT_EQ(TlsGetValue(ThreadExitService.tlsIndex), nullptr);  // no context for the main thread
    release = true;
    holder.join();
    ASSERT_TRUE(test::WaitUntil([&] { return CallsOn(threadRecord, mark).size() == 5; }));
}

TEST(ThreadDataRelease, NullRecordCallsNoFreeRoutine) {
    size_t mark = LogMark();
    ThreadDataRelease(nullptr);
    EXPECT_EQ(LogMark(), mark);
}

#if RT_HAS_ALLOCATION_HOOK
TEST(ThreadDataGet, StopsTheProcessWhenTheRecordCannotBeAllocated) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            PlatformFailAllocation(1);
            test::RunOnNewThread([] { ThreadDataGet(0); });
        },
        "a thread's record cannot be allocated");
}

TEST(ThreadDataRegister, StopsTheProcessWhenTheMainRecordCannotGrow) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            PlatformFailAllocation(1);
            ThreadDataRegister(8, nullptr, nullptr);
        },
        "the main thread's record cannot grow");
}
#endif

}  // namespace
}  // namespace rt
