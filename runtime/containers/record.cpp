// The record helpers: initialise, clear and copy records whose fields own strings, lists, maps and
// arrays, as a RecordDescription lists them, and the table of container routines through which
// they reach the containers.
//
// The helpers keep no state and lock nothing; the caller owns the records. Containers of record
// fields are reached only through ContainerOps, so that the helpers depend on no container library
// and a column that no library has filled is simply passed over.
#include <cstring>

#include "containers.h"

namespace rt {

ContainerRoutines ContainerOps = {};

namespace {

// One entry of a description: its code, the field's offset and width in the record, and the words
// that follow the code.
struct RecordEntry {
    int64_t code;
    int64_t offset;
    int64_t width;
    const RecordDescription* words;
};

// Reads the entry at *at and moves *at past it; false at the end word. One-word entries with
// unknown codes are passed over here, so that no helper sees them.
bool RecordEntryNext(const RecordDescription** at, RecordEntry* entry) {
    for (;;) {
        const RecordDescription* words = *at + 1;
        entry->code = **at;
        entry->words = words;
        switch (entry->code) {
            case RECORD_END:
                return false;
            case RECORD_FIXED_ARRAY:
                entry->offset = words[1];
                entry->width = words[0] * words[2];
                *at = words + 4;
                return true;
            case RECORD_NESTED:
                entry->offset = words[0];
                entry->width = words[1];
                *at = words + 3;
                return true;
            case RECORD_ARRAY:
                entry->offset = words[0];
                entry->width = 8;
                *at = words + 5;
                return true;
            case RECORD_LIST:
                entry->offset = words[0];
                entry->width = sizeof(ListHolder);
                *at = words + 4;
                return true;
            case RECORD_MAP:
                entry->offset = words[0];
                entry->width = 8;
                *at = words + 5;
                return true;
            case RECORD_DIMENSIONED_ARRAY:
                entry->offset = words[0];
                entry->width = 8 + 8 * words[1];
                *at = words + 5 + words[1];
                return true;
            default:
                *at = words;
                if (entry->code >= 0) {
                    entry->offset = entry->code;
                    entry->width = 8;
                    return true;
                }
        }
    }
}

const RecordDescription* Nested(RecordDescription word) {
    return reinterpret_cast<const RecordDescription*>(static_cast<intptr_t>(word));
}

template <typename T>
T* FieldAt(void* record, int64_t offset) {
    return reinterpret_cast<T*>(static_cast<char*>(record) + offset);
}

template <typename T>
T* FieldAt(const void* record, int64_t offset) {
    return reinterpret_cast<T*>(static_cast<const char*>(record) + offset);
}

// Calls `apply(record)` for each nested record of a -2 or -3 entry that has a description.
template <typename Apply>
void ForEachNested(void* record, const RecordEntry& entry, Apply apply) {
    if (entry.code == RECORD_NESTED) {
        if (const RecordDescription* nested = Nested(entry.words[2])) {
            apply(FieldAt<char>(record, entry.offset), nested);
        }
        return;
    }
    const RecordDescription* nested = Nested(entry.words[3]);
    if (nested == nullptr) {
        return;
    }
    for (int64_t i = 0; i < entry.words[0]; ++i) {
        apply(FieldAt<char>(record, entry.offset + i * entry.words[2]), nested);
    }
}

void ArrayFieldCopy(void** destination, void* const* source, const RecordEntry& entry) {
    if (*destination != nullptr && ContainerOps.arrayFree != nullptr) {
        ContainerOps.arrayFree(*destination);
        *destination = nullptr;
    }
    if (*source == nullptr || *destination != nullptr || ContainerOps.arrayCopy == nullptr) {
        return;
    }
    // The array routines create an array in the destination field and copy the source into it;
    // the copy gives the new array the source's shape.
    const RecordDescription* w = entry.words;
    if (entry.code == RECORD_ARRAY) {
        if (ContainerOps.arrayCreate == nullptr) {
            return;
        }
        ContainerOps.arrayCreate(w[1], w[2], w[3], w[4], destination);
    } else {
        if (ContainerOps.arrayCreateDimensioned == nullptr) {
            return;
        }
        ContainerOps.arrayCreateDimensioned(w[1], w[2], w[3], w[4], destination);
    }
    if (*destination != nullptr) {
        ContainerOps.arrayCopy(*source, *destination, 0);
    }
}

void ListFieldCopy(ListHolder* destination, const ListHolder* source) {
    if (destination->list != nullptr && ContainerOps.listFree != nullptr) {
        ContainerOps.listFree(destination->list);
    }
    LinkedList* list = source->list;
    if (list == nullptr || destination->list != nullptr || ContainerOps.listCreate == nullptr ||
        ContainerOps.listCopy == nullptr) {
        return;
    }
    // The header keeps the element size with the 16 bytes of links; a create takes the data size.
    LinkedList* copy = ContainerOps.listCreate(list->elementSize - int64_t{sizeof(ListElement)},
                                               destination, list->description, list->typeCode);
    if (copy != nullptr) {
        ContainerOps.listCopy(list, copy, 0);
    }
}

void MapFieldCopy(KeyedMap** destination, KeyedMap* const* source) {
    if (*destination != nullptr && ContainerOps.mapFree != nullptr) {
        ContainerOps.mapFree(*destination);
    }
    KeyedMap* map = *source;
    if (map == nullptr || *destination != nullptr || ContainerOps.mapCreate == nullptr ||
        ContainerOps.mapCopy == nullptr) {
        return;
    }
    KeyedMap* copy = ContainerOps.mapCreate(map->valueSize, map->typeCode, map->description,
                                            destination, map->bucketCount);
    if (copy != nullptr) {
        ContainerOps.mapCopy(map, copy, 0);
    }
}

}  // namespace

int64_t RecordNeedsInit(const RecordDescription* description) {
    if (description == nullptr) {
        return 0;
    }
    RecordEntry entry;
    while (RecordEntryNext(&description, &entry)) {
        switch (entry.code) {
            case RECORD_ARRAY:
            case RECORD_LIST:
            case RECORD_MAP:
            case RECORD_DIMENSIONED_ARRAY:
                return 1;
            case RECORD_NESTED:
                if (RecordNeedsInit(Nested(entry.words[2]))) {
                    return 1;
                }
                break;
            case RECORD_FIXED_ARRAY:
                if (RecordNeedsInit(Nested(entry.words[3]))) {
                    return 1;
                }
                break;
            default:
                break;
        }
    }
    return 0;
}

void RecordInit(void* record, const RecordDescription* description) {
    RecordEntry entry;
    while (RecordEntryNext(&description, &entry)) {
        const RecordDescription* w = entry.words;
        switch (entry.code) {
            case RECORD_FIXED_ARRAY:
            case RECORD_NESTED:
                ForEachNested(record, entry, RecordInit);
                break;
            case RECORD_ARRAY:
                if (ContainerOps.arrayCreate != nullptr) {
                    ContainerOps.arrayCreate(w[1], w[2], w[3], w[4],
                                             FieldAt<void*>(record, entry.offset));
                }
                break;
            case RECORD_LIST:
                if (ContainerOps.listCreate != nullptr) {
                    ContainerOps.listCreate(w[1], FieldAt<ListHolder>(record, entry.offset),
                                            Nested(w[2]), static_cast<int32_t>(w[3]));
                }
                break;
            case RECORD_MAP:
                if (ContainerOps.mapCreate != nullptr) {
                    ContainerOps.mapCreate(w[1], static_cast<int32_t>(w[2]), Nested(w[3]),
                                           FieldAt<KeyedMap*>(record, entry.offset),
                                           static_cast<int32_t>(w[4]));
                }
                break;
            case RECORD_DIMENSIONED_ARRAY: {
                // The dimensions live in the record after the array's address, where the array
                // routines read them.
                int64_t* dimensions = FieldAt<int64_t>(record, entry.offset + 8);
                for (int64_t i = 0; i < w[1]; ++i) {
                    dimensions[i] = w[5 + i];
                }
                if (ContainerOps.arrayCreateDimensioned != nullptr) {
                    ContainerOps.arrayCreateDimensioned(w[1], w[2], w[3], w[4],
                                                        FieldAt<void*>(record, entry.offset));
                }
                break;
            }
            default:
                break;  // a string field starts out empty
        }
    }
}

void RecordClear(void* record, const RecordDescription* description) {
    RecordEntry entry;
    while (RecordEntryNext(&description, &entry)) {
        switch (entry.code) {
            case RECORD_FIXED_ARRAY:
            case RECORD_NESTED:
                ForEachNested(record, entry, RecordClear);
                break;
            case RECORD_ARRAY:
            case RECORD_DIMENSIONED_ARRAY: {
                void* array = *FieldAt<void*>(record, entry.offset);
                if (array != nullptr && ContainerOps.arrayFree != nullptr) {
                    ContainerOps.arrayFree(array);
                }
                break;
            }
            case RECORD_LIST: {
                LinkedList* list = FieldAt<ListHolder>(record, entry.offset)->list;
                if (list != nullptr && ContainerOps.listFree != nullptr) {
                    ContainerOps.listFree(list);
                }
                break;
            }
            case RECORD_MAP: {
                KeyedMap* map = *FieldAt<KeyedMap*>(record, entry.offset);
                if (map != nullptr && ContainerOps.mapFree != nullptr) {
                    ContainerOps.mapFree(map);
                }
                break;
            }
            default:
                StringFree(*FieldAt<WCHAR*>(record, entry.offset));
                break;
        }
    }
}

void RecordCopy(void* destination, int64_t size, const RecordDescription* description,
                const void* source) {
    if (destination == source) {
        return;
    }
    auto* to = static_cast<char*>(destination);
    auto* from = static_cast<const char*>(source);
    int64_t copied = 0;  // plain bytes below this offset are done
    RecordEntry entry;
    while (description != nullptr && RecordEntryNext(&description, &entry)) {
        const int64_t o = entry.offset;
        switch (entry.code) {
            case RECORD_FIXED_ARRAY: {
                const int64_t stride = entry.words[2];
                for (int64_t i = 0; i < entry.words[0]; ++i) {
                    RecordCopy(to + o + i * stride, stride, Nested(entry.words[3]),
                               from + o + i * stride);
                }
                break;
            }
            case RECORD_NESTED:
                RecordCopy(to + o, entry.width, Nested(entry.words[2]), from + o);
                break;
            case RECORD_ARRAY:
            case RECORD_DIMENSIONED_ARRAY:
                ArrayFieldCopy(FieldAt<void*>(to, o), FieldAt<void* const>(from, o), entry);
                break;
            case RECORD_LIST:
                ListFieldCopy(FieldAt<ListHolder>(to, o), FieldAt<const ListHolder>(from, o));
                break;
            case RECORD_MAP:
                MapFieldCopy(FieldAt<KeyedMap*>(to, o), FieldAt<KeyedMap* const>(from, o));
                break;
            default: {
                WCHAR** field = FieldAt<WCHAR*>(to, o);
                StringFree(*field);
                *field = nullptr;
                StringDuplicateInto(field, *FieldAt<WCHAR* const>(from, o));
                break;
            }
        }
        if (copied < o) {
            std::memcpy(to + copied, from + copied, o - copied);
        }
        // Never step back: a misordered entry must not let a later plain copy overwrite a field
        // that already owns its copy.
        if (copied < o + entry.width) {
            copied = o + entry.width;
        }
    }
    if (copied < size) {
        std::memcpy(to + copied, from + copied, size - copied);
    }
}

void StringDuplicateInto(WCHAR** field, const WCHAR* text) {
    if (text == nullptr) {
        return;
    }
    size_t length = wcslen(text);
    auto* copy = static_cast<WCHAR*>(HeapAlloc(StringHeap, 0, (length + 5) * sizeof(WCHAR)));
    if (copy == nullptr) {
        return;
    }
    *field = copy;
    StringCopyChars(copy, text, static_cast<int64_t>(length));
}

}  // namespace rt
