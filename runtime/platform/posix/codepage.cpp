// Code-page conversion: Windows-1252 as the active code page, and UTF-8.
//
// Each direction runs one routine twice when the caller measures first: with no target it only
// counts. A too-small target fails with ERROR_INSUFFICIENT_BUFFER, as on Windows. Text that maps
// unit for unit to bytes of the same value goes through in blocks, so that narrowing costs about
// an instruction per unit at any length.
#include <cstring>

#include "../platform.h"

namespace {

// Code points of the bytes 0x80 to 0x9F in Windows-1252; the five unassigned bytes keep their
// value.
constexpr char16_t WINDOWS_1252_HIGH[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

constexpr char16_t REPLACEMENT = 0xFFFD;

// Units handled by one round of the loops below that the compiler turns into vector code.
constexpr int VECTOR_BLOCK = 32;

// Receives converted units or bytes; counts only when it has no storage.
template <typename T>
class Output {
  public:
    Output(T* target, int capacity) : target_(target), capacity_(capacity) {}
    bool Put(T value) {
        if (target_ != nullptr) {
            if (count_ >= capacity_) {
                return false;
            }
            target_[count_] = value;
        }
        count_ += 1;
        return true;
    }
    // Puts each of `units` units as the byte of its value.
    bool PutNarrowed(const WCHAR* units, int count) {
        if (target_ != nullptr) {
            if (count > capacity_ - count_) {
                return false;
            }
            Narrow(target_ + count_, units, count);
        }
        count_ += count;
        return true;
    }
    int Count() const { return count_; }

  private:
    // Blocks of a fixed size, which the compiler turns into vector code (the two never overlap),
    // then the last units one by one.
    static void Narrow(T* __restrict out, const WCHAR* __restrict units, int count) {
        int i = 0;
        for (; i + VECTOR_BLOCK <= count; i += VECTOR_BLOCK) {
            for (int k = 0; k < VECTOR_BLOCK; ++k) {
                out[i + k] = static_cast<T>(units[i + k]);
            }
        }
        for (; i < count; ++i) {
            out[i] = static_cast<T>(units[i]);
        }
    }

    T* target_;
    int capacity_;
    int count_ = 0;
};

// Whether a code page turns `unit` into the one byte of the same value: Windows-1252 the units
// below 0x80 and from 0xA0 to 0xFF, UTF-8 those below 0x80.
// Written without branches, so that a loop over units can be vector code.
template <bool windows1252>
bool PlainUnit(unsigned unit) {
    return windows1252 ? (unit <= 0xFF) & (unit - 0x80 >= 0x20) : unit < 0x80;
}

// The length of the run of plain units that `units` starts with. Blocks are tested whole, in a loop
// without an exit that the compiler turns into vector code, so that a long text costs well under
// an instruction per unit; the block that holds the run's end is finished unit by unit.
template <bool windows1252>
int PlainRun(const WCHAR* units, int count) {
    int i = 0;
    for (; i + VECTOR_BLOCK <= count; i += VECTOR_BLOCK) {
        unsigned plain = 1;
        for (int k = 0; k < VECTOR_BLOCK; ++k) {
            plain &= PlainUnit<windows1252>(units[i + k]);
        }
        if (plain == 0) {
            break;
        }
    }
    while (i < count && PlainUnit<windows1252>(units[i])) {
        ++i;
    }
    return i;
}

// Decodes one UTF-8 sequence at `bytes` (of `left` bytes): the code point, or REPLACEMENT for the
// longest prefix that could start a valid sequence (at least one byte). *length = bytes consumed.
char32_t DecodeUtf8(const unsigned char* bytes, int left, int* length) {
    unsigned char lead = bytes[0];
    *length = 1;
    if (lead < 0x80) {
        return lead;
    }
    int needed;
    char32_t codePoint;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        needed = 1;
        codePoint = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        needed = 2;
        codePoint = lead & 0x0F;
        if (lead == 0xE0) {
            low = 0xA0;  // no overlong forms
        } else if (lead == 0xED) {
            high = 0x9F;  // no surrogates
        }
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        needed = 3;
        codePoint = lead & 0x07;
        if (lead == 0xF0) {
            low = 0x90;
        } else if (lead == 0xF4) {
            high = 0x8F;  // nothing above U+10FFFF
        }
    } else {
        return REPLACEMENT;
    }
    for (int i = 1; i <= needed; ++i) {
        if (i >= left || bytes[i] < low || bytes[i] > high) {
            return REPLACEMENT;  // the valid prefix is consumed; the offending byte is not
        }
        codePoint = codePoint << 6 | (bytes[i] & 0x3F);
        *length = i + 1;
        low = 0x80;
        high = 0xBF;
    }
    return codePoint;
}

bool PutCodePoint(Output<WCHAR>& output, char32_t codePoint) {
    if (codePoint < 0x10000) {
        return output.Put(static_cast<WCHAR>(codePoint));
    }
    codePoint -= 0x10000;
    return output.Put(static_cast<WCHAR>(0xD800 + (codePoint >> 10))) &&
           output.Put(static_cast<WCHAR>(0xDC00 + (codePoint & 0x3FF)));
}

bool PutUtf8(Output<CHAR>& output, char32_t codePoint) {
    auto put = [&](unsigned value) { return output.Put(static_cast<CHAR>(value)); };
    if (codePoint < 0x80) {
        return put(codePoint);
    }
    if (codePoint < 0x800) {
        return put(0xC0 | codePoint >> 6) && put(0x80 | (codePoint & 0x3F));
    }
    if (codePoint < 0x10000) {
        return put(0xE0 | codePoint >> 12) && put(0x80 | (codePoint >> 6 & 0x3F)) &&
               put(0x80 | (codePoint & 0x3F));
    }
    return put(0xF0 | codePoint >> 18) && put(0x80 | (codePoint >> 12 & 0x3F)) &&
           put(0x80 | (codePoint >> 6 & 0x3F)) && put(0x80 | (codePoint & 0x3F));
}

// The Windows-1252 byte of a code unit, or -1 when the code page lacks it.
int Windows1252Byte(WCHAR unit) {
    if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) {
        return unit;
    }
    for (int i = 0; i < 32; ++i) {
        if (WINDOWS_1252_HIGH[i] == unit) {
            return 0x80 + i;
        }
    }
    return -1;
}

// The byte of a unit in the active code page, or the default character (noted in
// *usedDefaultChar) when the code page lacks it.
unsigned char AnsiByte(WCHAR unit, LPCSTR defaultChar, LPBOOL usedDefaultChar) {
    int byte = Windows1252Byte(unit);
    if (byte >= 0) {
        return static_cast<unsigned char>(byte);
    }
    if (usedDefaultChar != nullptr) {
        *usedDefaultChar = TRUE;
    }
    return static_cast<unsigned char>(defaultChar != nullptr ? *defaultChar : '?');
}

// The unit of a Windows-1252 byte.
WCHAR Windows1252Unit(unsigned char byte) {
    return byte >= 0x80 && byte < 0xA0 ? WINDOWS_1252_HIGH[byte - 0x80] : byte;
}

int Fail(DWORD error) {
    SetLastError(error);
    return 0;
}

}  // namespace

UINT GetACP() {
    return 1252;
}

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR source, int sourceBytes, LPWSTR target,
                        int targetUnits) {
    if (source == nullptr || sourceBytes == 0 || sourceBytes < -1 || targetUnits < 0 ||
        (target == nullptr && targetUnits != 0) ||
        (target != nullptr && static_cast<const void*>(source) == target)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (codePage != CP_ACP && codePage != CP_UTF8) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (flags != 0) {
        return Fail(ERROR_INVALID_FLAGS);
    }
    if (sourceBytes == -1) {
        sourceBytes = static_cast<int>(std::strlen(source)) + 1;
    }
    Output<WCHAR> output(targetUnits == 0 ? nullptr : target, targetUnits);
    const auto* bytes = reinterpret_cast<const unsigned char*>(source);
    if (codePage == CP_ACP) {
        if (targetUnits == 0) {
            return sourceBytes;  // one unit per byte
        }
        for (int i = 0; i < sourceBytes; ++i) {
            if (!output.Put(Windows1252Unit(bytes[i]))) {
                return Fail(ERROR_INSUFFICIENT_BUFFER);
            }
        }
        return output.Count();
    }
    for (int i = 0; i < sourceBytes;) {
        int length;
        char32_t codePoint = DecodeUtf8(bytes + i, sourceBytes - i, &length);
        if (!PutCodePoint(output, codePoint)) {
            return Fail(ERROR_INSUFFICIENT_BUFFER);
        }
        i += length;
    }
    return output.Count();
}

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR source, int sourceUnits, LPSTR target,
                        int targetBytes, LPCSTR defaultChar, LPBOOL usedDefaultChar) {
    if (source == nullptr || sourceUnits == 0 || sourceUnits < -1 || targetBytes < 0 ||
        (target == nullptr && targetBytes != 0)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (codePage != CP_ACP && codePage != CP_UTF8) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (flags != 0) {
        return Fail(ERROR_INVALID_FLAGS);
    }
    if (codePage == CP_UTF8 && (defaultChar != nullptr || usedDefaultChar != nullptr)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (sourceUnits == -1) {
        sourceUnits = static_cast<int>(wcslen(source)) + 1;
    }
    Output<CHAR> output(targetBytes == 0 ? nullptr : target, targetBytes);
    if (usedDefaultChar != nullptr) {
        *usedDefaultChar = FALSE;
    }
    if (codePage == CP_ACP && targetBytes == 0 && usedDefaultChar == nullptr) {
        return sourceUnits;  // one byte per unit
    }
    bool windows1252 = codePage == CP_ACP;
    for (int i = 0; i < sourceUnits; ++i) {
        // Runs of plain units go to the output in bulk; the unit after a run is converted alone.
        int run = windows1252 ? PlainRun<true>(source + i, sourceUnits - i)
                              : PlainRun<false>(source + i, sourceUnits - i);
        if (!output.PutNarrowed(source + i, run)) {
            return Fail(ERROR_INSUFFICIENT_BUFFER);
        }
        i += run;
        if (i == sourceUnits) {
            break;
        }
        WCHAR unit = source[i];
        bool stored;
        if (windows1252) {
            stored = output.Put(static_cast<CHAR>(AnsiByte(unit, defaultChar, usedDefaultChar)));
        } else {
            char32_t codePoint = unit;
            if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < sourceUnits &&
                source[i + 1] >= 0xDC00 && source[i + 1] <= 0xDFFF) {
                codePoint = 0x10000 + ((unit - 0xD800) << 10) + (source[i + 1] - 0xDC00);
                i += 1;
            } else if (unit >= 0xD800 && unit <= 0xDFFF) {
                codePoint = REPLACEMENT;  // a lone surrogate
            }
            stored = PutUtf8(output, codePoint);
        }
        if (!stored) {
            return Fail(ERROR_INSUFFICIENT_BUFFER);
        }
    }
    return output.Count();
}
