#include <random>
#include <vector>

#include "containers_test.h"

namespace rt {
namespace {

using test::ListHolderGuard;

// Elements of the test lists carry a stamp and a word that must start out zero.
struct Item {
    uint64_t stamp;
    uint64_t spare;
};

Item* Add(LinkedList* list, uint64_t stamp) {
    auto* item = static_cast<Item*>(LinkedListAddElement(list));
    EXPECT_NE(item, nullptr);
    EXPECT_EQ(item->stamp, 0u);
    EXPECT_EQ(item->spare, 0u);
    item->stamp = stamp;
    return item;
}

LinkedList* ListOf(ListHolderGuard& guard, int count) {
    LinkedList* list = LinkedListCreate(sizeof(Item), &guard.holder, nullptr, 3);
    EXPECT_NE(list, nullptr);
    for (int i = 0; i < count; ++i) {
        Add(list, i);
    }
    return list;
}

ListElement* ElementOf(void* data) {
    return static_cast<ListElement*>(data) - 1;
}

// The stamps from head to tail, after checking that the links agree both ways and with the
// header's head, tail and count.
std::vector<uint64_t> Stamps(LinkedList* list) {
    std::vector<uint64_t> stamps;
    ListElement* previous = nullptr;
    for (ListElement* e = list->head; e != nullptr; previous = e, e = e->next) {
        EXPECT_EQ(e->previous, previous);
        stamps.push_back(static_cast<Item*>(ListElementData(e))->stamp);
    }
    EXPECT_EQ(list->tail, previous);
    EXPECT_EQ(list->count, static_cast<int64_t>(stamps.size()));
    return stamps;
}

TEST(LinkedListCreate, SetsTheHeaderAndSharesThePoolOfItsSize) {
    ListHolderGuard guard, other;
    test::MapHolder map;
    guard.holder.current = reinterpret_cast<ListElement*>(0x1234);  // whatever it held before
    LinkedList* list = LinkedListCreate(24, &guard.holder, nullptr, 9);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(guard.holder.list, list);
    EXPECT_EQ(guard.holder.current, nullptr);
    EXPECT_EQ(list->currentSlot, &guard.holder.current);
    EXPECT_EQ(list->elementSize, 40);
    EXPECT_EQ(list->typeCode, 9);
    EXPECT_EQ(list->noCurrent, 1);
    EXPECT_EQ(list->ownsHolder, 0);
    EXPECT_EQ(list->pool->slotSize, 48u);
    EXPECT_EQ(LinkedListCreate(24, &other.holder, nullptr, 0)->pool, list->pool);
    EXPECT_EQ(MapCreate(24, 0, nullptr, &map.map, 8)->pool, list->pool);
}

TEST(LinkedListAddElement, FirstElementIsHeadTailAndIndexZero) {
    ListHolderGuard guard;
    LinkedList* list = ListOf(guard, 0);
    Item* item = Add(list, 7);
    EXPECT_EQ(list->count, 1);
    EXPECT_EQ(list->head, ElementOf(item));
    EXPECT_EQ(list->tail, ElementOf(item));
    EXPECT_EQ(guard.holder.current, ElementOf(item));
    EXPECT_EQ(list->currentIndex, 0);
    EXPECT_EQ(LinkedListSelect(list, 0), item);
}

TEST(LinkedListAddElement, InsertsAfterTheCurrentElement) {
    ListHolderGuard guard;
    LinkedList* list = ListOf(guard, 10);
    ASSERT_NE(LinkedListSelect(list, 5), nullptr);
    Item* inserted = Add(list, 100);
    EXPECT_EQ(list->currentIndex, 6);
    EXPECT_EQ(Stamps(list), (std::vector<uint64_t>{0, 1, 2, 3, 4, 5, 100, 6, 7, 8, 9}));
    EXPECT_EQ(LinkedListSelect(list, 6), inserted);
}

TEST(LinkedListSelect, OutOfRangeClearsTheCurrentSlotAndTheNextAddGoesToTheHead) {
    for (int64_t index : {int64_t{-1}, int64_t{3}}) {
        ListHolderGuard guard;
        LinkedList* list = ListOf(guard, 3);
        ASSERT_NE(LinkedListSelect(list, 1), nullptr);
        EXPECT_EQ(LinkedListSelect(list, index), nullptr);
        EXPECT_EQ(guard.holder.current, nullptr);
        EXPECT_EQ(list->noCurrent, 1);
        Add(list, 50);
        EXPECT_EQ(list->currentIndex, 0);
        EXPECT_EQ(Stamps(list), (std::vector<uint64_t>{50, 0, 1, 2}));
    }
}

// Which way a select walks is seen by cutting every link except those of the expected route: a
// walk along any other route meets a missing link and finds nothing.
enum class Route { FromHead, FromTail, ForwardFromCurrent, BackwardFromCurrent };

struct SelectCase {
    int64_t old;  // -1: no current element
    int64_t index;
    Route route;
};

void PrintTo(const SelectCase& c, std::ostream* out) {
    static const char* const routes[] = {"from the head", "from the tail", "forward from current",
                                         "backward from current"};
    *out << "index " << c.index << " with current " << c.old << ", "
         << routes[static_cast<int>(c.route)];
}

class LinkedListSelectRoute : public testing::TestWithParam<SelectCase> {};

TEST_P(LinkedListSelectRoute, WalksTheFewestLinksWithTheEndsWinningTies) {
    const SelectCase c = GetParam();
    ListHolderGuard guard;
    LinkedList* list = ListOf(guard, 10);
    LinkedListSelect(list, c.old);  // -1 leaves the list without a current element
    std::vector<ListElement*> elements;
    std::vector<ListElement> saved;
    for (ListElement* e = list->head; e != nullptr; e = e->next) {
        elements.push_back(e);
        saved.push_back(*e);
    }
    for (ListElement* e : elements) {
        *e = {nullptr, nullptr};
    }
    // The route walks the next links of [first, last) forward or the previous links of
    // (first, last] backward.
    int64_t first = c.index, last = c.index;
    bool forward = true;
    switch (c.route) {
        case Route::FromHead:
            first = 0;
            break;
        case Route::FromTail:
            last = 9;
            forward = false;
            break;
        case Route::ForwardFromCurrent:
            first = c.old;
            break;
        case Route::BackwardFromCurrent:
            last = c.old;
            forward = false;
            break;
    }
    for (int64_t i = first; i < last; ++i) {
        if (forward) {
            elements[i]->next = saved[i].next;
        } else {
            elements[i + 1]->previous = saved[i + 1].previous;
        }
    }
    void* found = LinkedListSelect(list, c.index);
    for (size_t i = 0; i < elements.size(); ++i) {
        *elements[i] = saved[i];
    }
    EXPECT_EQ(found, ListElementData(elements[c.index]));
    EXPECT_EQ(list->currentIndex, c.index);
}

INSTANTIATE_TEST_SUITE_P(
    TenElements, LinkedListSelectRoute,
    testing::Values(SelectCase{-1, 4, Route::FromHead}, SelectCase{-1, 5, Route::FromTail},
                    SelectCase{-1, 0, Route::FromHead}, SelectCase{-1, 9, Route::FromTail},
                    SelectCase{2, 5, Route::ForwardFromCurrent},
                    SelectCase{2, 6, Route::FromTail},  // 4 links either way: the tail
                    SelectCase{1, 7, Route::FromTail}, SelectCase{6, 4, Route::BackwardFromCurrent},
                    SelectCase{6, 3, Route::FromHead},  // 3 links either way: the head
                    SelectCase{8, 2, Route::FromHead},
                    SelectCase{7, 7, Route::BackwardFromCurrent}));

TEST(LinkedListClear, EmptiesTheListAndItsHolder) {
    ListHolderGuard guard;
    LinkedList* list = ListOf(guard, 5);
    LinkedListClear(list);
    EXPECT_EQ(Stamps(list), std::vector<uint64_t>{});
    EXPECT_EQ(list->current, nullptr);
    EXPECT_EQ(guard.holder.current, nullptr);
    EXPECT_EQ(list->noCurrent, 1);
}

TEST(LinkedListCopy, CopiesLandAfterTheDestinationsCurrentElement) {
    ListHolderGuard source, destination;
    LinkedList* from = ListOf(source, 0);
    Add(from, 10);
    Add(from, 11);
    LinkedList* to = ListOf(destination, 3);
    ASSERT_NE(LinkedListSelect(to, 1), nullptr);
    EXPECT_EQ(LinkedListCopy(from, to, 0), 1);
    EXPECT_EQ(Stamps(to), (std::vector<uint64_t>{0, 1, 10, 11, 2}));
    EXPECT_EQ(to->currentIndex, 3);

    EXPECT_EQ(LinkedListCopy(from, to, 1), 1);
    EXPECT_EQ(Stamps(to), (std::vector<uint64_t>{10, 11}));
    EXPECT_EQ(LinkedListCopy(nullptr, to, 0), 0);
    EXPECT_EQ(LinkedListCopy(from, nullptr, 0), 0);
    EXPECT_EQ(LinkedListCopy(from, from, 0), 1);
    EXPECT_EQ(Stamps(from), (std::vector<uint64_t>{10, 11}));
}

TEST(LinkedListFree, ACallersHolderStaysAllocatedWithBothWordsZero) {
    HEAP_BLOCKS_MARK();
    auto* holder = static_cast<ListHolder*>(HeapAlloc(MainHeap, 0, sizeof(ListHolder)));
    ASSERT_NE(holder, nullptr);
    LinkedList* list = LinkedListCreate(sizeof(Item), holder, nullptr, 0);
    for (int i = 0; i < 100; ++i) {
        Add(list, i);
    }
    LinkedListFree(list);
    EXPECT_EQ(holder->list, nullptr);
    EXPECT_EQ(holder->current, nullptr);
    EXPECT_EQ(HeapSize(MainHeap, 0, holder), sizeof(ListHolder));  // still allocated
    HeapFree(MainHeap, 0, holder);

    // Without a holder the list makes its own and frees it with itself.
    list = LinkedListCreate(sizeof(Item), nullptr, nullptr, 0);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->ownsHolder, 1);
    EXPECT_EQ(ElementOf(Add(list, 1)), list->holder->current);
    LinkedListFree(list);
    LinkedListFree(nullptr);
    EXPECT_HEAP_BLOCKS_UNCHANGED();
}

// The list against a model: a vector of stamps and the index of the current element (-1: none).
// Adds, selects (in and out of range), clears and copies, chosen at random with a fixed seed.
TEST(LinkedListModel, RandomOperationsAgreeWithAModel) {
    std::mt19937 random(7031);
    ListHolderGuard guard;
    LinkedList* list = ListOf(guard, 0);
    std::vector<uint64_t> model;
    int64_t current = -1;
    uint64_t nextStamp = 1;

    for (int step = 0; step < 20000; ++step) {
        const int op = static_cast<int>(random() % 100);
        const int64_t size = static_cast<int64_t>(model.size());
        if (op < 45) {
            Add(list, nextStamp);
            current += 1;  // after the current element, or at the head when there is none
            model.insert(model.begin() + current, nextStamp++);
        } else if (op < 94) {
            int64_t index = static_cast<int64_t>(random() % (model.size() + 4)) - 2;
            auto* item = static_cast<Item*>(LinkedListSelect(list, index));
            current = index >= 0 && index < size ? index : -1;
            ASSERT_EQ(item != nullptr ? int64_t(item->stamp) : -1, current < 0 ? -1 : model[index]);
        } else if (op < 97) {
            ListHolderGuard copyGuard;
            LinkedList* copy = ListOf(copyGuard, 2);
            LinkedListSelect(copy, 0);
            ASSERT_EQ(LinkedListCopy(list, copy, 0), 1);
            std::vector<uint64_t> expected = {0};
            expected.insert(expected.end(), model.begin(), model.end());
            expected.push_back(1);
            ASSERT_EQ(Stamps(copy), expected);
        } else if (op < 98) {
            LinkedListClear(list);
            model.clear();
            current = -1;
        }
        ASSERT_EQ(list->count, static_cast<int64_t>(model.size()));
        ASSERT_EQ(guard.holder.current, list->current);
        ASSERT_EQ(list->current == nullptr, current < 0);
        if (current >= 0) {
            ASSERT_EQ(list->currentIndex, current);
            ASSERT_EQ(static_cast<Item*>(ListElementData(list->current))->stamp, model[current]);
        }
        if (step % 1000 == 0) {
            ASSERT_EQ(Stamps(list), model);
        }
    }
    ASSERT_EQ(Stamps(list), model);
}

#if RT_HAS_ALLOCATION_HOOK
TEST(LinkedListCreate, EveryAllocationFailureLeavesNothingBehind) {
    HEAP_BLOCKS_MARK();
    for (bool ownHolder : {false, true}) {
        int failures = test::SweepAllocationFailures([&](int) {
            ListHolder holder = {reinterpret_cast<LinkedList*>(0x10), nullptr};
            LinkedList* list = LinkedListCreate(56, ownHolder ? nullptr : &holder, nullptr, 0);
            if (list == nullptr) {
                EXPECT_EQ(holder.list, ownHolder ? reinterpret_cast<LinkedList*>(0x10) : nullptr);
                EXPECT_HEAP_BLOCKS_UNCHANGED();
                return false;
            }
            LinkedListFree(list);
            return true;
        });
        // The holder (when the list owns it), the header, the shared-pool descriptor and header.
        EXPECT_EQ(failures, ownHolder ? 4 : 3);
    }
}

TEST(LinkedListAddElement, AnExhaustedPoolLeavesTheListUnchanged) {
    ListHolderGuard guard;
    LinkedList* list = LinkedListCreate(2000, &guard.holder, nullptr, 0);  // a pool of its own
    ASSERT_NE(list, nullptr);
    for (int i = 0; i < 16; ++i) {  // fill the first block
        ASSERT_NE(LinkedListAddElement(list), nullptr);
    }
    ListElement* head = list->head;
    ASSERT_NE(LinkedListSelect(list, 3), nullptr);
    PlatformFailAllocation(1, 2);  // the next block and its one-slot fallback
    EXPECT_EQ(LinkedListAddElement(list), nullptr);
    PlatformFailAllocation(0);
    EXPECT_EQ(list->count, 16);
    EXPECT_EQ(list->currentIndex, 3);
    EXPECT_EQ(list->head, head);
    EXPECT_EQ(guard.holder.current, list->current);
    EXPECT_NE(LinkedListAddElement(list), nullptr);
}
#endif

}  // namespace
}  // namespace rt
