// The containers: the string- or integer-keyed hash map, the doubly linked list, and the helpers
// that initialise, copy and clear records whose fields own strings, lists, maps and arrays.
//
// Ownership: a container header and its bucket array come from MainHeap, its elements from the
// shared block pool of their size, a map's key copies from MainHeap and the strings of record
// fields from StringHeap. A container is created into a holder (a variable or a record field);
// freeing it empties the holder again. A map element's value and a list element's data are what
// the program works with; the container owns them until they are deleted or cleared.
//
// Threads: maps and lists carry no lock; their user serialises access. The element pools are
// shared between containers of the same element size and guard themselves. The record helpers run
// on the caller's thread and lock nothing. ContainerOps is filled by the libraries' start routines
// on the main thread before any other thread exists, and never changes afterwards.
#pragma once

#include <cstddef>
#include <cstdint>

#include "../core/core.h"
#include "../strings/strings.h"

namespace rt {

struct KeyedMap;
struct LinkedList;
struct ListElement;

// ---------------------------------------------------------------------------------------------
// Record descriptions: a sequence of signed 64-bit words, closed by RECORD_END. An entry starts
// with a code word; a code of 0 or above is a string field at that byte offset (8 bytes). Entries
// stand in ascending order of their offsets. A nested description word holds the address of
// another description, or 0. Codes below RECORD_DIMENSIONED_ARRAY are one-word entries that every
// helper passes over.
using RecordDescription = int64_t;

constexpr RecordDescription RECORD_END = -1;
// count, offset, element stride, nested description; the field is count x stride bytes.
constexpr RecordDescription RECORD_FIXED_ARRAY = -2;
// offset, size, nested description; the field is size bytes.
constexpr RecordDescription RECORD_NESTED = -3;
// offset, four creation words; the field is the array's address (8 bytes).
constexpr RecordDescription RECORD_ARRAY = -4;
// offset, element size, element description, type code; the field is a ListHolder (16 bytes).
constexpr RecordDescription RECORD_LIST = -5;
// offset, value size, type code, value description, bucket count; the field is the map's address.
constexpr RecordDescription RECORD_MAP = -6;
// offset, dimension count n, three creation words, n dimension words; the field is the array's
// address followed by its n dimension words (8 + 8 x n bytes).
constexpr RecordDescription RECORD_DIMENSIONED_ARRAY = -7;

// The word that stands for a nested description inside another description.
inline RecordDescription RecordDescriptionWord(const RecordDescription* nested) {
    return static_cast<RecordDescription>(reinterpret_cast<intptr_t>(nested));
}

// The holder of a list: the list header and its current element, which the list mirrors here.
// The current element's data starts 16 bytes past the element.
struct ListHolder {
    LinkedList* list;
    ListElement* current;
};
static_assert(sizeof(ListHolder) == 16);

// The create, copy and free routines of each container kind, through which the record helpers
// reach the containers of record fields. A column stays empty until its library starts; the
// helpers never call an empty routine. No array library exists: its column stays empty unless a
// program installs one.
struct ContainerRoutines {
    void (*arrayCreate)(int64_t word1, int64_t word2, int64_t word3, int64_t word4, void** field);
    void (*arrayCreateDimensioned)(int64_t dimensionCount, int64_t word1, int64_t word2,
                                   int64_t word3, void** field);
    int64_t (*arrayCopy)(void* source, void* destination, int32_t clearFirst);
    void (*arrayFree)(void* array);

    LinkedList* (*listCreate)(int64_t elementSize, ListHolder* holder,
                              const RecordDescription* description, int32_t typeCode);
    int64_t (*listCopy)(LinkedList* source, LinkedList* destination, int32_t clearFirst);
    void (*listFree)(LinkedList* list);

    KeyedMap* (*mapCreate)(int64_t valueSize, int32_t typeCode,
                           const RecordDescription* description, KeyedMap** holder,
                           int32_t bucketCount);
    int64_t (*mapCopy)(KeyedMap* source, KeyedMap* destination, int32_t clearFirst);
    void (*mapFree)(KeyedMap* map);
};

// The process-wide table, empty at program start.
extern ContainerRoutines ContainerOps;

// Sets up the containers of a freshly zero-filled record; `description` is not null.
void RecordInit(void* record, const RecordDescription* description);
// Releases everything the record's fields own. String fields keep the addresses of the freed
// strings: the caller zero-fills the record or gives its memory back.
void RecordClear(void* record, const RecordDescription* description);
// Copies `size` bytes of plain data from source to destination and gives the destination its own
// copies of the source's strings and containers, releasing what the destination owned before.
void RecordCopy(void* destination, int64_t size, const RecordDescription* description,
                const void* source);
// 1 when RecordInit has something to do for the description (a list, map or array field anywhere,
// nested records included), else 0.
int64_t RecordNeedsInit(const RecordDescription* description);
// Stores a fresh StringHeap copy of `text` in *field; nothing happens for a null text, nor when
// the copy cannot be allocated.
void StringDuplicateInto(WCHAR** field, const WCHAR* text);

// ---------------------------------------------------------------------------------------------
// Linked lists of fixed-size elements, with a current element remembered by index so that a step
// to a neighbouring index costs one link.

struct ListElement {
    ListElement* next;
    ListElement* previous;
    // the element data follows
};
static_assert(sizeof(ListElement) == 16);

struct LinkedList {
    ListElement* head;
    ListElement* tail;
    ListElement* current;
    ListElement** currentSlot;  // the holder's second word
    int64_t count;
    int64_t currentIndex;  // to be trusted only while noCurrent is 0
    const RecordDescription* description;
    BlockPool* pool;
    void* extraBuffers;  // heap blocks freed with the list; each starts with the next one's address
    ListHolder* holder;
    int64_t elementSize;  // element data size + 16
    int32_t typeCode;
    uint8_t noCurrent;
    uint8_t needsInit;
    uint8_t ownsHolder;
};
static_assert(offsetof(LinkedList, elementSize) == 80 && offsetof(LinkedList, typeCode) == 88 &&
              offsetof(LinkedList, noCurrent) == 92 && offsetof(LinkedList, ownsHolder) == 94);

// The element data that the program works with.
inline void* ListElementData(ListElement* element) {
    return element + 1;
}

// Publishes the list's create, copy and free routines in ContainerOps.
void LinkedListLibraryStart();
// A new empty list of elements with `elementSize` bytes of data, stored in the holder's first
// word. A null holder makes the list allocate one of its own. Null when memory runs out; a
// caller's holder is then left empty.
LinkedList* LinkedListCreate(int64_t elementSize, ListHolder* holder,
                             const RecordDescription* description, int32_t typeCode);
// Inserts a zero-filled element after the current one (at the head when there is none) and makes
// it current; its data, or null when the pool cannot supply a slot (the list is then unchanged).
void* LinkedListAddElement(LinkedList* list);
// Makes the element at zero-based `index` current and returns its data; out of range, clears the
// current element and returns null.
void* LinkedListSelect(LinkedList* list, int64_t index);
void LinkedListClear(LinkedList* list);
// Inserts copies of the source's elements, in order, after the destination's current element
// (clearing the destination first when asked). 0 when either list is null, else 1; a list copied
// into itself is left as it was.
int64_t LinkedListCopy(LinkedList* source, LinkedList* destination, int32_t clearFirst);
// Clears the list, empties its holder and frees it; nothing for null.
void LinkedListFree(LinkedList* list);

// ---------------------------------------------------------------------------------------------
// The keyed map: a fixed number of buckets, each a singly linked chain of elements holding a key
// and a fixed-size value. The map keeps a current element for lookups, additions, a walk over all
// elements and deletion during the walk.

constexpr uint32_t MAP_NOCASE = 1;        // string keys hashed and compared without case
constexpr uint32_t MAP_INIT_VALUES = 2;   // new values go through RecordInit
constexpr uint32_t MAP_INTEGER_KEYS = 4;  // keys are 64-bit integers

struct MapElement {
    MapElement* next;  // in the bucket chain
    union {
        WCHAR* text;  // the map's own copy of a string key
        int64_t integer;
    } key;
    // the value follows
};
static_assert(sizeof(MapElement) == 16);

struct KeyedMap {
    MapElement* current;
    MapElement** buckets;
    // The element current before the last MapNext step, or the chain predecessor of the element
    // MapFind found; null after an add or a delete.
    MapElement* previous;
    const RecordDescription* description;
    int32_t currentBucket;  // -1: the walk stands before the first element
    int32_t savedBucket;    // currentBucket as it was before the last MapNext step
    int64_t valueSize;
    int32_t typeCode;
    int32_t bucketCount;
    int32_t count;
    uint32_t flags;
    KeyedMap** holder;
    void* extraBuffers;  // heap blocks freed with the map; each starts with the next one's address
    BlockPool* pool;
};
static_assert(offsetof(KeyedMap, currentBucket) == 32 && offsetof(KeyedMap, valueSize) == 40 &&
              offsetof(KeyedMap, typeCode) == 48 && offsetof(KeyedMap, flags) == 60 &&
              offsetof(KeyedMap, pool) == 80 && sizeof(KeyedMap) == 88);

// The value of an element, and the element of a value.
inline void* MapElementValue(MapElement* element) {
    return element + 1;
}
inline MapElement* MapElementOf(void* value) {
    return static_cast<MapElement*>(value) - 1;
}

// Publishes the map's create, copy and free routines in ContainerOps.
void MapLibraryStart();
// A new empty map with max(bucketCount, 1) buckets, stored in *holder after the map the holder
// held before has been freed. Null when memory runs out; the holder is then empty. A null holder
// leaves the map held by the returned address alone.
KeyedMap* MapCreate(int64_t valueSize, int32_t typeCode, const RecordDescription* description,
                    KeyedMap** holder, int32_t bucketCount);
// Frees every element, the map and its buffers and empties the holder; nothing for null.
void MapFree(KeyedMap* map);
void MapClear(KeyedMap* map);
// The value of the newest element with the key (null counts as the empty string), made current;
// null when there is none (the walk position is then unchanged).
void* MapFind(KeyedMap* map, const WCHAR* key);
void* MapFindInteger(KeyedMap* map, int64_t key);
// A zero-filled (and, with MAP_INIT_VALUES, initialised) value under the key, made current. Mode 1
// reuses the element of a key already present; any other mode always adds. Null when memory runs
// out, with the map unchanged.
void* MapAdd(KeyedMap* map, const WCHAR* key, int32_t mode);
void* MapAddInteger(KeyedMap* map, int64_t key, int32_t mode);
void MapResetIteration(KeyedMap* map);
// The next value of the walk (buckets ascending, each chain newest first), or null at its end.
void* MapNext(KeyedMap* map);
// Deletes the current element and steps back so that the next MapNext continues with the element
// that followed it; the new current value, or null.
void* MapDeleteCurrent(KeyedMap* map);
// Adds copies of the source's elements to the destination (clearing it first when asked); keys
// present several times keep their order, newest first. The source's walk is left as it was. 0
// when either map is null, else 1; a map copied into itself is left as it was.
int64_t MapCopy(KeyedMap* source, KeyedMap* destination, int32_t clearFirst);
// h = h x 65599 + unit over the key's UTF-16 units, modulo 2^32; with MAP_NOCASE in `flags` the
// units A to Z count as a to z. A null key hashes as the empty string, to 0.
uint32_t MapHashKey(const WCHAR* key, uint32_t flags);

}  // namespace rt
