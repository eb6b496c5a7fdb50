#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "containers_test.h"

namespace rt {
namespace {

using test::MapHolder;

// A value of the test maps: a stamp that names the element, and a word that must start out zero.
struct Value {
    uint64_t stamp;
    uint64_t spare;
};

KeyedMap* NewMap(MapHolder& holder, int32_t buckets, uint32_t extraFlags = 0) {
    KeyedMap* map = MapCreate(sizeof(Value), 7, nullptr, &holder.map, buckets);
    EXPECT_NE(map, nullptr);
    map->flags |= extraFlags;
    return map;
}

const WCHAR* Text(const std::u16string& key) {
    return reinterpret_cast<const WCHAR*>(key.c_str());
}

Value* Add(KeyedMap* map, const WCHAR* key, uint64_t stamp, int32_t mode = 0) {
    auto* value = static_cast<Value*>(MapAdd(map, key, mode));
    EXPECT_NE(value, nullptr);
    EXPECT_EQ(value->stamp, 0u);
    EXPECT_EQ(value->spare, 0u);
    value->stamp = stamp;
    return value;
}

uint64_t StampOf(void* value) {
    return value != nullptr ? static_cast<Value*>(value)->stamp : 0;
}

int ChainLength(KeyedMap* map, int32_t bucket) {
    int length = 0;
    for (MapElement* e = map->buckets[bucket]; e != nullptr; e = e->next) {
        length += 1;
    }
    return length;
}

TEST(MapHashKey, MultipliesBy65599AndAddsEachUnit) {
    EXPECT_EQ(MapHashKey(RT_TEXT("abc"), 0), 807794786u);
    EXPECT_EQ(MapHashKey(RT_TEXT("ABC"), 0), 541327426u);
    EXPECT_EQ(MapHashKey(RT_TEXT("ABC"), MAP_NOCASE), 807794786u);
    EXPECT_EQ(MapHashKey(nullptr, 0), 0u);
    EXPECT_EQ(MapHashKey(RT_TEXT(""), MAP_NOCASE), 0u);
    // Without case only A-Z fold: '@' and '[' stand just outside, U+00C0 is a capital left alone.
    for (const WCHAR* key : {RT_TEXT("@"), RT_TEXT("["), RT_TEXT("\u00C0"), RT_TEXT("z1")}) {
        EXPECT_EQ(MapHashKey(key, MAP_NOCASE), MapHashKey(key, 0));
    }
    EXPECT_EQ(MapHashKey(RT_TEXT("AZ"), MAP_NOCASE), MapHashKey(RT_TEXT("az"), 0));

    MapHolder holder;
    KeyedMap* map = NewMap(holder, 1024);
    EXPECT_EQ(map->buckets[98], MapElementOf(Add(map, RT_TEXT("abc"), 1)));
}

TEST(MapCreate, SetsTheHeaderAndFillsTheHolder) {
    MapHolder holder;
    KeyedMap* map = MapCreate(16, 7, nullptr, &holder.map, 1024);
    ASSERT_NE(map, nullptr);
    EXPECT_EQ(holder.map, map);
    EXPECT_EQ(map->holder, &holder.map);
    EXPECT_EQ(map->bucketCount, 1024);
    EXPECT_EQ(map->typeCode, 7);
    EXPECT_EQ(map->count, 0);
    EXPECT_EQ(map->flags, 0u);
    EXPECT_EQ(std::count(map->buckets, map->buckets + 1024, nullptr), 1024);
    EXPECT_EQ(map->pool->slotSize, 40u);  // link, key, value, and the slot's owner word
}

TEST(MapCreate, ABucketCountOfZeroOrLessGivesOneBucket) {
    for (int32_t requested : {0, -5}) {
        MapHolder holder;
        KeyedMap* map = NewMap(holder, requested);
        EXPECT_EQ(map->bucketCount, 1);
        Add(map, RT_TEXT("x"), 1);
        Add(map, RT_TEXT("y"), 2);
        EXPECT_EQ(ChainLength(map, 0), 2);
    }
}

TEST(MapCreate, AHolderThatHoldsAMapHasItFreedFirst) {
    HEAP_BLOCKS_MARK();
    {
        MapHolder holder;
        Add(NewMap(holder, 16), RT_TEXT("old"), 1);
        KeyedMap* second = NewMap(holder, 16);
        EXPECT_EQ(holder.map, second);
        EXPECT_EQ(MapFind(second, RT_TEXT("old")), nullptr);
    }
    EXPECT_HEAP_BLOCKS_UNCHANGED();
}

TEST(MapFree, EmptiesTheHolderAndGivesEverythingBack) {
    HEAP_BLOCKS_MARK();
    KeyedMap* holder = nullptr;
    KeyedMap* map = MapCreate(sizeof(Value), 7, nullptr, &holder, 64);
    for (int i = 0; i < 200; ++i) {
        Add(map, Text(u"key" + std::u16string(i, u'.')), i);
    }
    MapFree(map);
    EXPECT_EQ(holder, nullptr);
    EXPECT_HEAP_BLOCKS_UNCHANGED();
    MapFree(nullptr);
}

TEST(MapFind, MissingAndEmptyKeysAreTheSameKeyInBucketZero) {
    MapHolder holder;
    KeyedMap* map = NewMap(holder, 1024);
    Value* value = Add(map, nullptr, 5);
    EXPECT_EQ(map->buckets[0], MapElementOf(value));
    EXPECT_EQ(MapFind(map, RT_TEXT("")), value);
    EXPECT_EQ(MapFind(map, nullptr), value);
    EXPECT_EQ(MapAdd(map, RT_TEXT(""), 1), value);
    EXPECT_EQ(map->count, 1);
}

TEST(MapFind, NoCaseComparesWithoutCaseAndTheMapKeepsItsOwnKey) {
    MapHolder holder;
    KeyedMap* map = NewMap(holder, 1024, MAP_NOCASE);
    WCHAR key[] = RT_TEXT("Window");
    Value* value = Add(map, key, 1);
    key[0] = 'X';
    EXPECT_EQ(MapFind(map, RT_TEXT("wINDOW")), value);
    EXPECT_EQ(MapFind(map, RT_TEXT("Windows")), nullptr);

    MapHolder exactHolder;
    KeyedMap* exact = NewMap(exactHolder, 1024);
    Add(exact, RT_TEXT("Window"), 1);
    EXPECT_EQ(MapFind(exact, RT_TEXT("window")), nullptr);
}

TEST(MapAdd, TheSameKeyTwiceWithModeZeroGivesTwoElements) {
    MapHolder holder;
    KeyedMap* map = NewMap(holder, 1024);
    Value* first = Add(map, RT_TEXT("k"), 1);
    Value* second = Add(map, RT_TEXT("k"), 2);
    EXPECT_EQ(map->count, 2);
    EXPECT_EQ(MapFind(map, RT_TEXT("k")), second);
    MapDeleteCurrent(map);
    EXPECT_EQ(map->count, 1);
    EXPECT_EQ(MapFind(map, RT_TEXT("k")), first);
}

TEST(MapAdd, ModeOneReusesTheElementWithAZeroFilledValue) {
    MapHolder holder;
    KeyedMap* map = NewMap(holder, 1024);
    Value* value = Add(map, RT_TEXT("k"), 1);
    value->spare = 99;
    const WCHAR* key = MapElementOf(value)->key.text;
    auto* again = static_cast<Value*>(MapAdd(map, RT_TEXT("k"), 1));
    EXPECT_EQ(again, value);
    EXPECT_EQ(again->stamp, 0u);
    EXPECT_EQ(again->spare, 0u);
    EXPECT_EQ(MapElementOf(again)->key.text, key);
    EXPECT_EQ(map->count, 1);
}

TEST(MapAddInteger, NegativeKeysLandInsideTheBucketRange) {
    MapHolder holder, copyHolder;
    KeyedMap* map = NewMap(holder, 1000, MAP_INTEGER_KEYS);
    const int64_t keys[] = {-1, -1000, -1001, INT64_MIN, INT64_MAX, 0, 999, 123456789};
    for (int64_t key : keys) {
        auto* value = static_cast<Value*>(MapAddInteger(map, key, 0));
        ASSERT_NE(value, nullptr);
        value->stamp = static_cast<uint64_t>(key);
        EXPECT_TRUE(map->currentBucket >= 0 && map->currentBucket < 1000) << key;
    }
    EXPECT_EQ(map->currentBucket, 123456789 % 1000);
    KeyedMap* copy = NewMap(copyHolder, 7, MAP_INTEGER_KEYS);
    EXPECT_EQ(MapCopy(map, copy, 0), 1);
    for (int64_t key : keys) {
        EXPECT_EQ(StampOf(MapFindInteger(map, key)), static_cast<uint64_t>(key));
        EXPECT_EQ(StampOf(MapFindInteger(copy, key)), static_cast<uint64_t>(key));
    }
    EXPECT_EQ(MapFindInteger(map, 5), nullptr);
    EXPECT_EQ(MapAddInteger(map, -1, 1), MapFindInteger(map, -1));
    EXPECT_EQ(map->count, 8);
}

TEST(MapNext, WalksBucketsAscendingAndEachChainNewestFirst) {
    MapHolder holder;
    KeyedMap* map = NewMap(holder, 1024);
    Add(map, RT_TEXT("abc"), 1);  // bucket 98
    Add(map, RT_TEXT("abc"), 2);
    Add(map, RT_TEXT(""), 3);  // bucket 0
    std::vector<uint64_t> order;
    MapResetIteration(map);
    while (void* value = MapNext(map)) {
        order.push_back(StampOf(value));
    }
    EXPECT_EQ(order, (std::vector<uint64_t>{3, 2, 1}));
    EXPECT_EQ(MapNext(map), nullptr);  // the walk stays ended until it is reset
    MapResetIteration(map);
    EXPECT_EQ(StampOf(MapNext(map)), 3u);
}

TEST(MapDeleteCurrent, DeletingEveryElementDuringOneWalkVisitsEachOnce) {
    HEAP_BLOCKS_MARK();
    {
        MapHolder holder;
        KeyedMap* map = NewMap(holder, 7);  // few buckets: long chains
        for (uint64_t i = 1; i <= 100; ++i) {
            Add(map, Text(u"k" + std::u16string(i, u'.')), i);
        }
        std::multiset<uint64_t> visited;
        MapResetIteration(map);
        while (void* value = MapNext(map)) {
            visited.insert(StampOf(value));
            MapDeleteCurrent(map);
        }
        EXPECT_EQ(visited.size(), 100u);
        EXPECT_EQ(std::set<uint64_t>(visited.begin(), visited.end()).size(), 100u);
        EXPECT_EQ(map->count, 0);
        EXPECT_EQ(std::count(map->buckets, map->buckets + 7, nullptr), 7);
    }
    EXPECT_HEAP_BLOCKS_UNCHANGED();
}

TEST(MapDeleteCurrent, AfterAFindTheWalkGoesOnWithTheFollowingElement) {
    MapHolder holder;
    KeyedMap* map = NewMap(holder, 1);
    for (const WCHAR* key : {RT_TEXT("a"), RT_TEXT("b"), RT_TEXT("c")}) {
        Add(map, key, key[0]);  // chain: c, b, a
    }
    ASSERT_NE(MapFind(map, RT_TEXT("b")), nullptr);
    EXPECT_EQ(StampOf(MapDeleteCurrent(map)), 'c');
    EXPECT_EQ(StampOf(MapNext(map)), 'a');
}

TEST(MapDeleteCurrent, TwiceInARowInsideAChainFindsThePredecessor) {
    MapHolder holder;
    KeyedMap* map = NewMap(holder, 1);
    for (const WCHAR* key : {RT_TEXT("a"), RT_TEXT("b"), RT_TEXT("c"), RT_TEXT("d")}) {
        Add(map, key, key[0]);  // chain: d, c, b, a
    }
    MapResetIteration(map);
    MapNext(map);
    MapNext(map);
    MapNext(map);  // at b, after c
    EXPECT_EQ(StampOf(MapDeleteCurrent(map)), 'c');
    // The element before c is no longer recorded: it is found in the chain.
    EXPECT_EQ(StampOf(MapDeleteCurrent(map)), 'd');
    EXPECT_EQ(StampOf(MapNext(map)), 'a');
    EXPECT_EQ(MapNext(map), nullptr);
    EXPECT_EQ(ChainLength(map, 0), 2);
}

TEST(MapClear, RemovesEveryElementAndKeepsTheMapUsable) {
    MapHolder holder;
    KeyedMap* map = NewMap(holder, 16);
    HEAP_BLOCKS_MARK();
    for (int i = 0; i < 40; ++i) {
        Add(map, Text(std::u16string(i + 1, u'k')), i);
    }
    MapClear(map);
    EXPECT_EQ(map->count, 0);
    EXPECT_EQ(map->current, nullptr);
    EXPECT_EQ(std::count(map->buckets, map->buckets + 16, nullptr), 16);
    EXPECT_HEAP_BLOCKS_UNCHANGED();
    Add(map, RT_TEXT("k"), 1);
    EXPECT_EQ(MapFind(map, RT_TEXT("kk")), nullptr);
}

TEST(MapCopy, CopiesKeysAndValuesAndLeavesTheSourceWalkAlone) {
    MapHolder source, destination;
    KeyedMap* from = NewMap(source, 8);
    KeyedMap* to = NewMap(destination, 3);
    Add(from, RT_TEXT("one"), 1);
    Add(from, RT_TEXT("two"), 2);
    Add(from, RT_TEXT("two"), 3);
    Add(to, RT_TEXT("one"), 10);
    MapResetIteration(from);
    MapNext(from);
    MapElement* current = from->current;
    int32_t bucket = from->currentBucket;

    EXPECT_EQ(MapCopy(from, to, 0), 1);
    EXPECT_EQ(from->current, current);
    EXPECT_EQ(from->currentBucket, bucket);
    EXPECT_EQ(to->count, 4);  // without clearing, "one" is there twice

    EXPECT_EQ(MapCopy(from, to, 1), 1);
    EXPECT_EQ(to->count, 3);
    EXPECT_EQ(StampOf(MapFind(to, RT_TEXT("one"))), 1u);
    EXPECT_NE(MapElementOf(MapFind(to, RT_TEXT("one")))->key.text,
              MapElementOf(MapFind(from, RT_TEXT("one")))->key.text);
    // The two "two" elements keep their order: the newer one is found first.
    EXPECT_EQ(StampOf(MapFind(to, RT_TEXT("two"))), 3u);
    MapDeleteCurrent(to);
    EXPECT_EQ(StampOf(MapFind(to, RT_TEXT("two"))), 2u);

    EXPECT_EQ(MapCopy(nullptr, to, 0), 0);
    EXPECT_EQ(MapCopy(from, nullptr, 1), 0);
    EXPECT_EQ(MapCopy(from, from, 0), 1);
    EXPECT_EQ(from->count, 3);
}

// The map against a model: for each key, the stamps of its elements, oldest first. Adds in both
// modes, finds, deletes after a find, walks with deletions, copies and clears, chosen at random
// with a fixed seed, over few buckets so that chains are long.
TEST(MapModel, RandomOperationsAgreeWithAModel) {
    std::mt19937 random(20240611);
    std::vector<std::u16string> keys = {u""};
    for (int i = 0; i < 40; ++i) {
        keys.push_back(u"key" + std::u16string(1, static_cast<char16_t>(u'a' + i % 26)) +
                       std::u16string(i / 26, u'!'));
    }
    MapHolder holder;
    KeyedMap* map = NewMap(holder, 7);
    std::map<std::u16string, std::vector<uint64_t>> model;
    uint64_t nextStamp = 1;
    int64_t total = 0;

    for (int step = 0; step < 20000; ++step) {
        const std::u16string& key = keys[random() % keys.size()];
        std::vector<uint64_t>& stamps = model[key];
        const int op = static_cast<int>(random() % 100);
        if (op < 45) {  // add, mode 0 or 1
            const int32_t mode = op < 30 ? 0 : 1;
            Add(map, Text(key), nextStamp, mode);
            if (mode == 1 && !stamps.empty()) {
                stamps.back() = nextStamp;
            } else {
                stamps.push_back(nextStamp);
                total += 1;
            }
            nextStamp += 1;
        } else if (op < 70) {  // find
            ASSERT_EQ(StampOf(MapFind(map, Text(key))), stamps.empty() ? 0 : stamps.back());
        } else if (op < 90) {  // find, then delete
            ASSERT_EQ(MapFind(map, Text(key)) != nullptr, !stamps.empty());
            if (!stamps.empty()) {
                MapDeleteCurrent(map);
                stamps.pop_back();
                total -= 1;
            }
        } else if (op < 98) {  // a whole walk, deleting about a third of what it visits
            std::map<std::u16string, std::vector<uint64_t>> seen;
            const int64_t present = total;
            int64_t visits = 0;
            MapResetIteration(map);
            while (void* value = MapNext(map)) {
                const WCHAR* text = MapElementOf(value)->key.text;
                std::u16string visited(reinterpret_cast<const char16_t*>(text));
                ASSERT_EQ(map->currentBucket, static_cast<int32_t>(MapHashKey(text, 0) % 7));
                seen[visited].push_back(StampOf(value));
                visits += 1;
                if (random() % 3 == 0) {
                    std::vector<uint64_t>& owner = model[visited];
                    auto found = std::find(owner.begin(), owner.end(), StampOf(value));
                    ASSERT_NE(found, owner.end());
                    owner.erase(found);
                    MapDeleteCurrent(map);
                    total -= 1;
                }
            }
            // As many visits as elements and every remaining element among them (so none was
            // skipped or repeated), and within a key the newest first.
            ASSERT_EQ(visits, present);
            for (auto& [k, order] : model) {
                ASSERT_TRUE(std::is_sorted(seen[k].rbegin(), seen[k].rend()));
                for (uint64_t stamp : order) {
                    ASSERT_NE(std::find(seen[k].begin(), seen[k].end(), stamp), seen[k].end());
                }
            }
        } else if (op < 99) {  // copy into a fresh map and compare
            MapHolder copyHolder;
            KeyedMap* copy = NewMap(copyHolder, 3);
            ASSERT_EQ(MapCopy(map, copy, 1), 1);
            ASSERT_EQ(copy->count, total);
            for (auto& [k, order] : model) {
                ASSERT_EQ(StampOf(MapFind(copy, Text(k))), order.empty() ? 0 : order.back());
            }
        } else {
            MapClear(map);
            for (auto& entry : model) {
                entry.second.clear();
            }
            total = 0;
        }
        ASSERT_EQ(map->count, total) << "step " << step;
    }
}

#if RT_HAS_ALLOCATION_HOOK
TEST(MapCreate, EveryAllocationFailureLeavesNothingBehind) {
    HEAP_BLOCKS_MARK();
    int failures = test::SweepAllocationFailures([&](int) {
        KeyedMap* holder = nullptr;
        KeyedMap* map = MapCreate(24, 0, nullptr, &holder, 100);
        if (map == nullptr) {
            EXPECT_EQ(holder, nullptr);
            EXPECT_HEAP_BLOCKS_UNCHANGED();
            return false;
        }
        MapFree(map);
        return true;
    });
    EXPECT_EQ(failures, 4);  // header, buckets, shared-pool descriptor, pool header
}

TEST(MapAdd, EveryAllocationFailureLeavesTheMapUnchangedAndUsable) {
    MapHolder holder;
    KeyedMap* map = MapCreate(1000, 0, nullptr, &holder.map, 4);  // a pool no other test uses
    for (bool emptyPool : {true, false}) {
        HEAP_BLOCKS_MARK();
        // An empty pool needs a block (and tries a one-slot block after that); then the key copy.
        int failures = test::SweepAllocationFailures([&](int nth) {
            PlatformFailAllocation(nth, emptyPool && nth == 1 ? 2 : 1);
            if (MapAdd(map, RT_TEXT("k"), 0) == nullptr) {
                EXPECT_EQ(map->count, emptyPool ? 0 : 1);
                EXPECT_EQ(MapFind(map, RT_TEXT("k")) != nullptr, !emptyPool);
                EXPECT_HEAP_BLOCKS_UNCHANGED();
                return false;
            }
            EXPECT_EQ(map->count, emptyPool ? 1 : 2);
            return true;
        });
        EXPECT_EQ(failures, emptyPool ? 2 : 1);
    }
}
#endif

}  // namespace
}  // namespace rt
