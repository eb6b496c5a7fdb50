#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "support/support.h"

namespace rt {
namespace {

// A library of test objects: the record holds a non-zero "handle" and a payload word; freeing an
// object is recorded so that the tests can check order and count.
struct TestRecord {
    uint64_t handle;
    uint64_t payload;
    uint64_t spare[2];
};

ObjectRegistry* registry = nullptr;
std::vector<ObjectId> freed;

void TestFree(ObjectId id) {
    if (id == DYNAMIC_ID) {
        RegistryFreeAll(registry);
        return;
    }
    if (RegistryLookup(registry, id) != nullptr) {
        freed.push_back(id);
        RegistryFree(registry, id);
    }
}

// Creates an object the way a library does: record first, then the live handle.
TestRecord* Create(ObjectId id, uint64_t payload = 7) {
    auto* record = static_cast<TestRecord*>(RegistryCreate(registry, id));
    if (record != nullptr) {
        record->payload = payload;
        RegistryPublish(record, reinterpret_cast<void*>(0x1000 + payload));
    }
    return record;
}

class Registry : public testing::Test {
  protected:
    void SetUp() override {
        registry = RegistryNew(sizeof(TestRecord), 16, TestFree);
        freed.clear();
    }
    void TearDown() override { RegistryFreeAll(registry); }
};

TEST_F(Registry, NewRegistryHasAnEmptyTableOfTheGrowStep) {
    EXPECT_EQ(registry->recordSize, 32);
    EXPECT_EQ(registry->slotCount, 16);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(registry->numberedTable[i], nullptr);
    }
    EXPECT_EQ(registry->dynamicChain, nullptr);
}

TEST_F(Registry, ReusingANumberReleasesTheOldObjectAndReturnsTheSameRecord) {
    TestRecord* first = Create(3, 1);
    TestRecord* second = static_cast<TestRecord*>(RegistryCreate(registry, 3));
    EXPECT_EQ(first, second);
    EXPECT_EQ(freed, std::vector<ObjectId>{3});
    EXPECT_EQ(second->handle, 0u);  // zero-filled again
    EXPECT_EQ(second->payload, 0u);
}

TEST(RegistryCreate, ReusedNumberIsZeroFilledEvenWhenTheFreeRoutineCouldNotCloseIt) {
    // A library whose objects can fail to close (a window of another thread) leaves them live.
    ObjectRegistry* stubborn = RegistryNew(sizeof(TestRecord), 16, [](ObjectId) {});
    auto* first = static_cast<TestRecord*>(RegistryCreate(stubborn, 3));
    first->handle = 0x1003;
    first->payload = 3;
    auto* second = static_cast<TestRecord*>(RegistryCreate(stubborn, 3));
    EXPECT_EQ(second, first);
    EXPECT_EQ(second->handle, 0u);
    EXPECT_EQ(second->payload, 0u);
}

TEST_F(Registry, FreedNumberLooksUpAsNothingAndIsRecreatedInTheSameZeroedBlock) {
    TestRecord* record = Create(5, 9);
    EXPECT_EQ(RegistryLookup(registry, 5), record);
    TestFree(5);
    EXPECT_EQ(RegistryLookup(registry, 5), nullptr);
    EXPECT_EQ(RegistryIsObject(registry, 5), nullptr);
    auto* again = static_cast<TestRecord*>(RegistryCreate(registry, 5));
    EXPECT_EQ(again, record);
    EXPECT_EQ(again->payload, 0u);
    EXPECT_EQ(freed, std::vector<ObjectId>{5});  // the dead record was not freed a second time
}

TEST_F(Registry, TableGrowsToTheNumberPlusTheGrowStep) {
    Create(5);
    EXPECT_EQ(registry->slotCount, 16);
    TestRecord* sixteen = Create(16);
    EXPECT_EQ(registry->slotCount, 32);
    Create(100);
    EXPECT_EQ(registry->slotCount, 116);
    EXPECT_EQ(RegistryLookup(registry, 16), sixteen);  // existing entries keep their place
    EXPECT_EQ(RegistryLookup(registry, 50), nullptr);  // new entries are empty
    // A table that must grow is allocated at least twice as long (232 entries here), and the slot
    // count grows within it without a new table.
    Create(120);
    EXPECT_EQ(registry->slotCount, 136);
    void** table = registry->numberedTable;
    TestRecord* big = Create(216);
    EXPECT_EQ(registry->slotCount, 232);
    EXPECT_EQ(registry->numberedTable, table);
    EXPECT_EQ(RegistryLookup(registry, 200), nullptr);
    EXPECT_EQ(RegistryLookup(registry, 216), big);
    EXPECT_EQ(RegistryLookup(registry, 16), sixteen);
    Create(232);
    EXPECT_EQ(registry->slotCount, 248);
    EXPECT_NE(registry->numberedTable, table);
    EXPECT_EQ(RegistryLookup(registry, 216), big);
}

TEST_F(Registry, DynamicObjectsAreNewZeroedRecordsFoundOnceLive) {
    auto* a = static_cast<TestRecord*>(RegistryCreate(registry, DYNAMIC_ID));
    auto* b = static_cast<TestRecord*>(RegistryCreate(registry, DYNAMIC_ID));
    ASSERT_NE(a, nullptr);
    ASSERT_NE(a, b);
    EXPECT_EQ(a->handle | a->payload | b->handle | b->payload, 0u);
    ObjectId idA = reinterpret_cast<ObjectId>(a);
    EXPECT_EQ(RegistryLookup(registry, idA), nullptr);  // not live before its handle is stored
    EXPECT_EQ(RegistryIsObject(registry, idA), a);      // but it is a record of the chain
    a->handle = 1;
    EXPECT_EQ(RegistryLookup(registry, idA), a);
    RegistryFree(registry, idA);
    EXPECT_EQ(RegistryIsObject(registry, idA), nullptr);
    EXPECT_EQ(BlockChainPayload(registry->dynamicChain), b);
    EXPECT_EQ(registry->dynamicChain->next, nullptr);
}

TEST_F(Registry, IdsThatNameNoObjectAreNeverDereferenced) {
    TestRecord* live = Create(DYNAMIC_ID);
    uint64_t unrelated[4] = {0x1234, 0, 0, 0};  // looks live if it were read
    const ObjectId strangers[] = {1000,
                                  -2,
                                  INT64_MIN,
                                  INT64_MAX,
                                  16,
                                  reinterpret_cast<ObjectId>(unrelated),
                                  reinterpret_cast<ObjectId>(live) + 8};
    for (ObjectId id : strangers) {
        EXPECT_EQ(RegistryLookup(registry, id), nullptr) << id;
        EXPECT_EQ(RegistryIsObject(registry, id), nullptr) << id;
        RegistryFree(registry, id);
        TestFree(id);
    }
    EXPECT_EQ(unrelated[0], 0x1234u);
    EXPECT_EQ(RegistryLookup(registry, reinterpret_cast<ObjectId>(live)), live);
    EXPECT_TRUE(freed.empty());
}

TEST_F(Registry, ManyDynamicObjectsStayFindableThroughGrowthAndRemoval) {
    std::vector<TestRecord*> records;
    for (int i = 0; i < 500; ++i) {
        records.push_back(Create(DYNAMIC_ID, i));
    }
    for (int i = 0; i < 500; i += 3) {
        TestFree(reinterpret_cast<ObjectId>(records[i]));
    }
    for (int i = 0; i < 500; ++i) {
        void* found = RegistryLookup(registry, reinterpret_cast<ObjectId>(records[i]));
        if (i % 3 == 0) {
            EXPECT_EQ(found, nullptr) << i;
        } else {
            ASSERT_EQ(found, records[i]) << i;
            EXPECT_EQ(records[i]->payload, static_cast<uint64_t>(i));
        }
    }
}

TEST_F(Registry, FreeAllGoesUpTheNumbersThenDynamicNewestFirst) {
    Create(7);
    Create(2);
    ObjectId a = reinterpret_cast<ObjectId>(Create(DYNAMIC_ID));
    ObjectId b = reinterpret_cast<ObjectId>(Create(DYNAMIC_ID));
    TestFree(DYNAMIC_ID);
    EXPECT_EQ(freed, (std::vector<ObjectId>{2, 7, b, a}));
    EXPECT_EQ(registry->dynamicChain, nullptr);
    EXPECT_EQ(RegistryLookup(registry, 2), nullptr);
}

TEST_F(Registry, FreeAllDropsDynamicRecordsThatWereNeverMadeLive) {
    // A library that abandoned a creation without freeing the record: the free routine finds no
    // object there and leaves it, and the walk must still end.
    RegistryCreate(registry, DYNAMIC_ID);
    ObjectId live = reinterpret_cast<ObjectId>(Create(DYNAMIC_ID));
    RegistryCreate(registry, DYNAMIC_ID);
    RegistryFreeAll(registry);
    EXPECT_EQ(freed, std::vector<ObjectId>{live});
    EXPECT_EQ(registry->dynamicChain, nullptr);
    EXPECT_EQ(registry->dynamicCount, 0);
}

TEST(RegistryFreeAll, WithoutAFreeRoutineDoesNothing) {
    ObjectRegistry* plain = RegistryNew(16, 4, nullptr);
    auto* record = static_cast<uint64_t*>(RegistryCreate(plain, 1));
    record[0] = 5;
    RegistryFreeAll(plain);
    EXPECT_EQ(RegistryLookup(plain, 1), record);
    // Without a free routine a reused number hands the record back unchanged.
    EXPECT_EQ(RegistryCreate(plain, 1), record);
    EXPECT_EQ(record[0], 5u);
}

TEST_F(Registry, LockIsHeldAcrossTheWholeFreeAllWalk) {
    Create(1);
    Create(DYNAMIC_ID);
    RegistryWalkStart(registry);
    bool otherFinished = false;
    std::thread other([&] {
        Create(2);
        otherFinished = true;
    });
    Sleep(50);
    EXPECT_FALSE(otherFinished);
    ObjectId id;
    while (RegistryWalkNext(registry, &id) != nullptr) {
        TestFree(id);
    }
    other.join();
    EXPECT_TRUE(otherFinished);
    EXPECT_NE(RegistryLookup(registry, 2), nullptr);
}

TEST_F(Registry, TwoThreadsCreatingAndFreeingKeepTheRegistryConsistent) {
    auto worker = [](int base) {
        for (int round = 0; round < 2000; ++round) {
            ObjectId number = base + round % 40;
            TestRecord* numbered = Create(number, round);
            TestRecord* dynamic = Create(DYNAMIC_ID, round);
            ASSERT_NE(numbered, nullptr);
            ASSERT_NE(dynamic, nullptr);
            ASSERT_EQ(RegistryLookup(registry, number), numbered);
            ASSERT_EQ(RegistryLookup(registry, reinterpret_cast<ObjectId>(dynamic)), dynamic);
            ASSERT_EQ(dynamic->payload, static_cast<uint64_t>(round));
            RegistryFree(registry, reinterpret_cast<ObjectId>(dynamic));
            if (round % 2 == 0) {
                RegistryFree(registry, number);
            }
        }
    };
    std::thread one(worker, 0);
    std::thread two(worker, 1000);
    one.join();
    two.join();
    EXPECT_EQ(registry->dynamicChain, nullptr);
    EXPECT_EQ(registry->dynamicCount, 0);
    EXPECT_GE(registry->slotCount, 1040);
}

TEST_F(Registry, LookupsWithoutTheLockSeeEveryRecordWhileTheTableGrowsAndNumbersChange) {
    TestRecord* fixed = Create(3);
    std::atomic<bool> reading{false};
    std::atomic<bool> done{false};
    std::thread writer([&] {
        while (!reading) {
            Sleep(0);
        }
        // Every create past the end grows the slot count, and now and then the table is replaced.
        for (ObjectId number = 16; number < 4000; ++number) {
            Create(number);
            if (number % 3 == 0) {
                RegistryFree(registry, number - 1);
            }
        }
        done = true;
    });
    int64_t reads = 0;
    reading = true;
    while (!done) {
        ASSERT_EQ(RegistryLookup(registry, 3), fixed);
        void* record = RegistryLookup(registry, 17);
        if (record != nullptr) {
            void** table = RegistryShared(registry->numberedTable).load(std::memory_order_acquire);
            ASSERT_EQ(record, RegistryShared(table[17]).load(std::memory_order_acquire));
        }
        ++reads;
    }
    writer.join();
    EXPECT_GT(reads, 0);  // the reads overlapped the growth
    EXPECT_EQ(registry->slotCount, 3984 + 16);
    // Every writer span has ended and published the count for lock-free lookups.
    EXPECT_EQ(registry->lookupWord & UINT32_MAX, static_cast<uint64_t>(registry->slotCount));
}

TEST_F(Registry, AFreeRoutineLookingUpDuringACreateSeesTheObjectItIsReleasing) {
    // The create's free routine runs while the writer holds the registry: its own lookup must
    // still find the live record, then nothing once it has been freed.
    static void* seen;
    static void* seenAfter;
    ObjectRegistry* local = RegistryNew(sizeof(TestRecord), 16, [](ObjectId id) {
        seen = RegistryLookup(registry, id);
        RegistryFree(registry, id);
        seenAfter = RegistryLookup(registry, id);
    });
    std::swap(local, registry);
    auto* first = Create(5);
    seen = seenAfter = nullptr;
    EXPECT_EQ(Create(5), first);
    EXPECT_EQ(seen, first);
    EXPECT_EQ(seenAfter, nullptr);
    std::swap(local, registry);
}

#if RT_HAS_ALLOCATION_HOOK
TEST_F(Registry, FailedTableGrowthKeepsTheOldTable) {
    TestRecord* three = Create(3);
    void** table = registry->numberedTable;
    PlatformFailAllocation(1);
    EXPECT_EQ(RegistryCreate(registry, 500), nullptr);
    EXPECT_EQ(registry->slotCount, 16);
    EXPECT_EQ(registry->numberedTable, table);
    EXPECT_EQ(RegistryLookup(registry, 3), three);
    EXPECT_NE(Create(500), nullptr);
}

TEST_F(Registry, FailedCreationsChangeNothing) {
    int failures = test::SweepAllocationFailures([](int) {
        void* record = RegistryCreate(registry, DYNAMIC_ID);
        if (record == nullptr) {
            EXPECT_EQ(registry->dynamicCount, 0);
            EXPECT_EQ(registry->dynamicChain, nullptr);
            return false;
        }
        RegistryFree(registry, reinterpret_cast<ObjectId>(record));
        return true;
    });
    EXPECT_EQ(failures, 2);  // the address set, then the node

    PlatformFailAllocation(1);
    EXPECT_EQ(RegistryCreate(registry, 9), nullptr);
    EXPECT_EQ(registry->numberedTable[9], nullptr);
    EXPECT_NE(Create(9), nullptr);
}
#endif

}  // namespace
}  // namespace rt
