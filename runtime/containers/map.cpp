// The keyed map: a fixed array of buckets, each a singly linked chain of pool elements holding a
// key and a fixed-size value. The bucket count never changes, so a lookup costs one hash over the
// key and a walk of one chain; elements come from the shared pool of their size, so adding and
// deleting touch the heap only for the copy of a string key.
//
// The map owns its elements, its key copies and, through the record description, whatever its
// values own. The walk state (current element, its predecessor, bucket indexes) lives in the map:
// one walk at a time. A map has no lock; its user serialises access.
#include <cstring>

#include "containers.h"
#include "containers_internal.h"

namespace rt {

namespace {

const WCHAR* KeyText(const WCHAR* key) {
    return key != nullptr ? key : RT_TEXT("");
}

int32_t StringBucket(const KeyedMap* map, const WCHAR* key) {
    return static_cast<int32_t>(MapHashKey(key, map->flags) %
                                static_cast<uint32_t>(map->bucketCount));
}

// A negative key folds into the range like its unsigned 64-bit value.
int32_t IntegerBucket(const KeyedMap* map, int64_t key) {
    return static_cast<int32_t>(static_cast<uint64_t>(key) %
                                static_cast<uint64_t>(map->bucketCount));
}

// Finds in `bucket` the first element that `matches` accepts and makes it current, with its chain
// predecessor as the previous element; its value, or null with the map unchanged.
template <typename Matches>
void* FindIn(KeyedMap* map, int32_t bucket, Matches matches) {
    MapElement* previous = nullptr;
    for (MapElement* element = map->buckets[bucket]; element != nullptr;
         previous = element, element = element->next) {
        if (matches(element)) {
            map->current = element;
            map->currentBucket = bucket;
            map->previous = previous;
            return MapElementValue(element);
        }
    }
    return nullptr;
}

// Links a new element at the head of `bucket` and makes it current.
void Push(KeyedMap* map, MapElement* element, int32_t bucket) {
    element->next = map->buckets[bucket];
    map->buckets[bucket] = element;
    map->previous = nullptr;
    map->count += 1;
    map->current = element;
    map->currentBucket = bucket;
}

void* ResetValue(KeyedMap* map, MapElement* element) {
    void* value = MapElementValue(element);
    std::memset(value, 0, map->valueSize);
    if (map->flags & MAP_INIT_VALUES) {
        RecordInit(value, map->description);
    }
    return value;
}

// Reverses a chain in place; its new head.
MapElement* ChainReverse(MapElement* element) {
    MapElement* reversed = nullptr;
    while (element != nullptr) {
        MapElement* next = element->next;
        element->next = reversed;
        reversed = element;
        element = next;
    }
    return reversed;
}

// Mode 1 of the add operations: the element of a key already present keeps its key and gets a
// fresh value, after what the old value owned has been released.
void* ReuseValue(KeyedMap* map, void* value) {
    if (map->description != nullptr) {
        RecordClear(value, map->description);
    }
    return ResetValue(map, MapElementOf(value));
}

// Releases what an unlinked element owns and gives its slot back.
void ElementRelease(KeyedMap* map, MapElement* element) {
    if (!(map->flags & MAP_INTEGER_KEYS)) {
        HeapFree(MainHeap, 0, element->key.text);
    }
    if (map->description != nullptr) {
        RecordClear(MapElementValue(element), map->description);
    }
    PoolFree(map->pool, element);
}

}  // namespace

void MapLibraryStart() {
    ContainerOps.mapCreate = MapCreate;
    ContainerOps.mapCopy = MapCopy;
    ContainerOps.mapFree = MapFree;
}

uint32_t MapHashKey(const WCHAR* key, uint32_t flags) {
    uint32_t h = 0;
    if (key == nullptr) {
        return h;
    }
    if (flags & MAP_NOCASE) {
        for (; *key != 0; ++key) {
            uint32_t unit = *key;
            h = h * 65599u + (unit - 'A' < 26u ? unit + ('a' - 'A') : unit);
        }
    } else {
        for (; *key != 0; ++key) {
            h = h * 65599u + *key;
        }
    }
    return h;
}

KeyedMap* MapCreate(int64_t valueSize, int32_t typeCode, const RecordDescription* description,
                    KeyedMap** holder, int32_t bucketCount) {
    if (holder != nullptr && *holder != nullptr) {
        MapFree(*holder);
    }
    auto* map = static_cast<KeyedMap*>(HeapAlloc(MainHeap, 0, sizeof(KeyedMap)));
    if (map == nullptr) {
        return nullptr;
    }
    const int32_t buckets = bucketCount > 1 ? bucketCount : 1;
    map->buckets = static_cast<MapElement**>(
        HeapAlloc(MainHeap, HEAP_ZERO_MEMORY, sizeof(MapElement*) * static_cast<size_t>(buckets)));
    map->pool = map->buckets != nullptr ? ContainerPoolNew(valueSize + 16) : nullptr;
    if (map->pool == nullptr) {
        HeapFree(MainHeap, 0, map->buckets);
        HeapFree(MainHeap, 0, map);
        return nullptr;
    }
    map->current = nullptr;
    // A new map's walk stands before its first element, so that a MapNext or a MapDeleteCurrent
    // before any reset never reads stale indexes.
    map->previous = nullptr;
    map->currentBucket = -1;
    map->savedBucket = -1;
    map->description = description;
    map->valueSize = valueSize;
    map->typeCode = typeCode;
    map->bucketCount = buckets;
    map->count = 0;
    map->flags = RecordNeedsInit(description) ? MAP_INIT_VALUES : 0;
    map->holder = holder;
    map->extraBuffers = nullptr;
    if (holder != nullptr) {
        *holder = map;
    }
    return map;
}

void MapFree(KeyedMap* map) {
    if (map == nullptr) {
        return;
    }
    MapClear(map);
    PoolDelete(map->pool);
    HeapFree(MainHeap, 0, map->buckets);
    ContainerBuffersFree(map->extraBuffers);
    if (map->holder != nullptr) {
        *map->holder = nullptr;
    }
    HeapFree(MainHeap, 0, map);
}

void MapClear(KeyedMap* map) {
    for (int32_t bucket = 0; bucket < map->bucketCount; ++bucket) {
        for (MapElement* element = map->buckets[bucket]; element != nullptr;) {
            MapElement* next = element->next;
            ElementRelease(map, element);
            element = next;
        }
    }
    std::memset(map->buckets, 0, sizeof(MapElement*) * static_cast<size_t>(map->bucketCount));
    MapResetIteration(map);
    map->count = 0;
}

void* MapFind(KeyedMap* map, const WCHAR* key) {
    const WCHAR* text = KeyText(key);
    const int32_t bucket = StringBucket(map, text);
    if (map->flags & MAP_NOCASE) {
        return FindIn(map, bucket, [text](MapElement* element) {
            return _wcsicmp(element->key.text, text) == 0;
        });
    }
    return FindIn(map, bucket,
                  [text](MapElement* element) { return wcscmp(element->key.text, text) == 0; });
}

void* MapFindInteger(KeyedMap* map, int64_t key) {
    return FindIn(map, IntegerBucket(map, key),
                  [key](MapElement* element) { return element->key.integer == key; });
}

void* MapAdd(KeyedMap* map, const WCHAR* key, int32_t mode) {
    const WCHAR* text = KeyText(key);
    if (mode == 1) {
        if (void* value = MapFind(map, text)) {
            return ReuseValue(map, value);
        }
    }
    auto* element = static_cast<MapElement*>(PoolAlloc(map->pool));
    if (element == nullptr) {
        return nullptr;
    }
    const size_t units = wcslen(text) + 1;
    auto* copy = static_cast<WCHAR*>(HeapAlloc(MainHeap, 0, units * sizeof(WCHAR)));
    if (copy == nullptr) {
        // Nothing is linked yet: the map is left as it was.
        PoolFree(map->pool, element);
        return nullptr;
    }
    std::memcpy(copy, text, units * sizeof(WCHAR));
    element->key.text = copy;
    Push(map, element, StringBucket(map, text));
    return ResetValue(map, element);
}

void* MapAddInteger(KeyedMap* map, int64_t key, int32_t mode) {
    if (mode == 1) {
        if (void* value = MapFindInteger(map, key)) {
            return ReuseValue(map, value);
        }
    }
    auto* element = static_cast<MapElement*>(PoolAlloc(map->pool));
    if (element == nullptr) {
        return nullptr;
    }
    element->key.integer = key;
    Push(map, element, IntegerBucket(map, key));
    return ResetValue(map, element);
}

void MapResetIteration(KeyedMap* map) {
    map->current = nullptr;
    map->currentBucket = -1;
}

void* MapNext(KeyedMap* map) {
    map->previous = map->current;
    map->savedBucket = map->currentBucket;
    MapElement* current = map->current;
    if (current != nullptr && current->next != nullptr) {
        map->current = current->next;
        return MapElementValue(map->current);
    }
    if (current == nullptr && map->currentBucket != -1) {
        return nullptr;  // the walk has ended
    }
    map->current = nullptr;
    for (int32_t bucket = map->currentBucket + 1; bucket < map->bucketCount; ++bucket) {
        if (map->buckets[bucket] != nullptr) {
            map->current = map->buckets[bucket];
            map->currentBucket = bucket;
            return MapElementValue(map->current);
        }
    }
    return nullptr;
}

void* MapDeleteCurrent(KeyedMap* map) {
    MapElement* element = map->current;
    if (element == nullptr) {
        return nullptr;
    }
    MapElement** head = &map->buckets[map->currentBucket];
    if (*head == element) {
        // The element before it in the walk is the previous element, in an earlier bucket or
        // none: the walk steps back to where it stood before the element.
        *head = element->next;
        map->current = map->previous;
        map->currentBucket = map->savedBucket;
    } else {
        // The chain predecessor is known after a MapNext step or a MapFind; after a delete it is
        // not, and is looked up in the chain.
        MapElement* before = map->previous;
        if (before == nullptr) {
            for (before = *head; before->next != element; before = before->next) {
            }
        }
        before->next = element->next;
        map->current = before;
    }
    map->previous = nullptr;
    map->count -= 1;
    ElementRelease(map, element);
    return map->current != nullptr ? MapElementValue(map->current) : nullptr;
}

int64_t MapCopy(KeyedMap* source, KeyedMap* destination, int32_t clearFirst) {
    if (source == nullptr || destination == nullptr) {
        return 0;
    }
    // A map copied into itself would add to the very chains the copy is reading.
    if (source == destination) {
        return 1;
    }
    if (clearFirst) {
        MapClear(destination);
    }
    // Each chain is copied oldest element first (it is reversed in place for the copy and put back
    // afterwards), so that among elements with the same key the newest still comes first in the
    // destination. The source's walk is not touched.
    const bool integerKeys = (source->flags & MAP_INTEGER_KEYS) != 0;
    for (int32_t bucket = 0; bucket < source->bucketCount; ++bucket) {
        MapElement* oldestFirst = ChainReverse(source->buckets[bucket]);
        for (MapElement* element = oldestFirst; element != nullptr; element = element->next) {
            void* copy = integerKeys ? MapAddInteger(destination, element->key.integer, 0)
                                     : MapAdd(destination, element->key.text, 0);
            if (copy != nullptr) {
                RecordCopy(copy, source->valueSize, source->description, MapElementValue(element));
            }
        }
        source->buckets[bucket] = ChainReverse(oldestFirst);
    }
    return 1;
}

}  // namespace rt
