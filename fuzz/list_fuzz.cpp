// Fuzzes the linked list with a script of operations run at the same time on a vector that models
// it: adding after the current element, selecting by index (in range or not), clearing, and
// copying into a second list (after its current element, cleared first or not) and into itself.
// After every step the count, the current index and, now and then, every element's data in order
// must match the model.
//
// Input: steps of two bytes: the operation and its argument.
#include <vector>

#include "harness.h"
#include "runtime/containers/containers.h"

namespace {

struct Item {
    int64_t serial;
    int64_t spare;
};

// A list and its model: the serials in order and the current index (-1: none).
struct ModelledList {
    rt::ListHolder holder{};
    std::vector<int64_t> items;
    int64_t current = -1;

    rt::LinkedList* List() const { return holder.list; }

    void CheckAgainstModel(bool everyElement) const {
        fuzz::Check(List()->count == static_cast<int64_t>(items.size()), "the count differs");
        fuzz::Check((List()->noCurrent != 0) == (current < 0), "the current element differs");
        if (current >= 0) {
            fuzz::Check(List()->currentIndex == current, "the current index differs");
            fuzz::Check(static_cast<Item*>(rt::ListElementData(List()->current))->serial ==
                            items[static_cast<size_t>(current)],
                        "the current element holds other data");
        }
        if (everyElement) {
            size_t at = 0;
            for (rt::ListElement* element = List()->head; element != nullptr;
                 element = element->next, ++at) {
                fuzz::Check(
                    at < items.size() &&
                        static_cast<Item*>(rt::ListElementData(element))->serial == items[at],
                    "the elements differ");
            }
            fuzz::Check(at == items.size(), "the chain is shorter than the count");
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::RuntimeStart();
    fuzz::Input input(data, size);
    ModelledList lists[2];
    for (ModelledList& list : lists) {
        fuzz::Check(rt::LinkedListCreate(sizeof(Item), &list.holder, nullptr, 0) != nullptr,
                    "a list could not be created");
    }
    int64_t serial = 0;
    for (int step = 0; !input.Empty(); ++step) {
        uint8_t operation = input.Byte();
        uint8_t argument = input.Byte();
        ModelledList& list = lists[operation >> 7];
        ModelledList& other = lists[1 - (operation >> 7)];
        switch (operation % 8) {
            case 0:
            case 1:
            case 2: {
                auto* item = static_cast<Item*>(rt::LinkedListAddElement(list.List()));
                fuzz::Check(item != nullptr, "an add failed with memory to spare");
                fuzz::Check(item->serial == 0 && item->spare == 0, "a new element is not zeroed");
                item->serial = ++serial;
                list.current += 1;  // after the current element, or at the head when none
                list.items.insert(list.items.begin() + list.current, serial);
                break;
            }
            case 3:
            case 4: {
                // Indexes a little past both ends as well.
                int64_t index = static_cast<int64_t>(argument) % (list.items.size() + 3) - 1;
                void* selected = rt::LinkedListSelect(list.List(), index);
                bool inRange = index >= 0 && index < static_cast<int64_t>(list.items.size());
                fuzz::Check((selected != nullptr) == inRange, "a select disagrees on the range");
                list.current = inRange ? index : -1;
                break;
            }
            case 5:
                rt::LinkedListClear(list.List());
                list.items.clear();
                list.current = -1;
                break;
            case 6: {
                bool clearFirst = (argument & 1) != 0;
                // Copies back and forth double the lists: beyond a few thousand elements a copy
                // tests nothing new and only exhausts memory.
                if (list.items.size() + other.items.size() > 4096) {
                    break;
                }
                fuzz::Check(rt::LinkedListCopy(list.List(), other.List(), clearFirst ? 1 : 0) == 1,
                            "a copy failed");
                // Each copied element carries its serial: the model inserts the same serials.
                if (clearFirst) {
                    other.items.clear();
                    other.current = -1;
                }
                other.items.insert(other.items.begin() + (other.current + 1), list.items.begin(),
                                   list.items.end());
                other.current += static_cast<int64_t>(list.items.size());
                other.CheckAgainstModel(true);
                break;
            }
            case 7:
                fuzz::Check(rt::LinkedListCopy(list.List(), list.List(), argument & 1) == 1,
                            "a copy into itself failed");
                break;
        }
        list.CheckAgainstModel(step % 16 == 0);
    }
    for (ModelledList& list : lists) {
        list.CheckAgainstModel(true);
        rt::LinkedListFree(list.List());
    }
    return 0;
}
