// The text kernels: the passes over a line of text that a file copy makes for every line, in one
// place with one block layout. A block is sixteen characters: sixteen bytes of 8-bit text or
// sixteen UTF-16 units (one 32-byte vector).
// - TextScan finds the first byte of a stop set (the line reader's line ends, for instance);
// - TextWiden widens 8-bit text to units up to the first stop, telling whether every byte was one
//   that the code page maps to the code point of its own value;
// - TextNarrow narrows units to bytes up to the first zero or unit that does not map so;
// - TextRot47 rotates units by ROT47 while copying them.
// The kernels know neither line ends nor code pages: the callers pass a stop set and the set of
// bytes that map directly.
//
// Each kernel has a plain reference loop beside it (the ...Reference routines): the tests and a
// fuzzing harness compare the two at every alignment, length and page boundary, and the kernels
// run the reference loop themselves where the processor has no 32-byte vectors.
//
// A line of up to TEXT_REACH characters, where the kernel may reach past the line's end, takes no
// branch that its length decides beyond one: whether it ends in its first block. The rest of its
// blocks are done whole and the end is found in their masks. That costs more instructions than a
// loop that stops at the end (on the benchmark's lines of 0 to 100 characters, 282 a line for the
// three passes against 215), but a loop's exit, decided by the line's length, was a mispredicted
// branch per line and pass (2.8 a line against 0.7), each as costly as a few dozen instructions.
//
// Pure functions of their arguments: any thread may call them.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "../platform/platform.h"

namespace rt {

// Whether the kernels use 32-byte vectors (AVX2, with BMI2's bit operations): true where the
// processor has them, asked once at start-up. Tests turn it off to run the reference loops.
extern bool TextVectors;

// Characters in a block.
constexpr int64_t TEXT_BLOCK = 16;
// How far the kernels reach past a short text's end when they are let: the first block and a
// window of six more. A text that ends in the first block, or in the window, takes no branch that
// its length decides beyond whether it ends in the first block.
constexpr int64_t TEXT_REACH = 7 * TEXT_BLOCK;
// Narrowing has no first block of its own (an empty text is not narrowed at all): its window is
// eight blocks.
constexpr int64_t TEXT_NARROW_REACH = 8 * TEXT_BLOCK;

// A set of bytes at which a scan stops: bytes below 0x80, at most one for each value of the low
// four bits, and optionally every byte from 0x80 up.
struct TextStops {
    uint8_t table[16];  // for each value of the low four bits, the stop with it, or 0xFF
    bool high;          // every byte from 0x80 up stops
};

constexpr TextStops TextStopSet(std::initializer_list<uint8_t> bytes, bool high = false) {
    TextStops stops{{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                     0xFF, 0xFF, 0xFF},
                    high};
    for (uint8_t byte : bytes) {
        // A stop at or above 0x80, or two with the same low bits, fails the build.
        if (byte >= 0x80 || stops.table[byte & 15] != 0xFF) {
            throw "a stop set holds bytes below 0x80 with distinct low four bits";
        }
        stops.table[byte & 15] = byte;
    }
    return stops;
}

// Whether `byte` is in the set.
inline bool TextStopsHas(const TextStops& stops, uint8_t byte) {
    return byte >= 0x80 ? stops.high : stops.table[byte & 15] == byte;
}

// The bytes that a code page maps to the code point of their own value ("direct" bytes), which
// widen and narrow without the system: none, the bytes below 0x80 (UTF-8), or those and the bytes
// from 0xA0 up (Windows-1252). A unit is direct when it is a direct byte's value.
enum class TextDirect : uint8_t { None, Ascii, Latin1 };

inline bool TextDirectHas(TextDirect direct, uint32_t value) {
    return direct != TextDirect::None &&
           (value < 0x80 || (direct == TextDirect::Latin1 && value >= 0xA0 && value <= 0xFF));
}

// The index of the first stop in bytes[0, count), or `count`.
int64_t TextScan(const uint8_t* bytes, int64_t count, const TextStops& stops);
int64_t TextScanReference(const uint8_t* bytes, int64_t count, const TextStops& stops);

// A run of widened bytes: its length, and whether every byte of it is direct (when one is not, the
// units need not hold it).
struct TextRun {
    int64_t length;
    bool direct;
};

// Widens bytes[0, count) into units up to the first stop: the number of bytes before it (`count`
// when there is none). The stop set has no high bytes: those widen like others. `reach` >= count:
// bytes[0, reach) may be read and units[0, reach) written, so that with TEXT_REACH or more a short
// line is done in whole blocks.
TextRun TextWiden(const uint8_t* bytes, int64_t count, int64_t reach, WCHAR* units,
                  const TextStops& stops, TextDirect direct);
TextRun TextWidenReference(const uint8_t* bytes, int64_t count, WCHAR* units,
                           const TextStops& stops, TextDirect direct);

// Narrows `text` into bytes[0, limit) from its start up to its first end: a zero unit, a unit that
// is not direct, or `limit`. The index of that end; bytes[0, end) hold the units before it. Reads
// the text in blocks past its end, but never into a page that holds none of it. A short text is
// done in whole blocks where the limit holds TEXT_NARROW_REACH bytes.
int64_t TextNarrow(const WCHAR* text, int64_t limit, char* bytes, TextDirect direct);
int64_t TextNarrowReference(const WCHAR* text, int64_t limit, char* bytes, TextDirect direct);

// ROT47 of one unit: 33 to 126 move 47 places within that range, every other unit stays.
inline WCHAR TextRot47Unit(WCHAR unit) {
    uint16_t c = unit;
    uint16_t rotated = static_cast<uint16_t>(c <= 79 ? c + 47 : c - 47);
    return static_cast<uint16_t>(c - 33) < 94 ? rotated : c;
}

// Writes the ROT47 of source[0, units) to destination[0, units) and a zero unit after them; the
// two are the same or do not overlap. Reads source[units] as well when `units` is odd (a zero-
// terminated text's zero, or the room a string builder keeps after its text).
void TextRot47(WCHAR* destination, const WCHAR* source, int64_t units);
void TextRot47Reference(WCHAR* destination, const WCHAR* source, int64_t units);

}  // namespace rt
