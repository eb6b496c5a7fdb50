#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "containers_test.h"

namespace rt {
namespace {

// A string variable holding `text`, as a string assignment leaves it: a StringHeap block.
WCHAR* NewString(const char16_t* text) {
    WCHAR* field = nullptr;
    StringDuplicateInto(&field, reinterpret_cast<const WCHAR*>(text));
    EXPECT_NE(field, nullptr);
    return field;
}

std::u16string Text(const void* text) {
    return text != nullptr ? std::u16string(static_cast<const char16_t*>(text)) : u"<null>";
}

// A record that owns a string, a list of records with strings and a map whose values hold
// strings, with plain data between and after them.
struct Element {
    uint64_t stamp;
    WCHAR* name;
};
struct Entry {
    WCHAR* label;
    uint64_t stamp;
};
struct Owner {
    WCHAR* title;
    uint64_t plain1;
    ListHolder items;
    KeyedMap* table;
    uint64_t plain2[2];
};

const RecordDescription elementDescription[] = {8, RECORD_END};
const RecordDescription entryDescription[] = {0, RECORD_END};
const RecordDescription ownerDescription[] = {
    0, RECORD_LIST, 16, sizeof(Element), RecordDescriptionWord(elementDescription), 5,
    // Codes below -7 are one-word entries to pass over.
    -9, RECORD_MAP, 32, sizeof(Entry), 11, RecordDescriptionWord(entryDescription), 32, RECORD_END};

std::vector<std::u16string> Names(LinkedList* list) {
    std::vector<std::u16string> names;
    for (ListElement* e = list->head; e != nullptr; e = e->next) {
        names.push_back(Text(static_cast<Element*>(ListElementData(e))->name));
    }
    return names;
}

TEST(RecordNeedsInit, OnlyContainerFieldsNeedInitialising) {
    const RecordDescription strings[] = {0, 8, RECORD_END};
    const RecordDescription map[] = {RECORD_MAP, 0, 16, 7, 0, 32, RECORD_END};
    const RecordDescription array[] = {RECORD_ARRAY, 0, 1, 2, 3, 4, RECORD_END};
    const RecordDescription dimensioned[] = {
        RECORD_DIMENSIONED_ARRAY, 0, 1, 0, 0, 0, 5, RECORD_END};
    const RecordDescription nestedStrings[] = {RECORD_NESTED, 0, 16, RecordDescriptionWord(strings),
                                               RECORD_END};
    const RecordDescription nestedList[] = {
        8, RECORD_NESTED, 16, 32, RecordDescriptionWord(ownerDescription), RECORD_END};
    const RecordDescription arrayOfMaps[] = {RECORD_FIXED_ARRAY,         4,         0, 8,
                                             RecordDescriptionWord(map), RECORD_END};
    // The 8 after -9 is a string field, not a word of -9.
    const RecordDescription unknown[] = {-9, 8, RECORD_NESTED, 0, 16, 0, RECORD_END};
    for (const RecordDescription* description : {strings, nestedStrings, unknown}) {
        EXPECT_EQ(RecordNeedsInit(description), 0);
    }
    for (const RecordDescription* description :
         {map, array, dimensioned, nestedList, arrayOfMaps}) {
        EXPECT_EQ(RecordNeedsInit(description), 1);
    }
    EXPECT_EQ(RecordNeedsInit(nullptr), 0);
}

TEST(RecordCopy, PlainRecordsAndRecordsOntoThemselves) {
    unsigned char source[40], destination[40];
    for (int i = 0; i < 40; ++i) {
        source[i] = static_cast<unsigned char>(i + 1);
    }
    std::memset(destination, 0xEE, sizeof destination);
    RecordCopy(destination, 33, nullptr, source);
    EXPECT_EQ(std::memcmp(destination, source, 33), 0);
    EXPECT_EQ(destination[33], 0xEE);

    const RecordDescription description[] = {8, RECORD_END};
    uint64_t record[3] = {1, 0, 3};
    WCHAR* text = NewString(u"same");
    record[1] = reinterpret_cast<uint64_t>(text);
    RecordCopy(record, 24, description, record);
    EXPECT_EQ(record[1], reinterpret_cast<uint64_t>(text));
    EXPECT_EQ(Text(text), u"same");  // still allocated, or ASan would see a use after free
    StringFree(text);
}

TEST(RecordCopy, AStringFieldGetsItsOwnCopyAndTheBytesAroundItAreCopied) {
    HEAP_BLOCKS_MARK();
    const RecordDescription description[] = {8, RECORD_END};
    WCHAR* source[3] = {reinterpret_cast<WCHAR*>(0x1111), NewString(u"source text"),
                        reinterpret_cast<WCHAR*>(0x3333)};
    WCHAR* destination[3] = {nullptr, NewString(u"old text"), nullptr};
    RecordCopy(destination, 24, description, source);
    EXPECT_EQ(destination[0], source[0]);
    EXPECT_EQ(destination[2], source[2]);
    EXPECT_NE(destination[1], source[1]);
    EXPECT_EQ(Text(destination[1]), u"source text");

    // A source field without a string leaves the destination field empty.
    StringFree(source[1]);
    source[1] = nullptr;
    RecordCopy(destination, 24, description, source);
    EXPECT_EQ(destination[1], nullptr);
    RecordClear(destination, description);  // the field is empty: nothing to free
    EXPECT_HEAP_BLOCKS_UNCHANGED();
}

TEST(RecordCopy, ListsAndMapsAreCopiedDeeply) {
    HEAP_BLOCKS_MARK();
    Owner source = {}, destination = {};
    RecordInit(&source, ownerDescription);
    ASSERT_NE(source.items.list, nullptr);
    EXPECT_EQ(source.items.list->holder, &source.items);
    EXPECT_EQ(source.items.list->description, elementDescription);
    EXPECT_EQ(source.items.list->typeCode, 5);
    ASSERT_NE(source.table, nullptr);
    EXPECT_EQ(source.table->holder, &source.table);
    EXPECT_EQ(source.table->valueSize, int64_t{sizeof(Entry)});
    EXPECT_EQ(source.table->typeCode, 11);
    EXPECT_EQ(source.table->bucketCount, 32);
    RecordInit(&destination, ownerDescription);
    source.title = NewString(u"title");
    source.plain1 = 41;
    source.plain2[1] = 43;
    for (const char16_t* name : {u"first", u"second", u"third"}) {
        static_cast<Element*>(LinkedListAddElement(source.items.list))->name = NewString(name);
    }
    auto* entry = static_cast<Entry*>(MapAdd(source.table, RT_TEXT("key"), 0));
    entry->label = NewString(u"label");
    entry->stamp = 9;
    // The destination's own containers go before it gets the copies.
    LinkedListAddElement(destination.items.list);
    MapAdd(destination.table, RT_TEXT("old"), 0);

    RecordCopy(&destination, sizeof(Owner), ownerDescription, &source);
    EXPECT_EQ(Text(destination.title), u"title");
    EXPECT_NE(destination.title, source.title);
    EXPECT_EQ(destination.plain1, 41u);
    EXPECT_EQ(destination.plain2[1], 43u);
    ASSERT_NE(destination.items.list, source.items.list);
    EXPECT_EQ(destination.items.list->holder, &destination.items);
    EXPECT_EQ(destination.items.list->typeCode, 5);
    EXPECT_EQ(Names(destination.items.list),
              (std::vector<std::u16string>{u"first", u"second", u"third"}));
    ASSERT_NE(destination.table, source.table);
    EXPECT_EQ(destination.table->typeCode, 11);
    EXPECT_EQ(destination.table->bucketCount, 32);
    EXPECT_EQ(destination.table->count, 1);
    auto* copied = static_cast<Entry*>(MapFind(destination.table, RT_TEXT("key")));
    ASSERT_NE(copied, nullptr);
    EXPECT_EQ(copied->stamp, 9u);
    EXPECT_NE(copied->label, entry->label);
    EXPECT_EQ(Text(copied->label), u"label");

    // Changing the copy leaves the original alone.
    MapAdd(destination.table, RT_TEXT("new"), 0);
    StringFree(copied->label);
    copied->label = NewString(u"changed");
    auto* first = static_cast<Element*>(LinkedListSelect(destination.items.list, 0));
    StringFree(first->name);
    first->name = NewString(u"renamed");
    EXPECT_EQ(source.table->count, 1);
    EXPECT_EQ(Text(entry->label), u"label");
    EXPECT_EQ(Names(source.items.list),
              (std::vector<std::u16string>{u"first", u"second", u"third"}));

    // Copying empty containers empties the destination's.
    Owner empty = {};
    RecordCopy(&source, sizeof(Owner), ownerDescription, &empty);
    EXPECT_EQ(source.items.list, nullptr);
    EXPECT_EQ(source.table, nullptr);
    RecordClear(&destination, ownerDescription);
    EXPECT_EQ(destination.items.list, nullptr);
    EXPECT_EQ(destination.table, nullptr);
    EXPECT_HEAP_BLOCKS_UNCHANGED();
}

TEST(RecordInit, ReachesNestedRecordsAndFixedArraysOfThem) {
    const RecordDescription inner[] = {RECORD_MAP, 8, 8, 0, 0, 4, RECORD_END};
    // A nested record at 0 (16 bytes), then three 16-byte records at 16.
    const RecordDescription outer[] = {RECORD_NESTED,
                                       0,
                                       16,
                                       RecordDescriptionWord(inner),
                                       RECORD_FIXED_ARRAY,
                                       3,
                                       16,
                                       16,
                                       RecordDescriptionWord(inner),
                                       RECORD_END};
    KeyedMap* record[8] = {};
    KeyedMap* copy[8] = {};
    RecordInit(record, outer);
    RecordCopy(copy, sizeof copy, outer, record);
    for (int i = 1; i < 8; i += 2) {
        ASSERT_NE(record[i], nullptr) << i;
        EXPECT_EQ(record[i]->holder, &record[i]);
        EXPECT_NE(copy[i], record[i]);
        EXPECT_EQ(copy[i]->holder, &copy[i]);
        EXPECT_EQ(record[i - 1], nullptr);
    }
    RecordClear(record, outer);
    RecordClear(copy, outer);
    EXPECT_EQ(std::count(record, record + 8, nullptr) + std::count(copy, copy + 8, nullptr), 16);
}

TEST(RecordCopy, ContainersOfElementsAreCopiedThroughTheirContainer) {
    HEAP_BLOCKS_MARK();
    {
        test::MapHolder source, destination;
        test::ListHolderGuard list, listCopy;
        MapCreate(sizeof(Owner), 0, ownerDescription, &source.map, 8);
        MapCreate(sizeof(Owner), 0, ownerDescription, &destination.map, 8);
        LinkedListCreate(sizeof(Owner), &list.holder, ownerDescription, 0);
        LinkedListCreate(sizeof(Owner), &listCopy.holder, ownerDescription, 0);
        ASSERT_EQ(source.map->flags, MAP_INIT_VALUES);
        ASSERT_EQ(list.holder.list->needsInit, 1);
        auto* value = static_cast<Owner*>(MapAdd(source.map, RT_TEXT("a"), 0));
        auto* element = static_cast<Owner*>(LinkedListAddElement(list.holder.list));
        for (Owner* owner : {value, element}) {
            ASSERT_NE(owner->items.list, nullptr);  // set up by RecordInit
            static_cast<Element*>(LinkedListAddElement(owner->items.list))->name =
                NewString(u"inside");
        }
        MapCopy(source.map, destination.map, 0);
        LinkedListCopy(list.holder.list, listCopy.holder.list, 0);
        for (Owner* copy : {static_cast<Owner*>(MapFind(destination.map, RT_TEXT("a"))),
                            static_cast<Owner*>(LinkedListSelect(listCopy.holder.list, 0))}) {
            ASSERT_NE(copy, nullptr);
            EXPECT_NE(copy->items.list, value->items.list);
            EXPECT_NE(copy->items.list, element->items.list);
            EXPECT_EQ(Names(copy->items.list), std::vector<std::u16string>{u"inside"});
        }
        // Mode 1 releases what the old value owned and sets the value up afresh.
        EXPECT_EQ(MapAdd(source.map, RT_TEXT("a"), 1), value);
        ASSERT_NE(value->items.list, nullptr);
        EXPECT_EQ(value->items.list->count, 0);
    }
    EXPECT_HEAP_BLOCKS_UNCHANGED();
}

// Puts a test's own routines in the array column and takes them out again at the end.
class FakeArrays {
  public:
    struct Array {
        int64_t words[4];
        int64_t dimensions[2];
        int64_t content;
    };
    static inline int frees = 0;
    static inline int copies = 0;

    FakeArrays() : saved_(ContainerOps) {
        frees = copies = 0;
        ContainerOps.arrayCreate = [](int64_t a, int64_t b, int64_t c, int64_t d, void** field) {
            *field = new Array{{a, b, c, d}, {}, 0};
        };
        ContainerOps.arrayCreateDimensioned = [](int64_t n, int64_t a, int64_t b, int64_t c,
                                                 void** field) {
            auto* dimensions = reinterpret_cast<int64_t*>(field + 1);
            *field = new Array{{n, a, b, c}, {dimensions[0], dimensions[1]}, 0};
        };
        ContainerOps.arrayCopy = [](void* source, void* destination, int32_t) {
            static_cast<Array*>(destination)->content = static_cast<Array*>(source)->content;
            copies += 1;
            return int64_t{1};
        };
        ContainerOps.arrayFree = [](void* array) {
            frees += 1;
            delete static_cast<Array*>(array);
        };
    }
    ~FakeArrays() { ContainerOps = saved_; }

  private:
    ContainerRoutines saved_;
};

// An array at 0, a dimensioned array with two dimensions at 8 (to 32), plain bytes to 48, a
// string at 48.
const RecordDescription arrayDescription[] = {
    RECORD_ARRAY, 0, 1, 2, 3, 4, RECORD_DIMENSIONED_ARRAY, 8, 2, 5, 6, 7, 10, 20, 48, RECORD_END};

TEST(RecordCopy, ArrayFieldsGoThroughTheArrayRoutines) {
    FakeArrays arrays;
    uint64_t record[8] = {}, copy[8] = {};
    RecordInit(record, arrayDescription);
    RecordInit(copy, arrayDescription);
    auto* plain = reinterpret_cast<FakeArrays::Array*>(record[0]);
    auto* dimensioned = reinterpret_cast<FakeArrays::Array*>(record[1]);
    EXPECT_EQ(std::vector<int64_t>(plain->words, plain->words + 4),
              (std::vector<int64_t>{1, 2, 3, 4}));
    EXPECT_EQ(std::vector<int64_t>(dimensioned->words, dimensioned->words + 4),
              (std::vector<int64_t>{2, 5, 6, 7}));
    // The dimensions are in the record before the array is created.
    EXPECT_EQ(dimensioned->dimensions[1], 20);
    EXPECT_EQ(record[3], 20u);

    plain->content = 1000;
    dimensioned->content = 2000;
    record[2] = 99;  // dimension words are not copied
    record[4] = 0x44;
    record[6] = reinterpret_cast<uint64_t>(NewString(u"after the arrays"));
    RecordCopy(copy, sizeof copy, arrayDescription, record);
    EXPECT_EQ(FakeArrays::frees, 2);
    EXPECT_EQ(FakeArrays::copies, 2);
    EXPECT_EQ(reinterpret_cast<FakeArrays::Array*>(copy[0])->content, 1000);
    EXPECT_EQ(reinterpret_cast<FakeArrays::Array*>(copy[1])->content, 2000);
    EXPECT_EQ(copy[2], 10u);
    EXPECT_EQ(copy[4], 0x44u);
    EXPECT_EQ(Text(reinterpret_cast<void*>(copy[6])), u"after the arrays");
    RecordClear(record, arrayDescription);
    RecordClear(copy, arrayDescription);
    EXPECT_EQ(FakeArrays::frees, 6);
}

TEST(RecordCopy, WithoutAnArrayLibraryArrayFieldsAreLeftAlone) {
    ASSERT_EQ(ContainerOps.arrayCreate, nullptr);
    uint64_t record[8] = {}, copy[8] = {};
    RecordInit(record, arrayDescription);  // writes the dimensions, calls nothing
    EXPECT_EQ(record[0], 0u);
    EXPECT_EQ(record[2], 10u);
    record[0] = 0xA0;  // an array address that only an array library could copy
    record[6] = reinterpret_cast<uint64_t>(NewString(u"s"));
    RecordCopy(copy, sizeof copy, arrayDescription, record);
    EXPECT_EQ(copy[0], 0u);
    EXPECT_EQ(Text(reinterpret_cast<void*>(copy[6])), u"s");
    RecordClear(record, arrayDescription);
    RecordClear(copy, arrayDescription);
}

TEST(StringDuplicateInto, StoresACopyAndIgnoresANullText) {
    WCHAR* field = reinterpret_cast<WCHAR*>(0x10);
    StringDuplicateInto(&field, nullptr);
    EXPECT_EQ(field, reinterpret_cast<WCHAR*>(0x10));
    const WCHAR* text = RT_TEXT("copy me");
    StringDuplicateInto(&field, text);
    EXPECT_NE(field, text);
    EXPECT_EQ(Text(field), u"copy me");
    EXPECT_EQ(HeapSize(StringHeap, 0, field), (7 + 5) * sizeof(WCHAR));
    StringFree(field);
#if RT_HAS_ALLOCATION_HOOK
    field = nullptr;
    PlatformFailAllocation(1);
    StringDuplicateInto(&field, text);
    PlatformFailAllocation(0);
    EXPECT_EQ(field, nullptr);
#endif
}

#if RT_HAS_ALLOCATION_HOOK
TEST(RecordCopy, AllocationFailuresLeaveBothRecordsSound) {
    HEAP_BLOCKS_MARK();
    Owner source = {};
    RecordInit(&source, ownerDescription);
    source.title = NewString(u"title");
    static_cast<Element*>(LinkedListAddElement(source.items.list))->name = NewString(u"x");
    static_cast<Entry*>(MapAdd(source.table, RT_TEXT("k"), 0))->label = NewString(u"y");
    int failures = test::SweepAllocationFailures([&](int) {
        Owner destination = {};
        RecordCopy(&destination, sizeof(Owner), ownerDescription, &source);
        bool complete = destination.title != nullptr && destination.items.list != nullptr &&
                        destination.items.list->count == 1 && destination.table != nullptr &&
                        destination.table->count == 1;
        RecordClear(&destination, ownerDescription);
        return complete;
    });
    EXPECT_GT(failures, 5);
    RecordClear(&source, ownerDescription);
    EXPECT_HEAP_BLOCKS_UNCHANGED();
}
#endif

}  // namespace
}  // namespace rt
