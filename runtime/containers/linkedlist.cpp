// Linked lists: doubly linked fixed-size elements from the shared pool of their size, with a
// current element whose index the list remembers, so that a step to a neighbouring index costs one
// link and a jump walks from the nearest of the head, the tail and the current element.
//
// The list owns its elements and, through the record description, whatever their fields own; the
// holder (the caller's, or one the list allocated) mirrors the current element for the program.
// A list has no lock: one thread at a time uses it. Its pool is shared and guards itself.
#include <cstring>

#include "containers.h"
#include "containers_internal.h"

namespace rt {

namespace {

ListElement* Walk(ListElement* from, int64_t links, bool forward) {
    for (; from != nullptr && links > 0; --links) {
        from = forward ? from->next : from->previous;
    }
    return from;
}

void SetCurrent(LinkedList* list, ListElement* element) {
    list->current = element;
    *list->currentSlot = element;
}

}  // namespace

void LinkedListLibraryStart() {
    ContainerOps.listCreate = LinkedListCreate;
    ContainerOps.listCopy = LinkedListCopy;
    ContainerOps.listFree = LinkedListFree;
}

LinkedList* LinkedListCreate(int64_t elementSize, ListHolder* holder,
                             const RecordDescription* description, int32_t typeCode) {
    bool ownsHolder = holder == nullptr;
    if (ownsHolder) {
        holder = static_cast<ListHolder*>(HeapAlloc(MainHeap, 0, sizeof(ListHolder)));
        if (holder == nullptr) {
            return nullptr;
        }
    }
    holder->list = nullptr;
    holder->current = nullptr;
    auto* list = static_cast<LinkedList*>(HeapAlloc(MainHeap, 0, sizeof(LinkedList)));
    BlockPool* pool = list != nullptr ? ContainerPoolNew(elementSize + 16) : nullptr;
    if (pool == nullptr) {
        HeapFree(MainHeap, 0, list);
        if (ownsHolder) {
            HeapFree(MainHeap, 0, holder);
        }
        return nullptr;
    }
    list->head = nullptr;
    list->tail = nullptr;
    list->current = nullptr;
    list->currentSlot = &holder->current;
    list->count = 0;
    list->currentIndex = -1;  // not to be trusted while noCurrent is set; never left indeterminate
    list->description = description;
    list->pool = pool;
    list->extraBuffers = nullptr;
    list->holder = holder;
    list->elementSize = elementSize + 16;
    list->typeCode = typeCode;
    list->noCurrent = 1;
    list->needsInit = static_cast<uint8_t>(RecordNeedsInit(description));
    list->ownsHolder = ownsHolder ? 1 : 0;
    holder->list = list;
    return list;
}

void* LinkedListAddElement(LinkedList* list) {
    auto* element = static_cast<ListElement*>(PoolAlloc(list->pool));
    if (element == nullptr) {
        return nullptr;
    }
    std::memset(element, 0, list->elementSize);
    void* data = ListElementData(element);
    if (list->needsInit) {
        RecordInit(data, list->description);
    }
    list->count += 1;
    ListElement* current = list->current;
    if (current == nullptr) {
        element->next = list->head;
        if (list->head != nullptr) {
            list->head->previous = element;
        }
        list->currentIndex = 0;
        list->noCurrent = 0;
    } else {
        element->previous = current;
        element->next = current->next;
        if (current->next != nullptr) {
            current->next->previous = element;
        }
        current->next = element;
        list->currentIndex += 1;
    }
    if (element->previous == nullptr) {
        list->head = element;
    }
    if (element->next == nullptr) {
        list->tail = element;
    }
    SetCurrent(list, element);
    return data;
}

void* LinkedListSelect(LinkedList* list, int64_t index) {
    const int64_t old = list->currentIndex;
    const int64_t count = list->count;
    list->currentIndex = index;
    ListElement* element = nullptr;
    if (index >= 0 && index < count) {
        // The fewest links, from the head, the tail or the current element; on a tie the head or
        // the tail wins.
        if (list->noCurrent) {
            element = index < count / 2 ? Walk(list->head, index, true)
                                        : Walk(list->tail, count - index - 1, false);
        } else if (index > old) {
            element = index - old < count - index ? Walk(list->current, index - old, true)
                                                  : Walk(list->tail, count - index - 1, false);
        } else {
            element = old - index < index ? Walk(list->current, old - index, false)
                                          : Walk(list->head, index, true);
        }
    }
    SetCurrent(list, element);
    list->noCurrent = element == nullptr ? 1 : 0;
    return element != nullptr ? ListElementData(element) : nullptr;
}

void LinkedListClear(LinkedList* list) {
    for (ListElement* element = list->head; element != nullptr;) {
        ListElement* next = element->next;
        if (list->description != nullptr) {
            RecordClear(ListElementData(element), list->description);
        }
        PoolFree(list->pool, element);
        element = next;
    }
    list->head = nullptr;
    list->tail = nullptr;
    list->count = 0;
    list->noCurrent = 1;
    SetCurrent(list, nullptr);
}

int64_t LinkedListCopy(LinkedList* source, LinkedList* destination, int32_t clearFirst) {
    if (source == nullptr || destination == nullptr) {
        return 0;
    }
    // A list copied into itself would meet its own new elements on the walk and never end.
    if (source == destination) {
        return 1;
    }
    if (clearFirst) {
        LinkedListClear(destination);
    }
    const int64_t dataSize = source->elementSize - int64_t{sizeof(ListElement)};
    for (ListElement* element = source->head; element != nullptr; element = element->next) {
        void* data = LinkedListAddElement(destination);
        if (data != nullptr) {
            RecordCopy(data, dataSize, source->description, ListElementData(element));
        }
    }
    return 1;
}

void LinkedListFree(LinkedList* list) {
    if (list == nullptr) {
        return;
    }
    LinkedListClear(list);
    PoolDelete(list->pool);
    list->holder->list = nullptr;
    list->holder->current = nullptr;
    ContainerBuffersFree(list->extraBuffers);
    if (list->ownsHolder) {
        HeapFree(MainHeap, 0, list->holder);
    }
    HeapFree(MainHeap, 0, list);
}

}  // namespace rt
