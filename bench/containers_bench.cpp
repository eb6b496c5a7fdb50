// Map and list throughput against std::unordered_map and std::list doing the same work: string
// keys shaped like the event-binding keys, 16-byte values and elements, additions, look-ups and
// deletions by key, appends and selects by index. Prints nanoseconds per operation and the ratio of
// our time to the standard container's (below 1: ours is faster).
#include <chrono>
#include <cstdio>
#include <iterator>
#include <list>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "runtime/containers/containers.h"
#include "runtime/libraries/libraries.h"

namespace {

using Clock = std::chrono::steady_clock;
using Key = std::basic_string<WCHAR>;

struct Value {
    int64_t window;
    int64_t data;
};

uint64_t sink = 0;  // results feed it, so that no work is optimised away

// Runs `round` until at least 0.3 s have passed; nanoseconds per operation.
template <typename Round>
double Measure(int64_t operationsPerRound, Round round) {
    int64_t rounds = 0;
    auto start = Clock::now();
    std::chrono::duration<double> elapsed{};
    do {
        round();
        rounds += 1;
        elapsed = Clock::now() - start;
    } while (elapsed.count() < 0.3);
    return elapsed.count() * 1e9 / static_cast<double>(rounds * operationsPerRound);
}

void Report(const char* what, double ours, double standard) {
    std::printf("%-50s %8.1f ns %8.1f ns   ratio %.2f\n", what, ours, standard, ours / standard);
}

Key MakeKey(int64_t i) {
    std::string narrow = "13100:" + std::to_string(i % 97) + ":" + std::to_string(i) + ":-1";
    return Key(narrow.begin(), narrow.end());
}

// Adds every key, finds every key, then deletes every key after finding it.
void BenchMap(int64_t count, int32_t buckets) {
    std::vector<Key> keys;
    for (int64_t i = 0; i < count; ++i) {
        keys.push_back(MakeKey(i));
    }
    const int64_t operations = 3 * count;

    double ours = Measure(operations, [&] {
        rt::KeyedMap* map = nullptr;
        rt::MapCreate(sizeof(Value), 7, nullptr, &map, buckets);
        for (int64_t i = 0; i < count; ++i) {
            static_cast<Value*>(rt::MapAdd(map, keys[i].c_str(), 0))->data = i;
        }
        for (const Key& key : keys) {
            sink += static_cast<Value*>(rt::MapFind(map, key.c_str()))->data;
        }
        for (const Key& key : keys) {
            rt::MapFind(map, key.c_str());
            rt::MapDeleteCurrent(map);
        }
        rt::MapFree(map);
    });

    double standard = Measure(operations, [&] {
        std::unordered_map<Key, Value> map;
        map.reserve(static_cast<size_t>(buckets));
        for (int64_t i = 0; i < count; ++i) {
            map.emplace(keys[i], Value{}).first->second.data = i;
        }
        for (const Key& key : keys) {
            sink += map.find(key)->second.data;
        }
        for (const Key& key : keys) {
            map.erase(map.find(key));
        }
    });

    char what[96];
    std::snprintf(what, sizeof what, "map add/find/delete, %lld keys, %d buckets",
                  static_cast<long long>(count), buckets);
    Report(what, ours, standard);
}

// Selects by walking from the nearest of the front, the back and the current position, as the
// linked list does.
class StdListCursor {
  public:
    explicit StdListCursor(std::list<Value>& list) : list_(list) {}

    Value& Select(int64_t index) {
        const int64_t count = static_cast<int64_t>(list_.size());
        if (index > current_) {
            if (index - current_ < count - index) {
                std::advance(at_, index - current_);
            } else {
                at_ = std::prev(list_.end(), count - index);
            }
        } else if (current_ - index < index) {
            std::advance(at_, index - current_);
        } else {
            at_ = std::next(list_.begin(), index);
        }
        current_ = index;
        return *at_;
    }
    void Reset() {
        at_ = list_.begin();
        current_ = 0;
    }

  private:
    std::list<Value>& list_;
    std::list<Value>::iterator at_;
    int64_t current_ = 0;
};

// Appends every element, selects every index in order, then selects random indexes.
void BenchList(int64_t count, int64_t randomSelects) {
    std::vector<int64_t> indexes;
    std::mt19937_64 random(99);
    for (int64_t i = 0; i < randomSelects; ++i) {
        indexes.push_back(static_cast<int64_t>(random() % static_cast<uint64_t>(count)));
    }

    double oursInOrder = Measure(2 * count, [&] {
        rt::ListHolder holder = {nullptr, nullptr};
        rt::LinkedListCreate(sizeof(Value), &holder, nullptr, 0);
        for (int64_t i = 0; i < count; ++i) {
            static_cast<Value*>(rt::LinkedListAddElement(holder.list))->data = i;
        }
        for (int64_t i = 0; i < count; ++i) {
            sink += static_cast<Value*>(rt::LinkedListSelect(holder.list, i))->data;
        }
        rt::LinkedListFree(holder.list);
    });
    double standardInOrder = Measure(2 * count, [&] {
        std::list<Value> list;
        for (int64_t i = 0; i < count; ++i) {
            list.push_back(Value{0, i});
        }
        StdListCursor cursor(list);
        cursor.Reset();
        for (int64_t i = 0; i < count; ++i) {
            sink += cursor.Select(i).data;
        }
    });

    rt::ListHolder holder = {nullptr, nullptr};
    rt::LinkedListCreate(sizeof(Value), &holder, nullptr, 0);
    std::list<Value> list;
    for (int64_t i = 0; i < count; ++i) {
        static_cast<Value*>(rt::LinkedListAddElement(holder.list))->data = i;
        list.push_back(Value{0, i});
    }
    double oursRandom = Measure(randomSelects, [&] {
        for (int64_t index : indexes) {
            sink += static_cast<Value*>(rt::LinkedListSelect(holder.list, index))->data;
        }
    });
    StdListCursor cursor(list);
    cursor.Reset();
    double standardRandom = Measure(randomSelects, [&] {
        for (int64_t index : indexes) {
            sink += cursor.Select(index).data;
        }
    });
    rt::LinkedListFree(holder.list);

    char what[96];
    std::snprintf(what, sizeof what, "list add + select in order, %lld elements",
                  static_cast<long long>(count));
    Report(what, oursInOrder, standardInOrder);
    std::snprintf(what, sizeof what, "list select at random, %lld elements",
                  static_cast<long long>(count));
    Report(what, oursRandom, standardRandom);
}

}  // namespace

int main() {
    rt::MainHeap = HeapCreate(0, 4096, 0);
    rt::LibrariesStart(rt::Library::LINKED_LISTS);
    std::printf("%-50s %11s %11s\n", "", "ours", "std");
    BenchMap(1000, 1024);
    BenchMap(100000, 131072);
    BenchList(100000, 2000);
    BenchList(1000, 100000);
    std::printf("(checksum %llu)\n", static_cast<unsigned long long>(sink));
    HeapDestroy(rt::MainHeap);
    return 0;
}
