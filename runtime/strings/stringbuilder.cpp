// The per-thread string builder and the string library's start and end.
//
// Each thread reaches its StringBuilderRecord through the library's own TLS slot; a thread's
// record is created on its first StringBuilderEnsure and freed by the thread-exit service after
// the thread has ended (the thread that starts the library at program start keeps its record
// until the string heap is destroyed). Positions are byte offsets into the buffer; the buffer only
// grows, by 16384 bytes beyond what is needed, and always keeps a few bytes of room after the
// position so that a terminating zero can be written after any reserved text.
#include <climits>

#include "strings_internal.h"

namespace rt {

HANDLE StringHeap = nullptr;

namespace {

constexpr DWORD NOT_STARTED = static_cast<DWORD>(-1);
constexpr int64_t INITIAL_CAPACITY = 16;
constexpr int64_t GROWTH = 16384;
constexpr int64_t SPARE_BYTES = 10;  // allocated beyond the capacity
// Positions are 32-bit: the end of a reservation stays at or below this, so that the buffer with
// its growth and spare bytes can still be addressed.
constexpr int64_t POSITION_LIMIT = INT32_MAX - GROWTH - SPARE_BYTES;

int64_t positionLimit = POSITION_LIMIT;  // lowered by tests

DWORD builderSlot = NOT_STARTED;

// The slot is read without TlsGetValue, which would clear the thread's last-error code: Mark and
// Rewind sit between a failing call and the caller's GetLastError.
StringBuilderRecord* Record() {
    return static_cast<StringBuilderRecord*>(TlsSlotValue(builderSlot));
}

StringBuilderRecord* NewRecord() {
    auto* record =
        static_cast<StringBuilderRecord*>(HeapAlloc(StringHeap, 0, sizeof(StringBuilderRecord)));
    void* buffer = HeapAlloc(StringHeap, 0, INITIAL_CAPACITY);
    if (record == nullptr || buffer == nullptr) {
        StringHeapExhausted();
    }
    record->buffer = static_cast<WCHAR*>(buffer);
    record->capacity = INITIAL_CAPACITY;
    record->position = 0;
    TlsSetValue(builderSlot, record);
    return record;
}

char* Bytes(StringBuilderRecord* record) {
    return reinterpret_cast<char*>(record->buffer);
}

}  // namespace

void StringHeapExhausted() {
    FatalStop(RT_TEXT("The program has run out of memory for text and has to stop."));
}

void StringLibraryStart() {
    StringHeap = HeapCreate(0, 4096, 0);
    builderSlot = TlsAlloc();
    NewRecord();
}

void StringLibraryEnd() {
    HeapDestroy(StringHeap);
    StringHeap = nullptr;
    TlsFree(builderSlot);
    builderSlot = NOT_STARTED;
}

namespace {

// The calling thread has no record yet (nor the library, perhaps). Out of line: the check in
// StringBuilderEnsure, made on entry of every string routine, then saves no registers for it.
[[gnu::noinline]] void EnsureRecord() {
    StringBuilderRecord* record;
    if (builderSlot == NOT_STARTED) {
        StringLibraryStart();
        record = Record();
    } else {
        record = NewRecord();
    }
    ThreadExitRegister(StringBuilderThreadEnd, record);
}

// The room of a reservation that fits: the position stands after it.
WCHAR* Reserved(StringBuilderRecord* record, int64_t units, int32_t position) {
    if (position == -1) {
        position = static_cast<int32_t>(record->position);
    }
    record->position = position + 2 * units;
    return reinterpret_cast<WCHAR*>(Bytes(record) + position);
}

// Grows the buffer so that it holds `end` bytes and some room after them; false, with nothing
// changed, when the end lies beyond what positions can address or the heap has no room.
bool Grow(StringBuilderRecord* record, int64_t end) {
    if (end > positionLimit) {
        return false;
    }
    int64_t capacity = end + GROWTH;
    void* buffer = HeapReAlloc(StringHeap, 0, record->buffer, capacity + SPARE_BYTES);
    if (buffer == nullptr) {
        return false;
    }
    record->buffer = static_cast<WCHAR*>(buffer);
    record->capacity = capacity;
    return true;
}

// Whether text up to byte `end` fits the buffer as it is, with room for a terminating zero after
// it, and within what positions address: what every reservation that does not grow asks.
bool FitsWithoutGrowing(const StringBuilderRecord* record, int64_t end) {
    return end <= POSITION_LIMIT && end < record->capacity - 4;
}

// StringBuilderReserve where the reservation does not fit the buffer. Out of line, so that a
// reservation that fits makes no call and saves no registers.
[[gnu::noinline]] WCHAR* ReservedGrowing(StringBuilderRecord* record, int64_t units,
                                         int32_t position) {
    if (units < 0 || !Grow(record, record->position + 2 * units)) {
        StringHeapExhausted();
    }
    return Reserved(record, units, position);
}

}  // namespace

void StringBuilderEnsure() {
    if (builderSlot == NOT_STARTED || Record() == nullptr) {
        EnsureRecord();
    }
}

void StringBuilderThreadEnd(void* record) {
    auto* builder = static_cast<StringBuilderRecord*>(record);
    HeapFree(StringHeap, 0, builder->buffer);
    HeapFree(StringHeap, 0, builder);
}

int32_t StringBuilderMark() {
    return static_cast<int32_t>(Record()->position);
}

void StringBuilderRewind(int32_t mark) {
    Record()->position = mark;
}

WCHAR* StringBuilderReserve(int64_t units, int32_t position) {
    StringBuilderRecord* record = Record();
    int64_t end = record->position + 2 * units;
    if (units < 0 || !FitsWithoutGrowing(record, end)) {
        return ReservedGrowing(record, units, position);
    }
    return Reserved(record, units, position);
}

bool StringBuilderMakeRoom(int64_t units) {
    StringBuilderRecord* record = Record();
    int64_t end = record->position + 2 * units;
    return units >= 0 && (FitsWithoutGrowing(record, end) || Grow(record, end));
}

void StringBuilderLimitPositions(int64_t bytes) {
    positionLimit = bytes > 0 ? bytes : POSITION_LIMIT;
}

WCHAR* StringBuilderRoom(int64_t units, int32_t position) {
    StringBuilderRecord* record = Record();
    if (units < 0 || record->position + 2 * units >= record->capacity - 4) {
        return nullptr;
    }
    if (position == -1) {
        position = static_cast<int32_t>(record->position);
    }
    return reinterpret_cast<WCHAR*>(Bytes(record) + position);
}

void StringBuilderUnreserve(int64_t units) {
    Record()->position -= 2 * units;
}

WCHAR* StringBuilderBase() {
    return Record()->buffer;
}

WCHAR* StringBuilderCurrent() {
    StringBuilderRecord* record = Record();
    return reinterpret_cast<WCHAR*>(Bytes(record) + record->position);
}

WCHAR* StringBuilderSetPosition(int32_t position) {
    StringBuilderRecord* record = Record();
    record->position = position;
    return reinterpret_cast<WCHAR*>(Bytes(record) + position);
}

int64_t StringBuilderLocate(const void* address) {
    StringBuilderRecord* record = Record();
    const char* at = static_cast<const char*>(address);
    if (at < Bytes(record) || at > Bytes(record) + record->position) {
        return 0;
    }
    return at - Bytes(record) + 1;
}

void* StringBuilderAddress(int64_t located) {
    return Bytes(Record()) + located - 1;
}

void StringAppend(const WCHAR* text) {
    int64_t units = text != nullptr ? static_cast<int64_t>(wcslen(text)) : 0;
    WCHAR* destination = StringBuilderReserve(units, -1);
    if (text != nullptr) {
        StringCopyChars(destination, text, units);
    } else {
        *destination = 0;
    }
}

void StringTerminate() {
    Record()->position += 2;
}

void StringAssign(WCHAR** variable, int32_t mark) {
    if (!StringAssignChecked(variable, mark, StringCopyChars)) {
        StringHeapExhausted();
    }
}

bool StringAssignChecked(WCHAR** variable, int32_t mark, StringCopyRoutine copy) {
    StringBuilderRecord* record = Record();
    int64_t length = record->position - mark;
    const auto* text = reinterpret_cast<const WCHAR*>(Bytes(record) + mark);
    auto bytes = static_cast<SIZE_T>(length + SPARE_BYTES);
    // The position goes back before the copy, which then ends the routine: the text stays where it
    // is, since the variable's block is not the builder's, and a failure below leaves it unused.
    record->position = mark;
    // The block always takes the new text's size, so that a variable that once held a long text
    // does not keep its room; the heap reallocates a block within its room in place, which is
    // what a variable reassigned for every line of a file meets.
    void* block = *variable == nullptr ? HeapAlloc(StringHeap, 0, bytes)
                                       : HeapReAlloc(StringHeap, 0, *variable, bytes);
    if (block == nullptr) {
        return false;
    }
    *variable = static_cast<WCHAR*>(block);
    copy(static_cast<WCHAR*>(block), text, length / 2);
    return true;
}

}  // namespace rt
