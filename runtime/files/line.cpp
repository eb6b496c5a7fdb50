// Text lines on file objects: reading one line per call in TEXT_ANSI, TEXT_UTF8 or TEXT_UTF16, and
// writing strings and lines converted from UTF-16.
//
// A read collects the line's bytes in a MainHeap line buffer, which it owns until the line has
// been delivered through the calling thread's StringBuilder. The reader is defined character by
// character; where the file's buffer holds read-ahead data it scans runs of ordinary bytes in bulk
// and copies them at once, which consumes the same bytes, grows the line buffer at the same
// characters and leaves the file's buffer in the same state as reading them one by one would.
// Threads: one file is used by one thread at a time.
#include <algorithm>
#include <cstring>

#include "files_internal.h"

namespace rt {

namespace {

constexpr uint8_t LF = 10;
constexpr uint8_t CR = 13;
constexpr int64_t LINE_BUFFER_BYTES = 4096;  // the start size and the first growth

enum class Encoding { Ansi, Utf8, Utf16 };

Encoding EncodingOf(int32_t format) {
    return format == TEXT_UTF8    ? Encoding::Utf8
           : format == TEXT_UTF16 ? Encoding::Utf16
                                  : Encoding::Ansi;
}

// The bytes at which a run of ordinary bytes ends: a zero always, CR and LF where they end lines,
// and for UTF-8 every byte from 0x80 up, which starts a character of several bytes.
constexpr TextStops LINE_STOPS = TextStopSet({0, LF, CR});
constexpr TextStops LINE_STOPS_UTF8 = TextStopSet({0, LF, CR}, true);
constexpr TextStops ZERO_STOPS = TextStopSet({0});
constexpr TextStops ZERO_STOPS_UTF8 = TextStopSet({0}, true);

const TextStops& StopsOf(bool lineEnds, bool utf8) {
    return lineEnds ? (utf8 ? LINE_STOPS_UTF8 : LINE_STOPS) : (utf8 ? ZERO_STOPS_UTF8 : ZERO_STOPS);
}

class LineReader {
  public:
    LineReader(FileRecord* file, Encoding encoding, bool ignoreLineEnds, int64_t maxLength)
        : file_(file),
          encoding_(encoding),
          ignoreLineEnds_(ignoreLineEnds),
          limit_(maxLength),
          // Room kept free after the stored data before the buffer grows: the terminating zero,
          // and for UTF-8 the longest character as well.
          slack_(encoding == Encoding::Utf8    ? 5
                 : encoding == Encoding::Utf16 ? 2
                                               : 1) {}
    ~LineReader() { HeapFree(MainHeap, 0, line_); }
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    // Reads the line into the line buffer, zero-terminated; false when the buffer cannot be had.
    bool Read() {
        line_ = static_cast<uint8_t*>(HeapAlloc(MainHeap, 0, LINE_BUFFER_BYTES));
        if (line_ == nullptr) {
            return false;
        }
        capacity_ = LINE_BUFFER_BYTES;
        while (!LimitReached()) {
            if (encoding_ != Encoding::Utf16 && TakeOrdinaryRun() && LimitReached()) {
                break;
            }
            if (!Step()) {
                break;
            }
        }
        line_[length_] = 0;
        if (encoding_ == Encoding::Utf16) {
            line_[length_ + 1] = 0;
        }
        return true;
    }

    const uint8_t* Line() const { return line_; }
    int64_t Length() const { return length_; }
    bool CutShort() const { return cutShort_; }

  private:
    bool LimitReached() const { return limit_ >= 0 && used_ >= limit_; }

    int64_t ReadBytes(uint8_t* destination, int64_t bytes) {
        return FileBufferRead(file_, destination, bytes);
    }

    // Copies the ordinary bytes waiting in the file's buffer, as far as the limit and the line
    // buffer's present capacity allow; true when it took any.
    bool TakeOrdinaryRun() {
        if (!FileBufferHasUnread(file_)) {
            return false;
        }
        int64_t span = FileBufferUnread(file_);
        if (limit_ >= 0 && limit_ - used_ < span) {
            span = limit_ - used_;
        }
        int64_t room = capacity_ - slack_ - length_;
        if (room < span) {
            span = room;
        }
        if (span <= 0) {
            return false;
        }
        const uint8_t* next = FileBufferNext(file_);
        int64_t run = TextScan(next, span, StopsOf(!ignoreLineEnds_, encoding_ == Encoding::Utf8));
        std::memcpy(line_ + length_, next, static_cast<size_t>(run));
        length_ += run;
        used_ += run;
        FileBufferConsume(file_, run);
        return run > 0;
    }

    // Reads one character of `size` bytes into `character`; false at the end of the data.
    bool ReadCharacter(uint8_t* character, int32_t* size) {
        if (encoding_ == Encoding::Utf16) {
            *size = 2;
            return ReadBytes(character, 2) == 2;  // a lone last byte is dropped
        }
        *size = 1;
        if (ReadBytes(character, 1) != 1) {
            return false;
        }
        if (encoding_ == Encoding::Ansi || character[0] < 0x80) {
            return true;
        }
        uint8_t lead = character[0];
        int32_t length = (lead & 0xE0) == 0xC0   ? 2
                         : (lead & 0xF0) == 0xE0 ? 3
                         : (lead & 0xF8) == 0xF0 ? 4
                                                 : 1;
        if (length == 1) {
            character[0] = '?';  // a stray continuation byte or 0xF8 to 0xFF
            return true;
        }
        // The rest is taken as it comes; a character cut off by the end of the data is dropped.
        *size = length;
        return ReadBytes(character + 1, length - 1) == length - 1;
    }

    // After a CR: an LF right behind it belongs to the same line end; anything else is given back.
    void TakeLineFeedAfterReturn() {
        int32_t unit = encoding_ == Encoding::Utf16 ? 2 : 1;
        uint8_t next[2];
        if (ReadBytes(next, unit) != unit) {
            return;  // the end of the data: nothing to give back
        }
        bool lineFeed = next[0] == LF && (unit == 1 || next[1] == 0);
        if (!lineFeed) {
            FileGiveBack(file_, unit);
        }
    }

    // The first growth adds LINE_BUFFER_BYTES; every later one half the capacity, so that a line
    // of any length costs a number of reallocations that grows with the logarithm of its length.
    // With a fixed step, a heap that moves a block to grow it would copy the line once per step,
    // and a line of a few hundred megabytes would take hours.
    bool Grow() {
        int64_t capacity = capacity_ + std::max(LINE_BUFFER_BYTES, capacity_ / 2);
        auto* grown =
            static_cast<uint8_t*>(HeapReAlloc(MainHeap, HEAP_ZERO_MEMORY, line_, capacity));
        if (grown == nullptr) {
            return false;
        }
        line_ = grown;
        capacity_ = capacity;
        return true;
    }

    // One character of the per-character reader; false when the line is complete.
    bool Step() {
        used_ += 1;
        uint8_t character[4];
        int32_t size;
        if (!ReadCharacter(character, &size)) {
            return false;
        }
        bool single = size == 1 || encoding_ == Encoding::Utf16;
        uint32_t unit =
            encoding_ == Encoding::Utf16 ? character[0] | character[1] << 8 : character[0];
        if (single && unit == 0) {
            return false;  // consumed, not part of the line
        }
        if (single && !ignoreLineEnds_ && (unit == LF || unit == CR)) {
            if (unit == CR) {
                TakeLineFeedAfterReturn();
            }
            return false;
        }
        if (length_ + size > capacity_ - slack_ && !Grow()) {
            // The line cannot grow: it ends with what it holds, and the character is left for the
            // next read, so nothing is lost and nothing is read twice.
            FileGiveBack(file_, size);
            cutShort_ = true;
            return false;
        }
        std::memcpy(line_ + length_, character, static_cast<size_t>(size));
        length_ += size;
        return true;
    }

    FileRecord* file_;
    Encoding encoding_;
    bool ignoreLineEnds_;
    int64_t limit_;
    int64_t slack_;
    int64_t used_ = 0;  // characters counted against the limit
    uint8_t* line_ = nullptr;
    int64_t capacity_ = 0;
    int64_t length_ = 0;  // bytes stored
    bool cutShort_ = false;
};

// A line that lies whole in the file's read-ahead, its end included, is converted straight from
// the buffer, without a line buffer: the bytes it consumes and the state it leaves are the
// reader's. Null, with nothing consumed, when the line does not lie whole in the buffer, when the
// limit would end it first, when a UTF-8 character needs the character reader, or when the builder
// cannot take the line.
WCHAR* ReadLineFromBuffer(FileRecord* file, Encoding encoding, int64_t maxLength,
                          int32_t position) {
    if (encoding == Encoding::Utf16 || !FileBufferHasUnread(file)) {
        return nullptr;
    }
    const uint8_t* next = FileBufferNext(file);
    int64_t available = FileBufferUnread(file);
    const auto* bytes = reinterpret_cast<const char*>(next);
    bool utf8 = encoding == Encoding::Utf8;
    // 8-bit text is widened into the builder while the line's end is sought, where the builder
    // has room for all the bytes the buffer holds from the next one on, unread or not, so that the
    // widening may work in whole blocks past the line's end; the room is reserved once the line is
    // known.
    int64_t reach = FileBufferReadable(file);
    WCHAR* room = utf8 ? nullptr : StringBuilderRoom(reach, position);
    TextRun widened =
        room != nullptr ? TextWiden(next, available, reach, room, LINE_STOPS, TextDirectOf(CP_ACP))
                        : TextRun{TextScan(next, available, StopsOf(true, utf8)), false};
    int64_t run = widened.length;
    if (run == available || (maxLength >= 0 && maxLength <= run)) {
        return nullptr;
    }
    int64_t consumed = run + 1;
    if (next[run] == CR) {
        if (run + 1 == available) {
            return nullptr;  // the look-ahead after the CR needs a refill
        }
        if (next[run + 1] == LF) {
            consumed += 1;
        }
    } else if (next[run] != LF && next[run] != 0) {
        return nullptr;
    }
    WCHAR* line;
    if (widened.direct) {
        // Reserving the run where the room for more was found cannot grow the builder: only the
        // position moves.
        line = room;
        StringBuilderSetPosition(position + static_cast<int32_t>(2 * run));
        line[run] = 0;
    } else if (!StringBuilderMakeRoom(run)) {
        return nullptr;  // the reader finds the same and gives the line up
    } else {
        line = utf8 ? Utf8BytesToUtf16Result(bytes, run, position)
                    : AnsiBytesToUtf16Result(bytes, run, position);
    }
    FileBufferConsume(file, consumed);
    return line;
}

}  // namespace

WCHAR* FileReadLine(ObjectId id, int32_t flags, int32_t position) {
    return FileReadLine(id, flags, -1, position);
}

WCHAR* FileReadLine(ObjectId id, int32_t flags, int64_t maxLength, int32_t position) {
    StringBuilderEnsure();
    FileRecord* file = FileLookup(id);
    if (file == nullptr) {
        return AnsiToUtf16Result(nullptr, position);  // the empty string
    }
    int32_t format = flags & TEXT_FORMAT_MASK;
    Encoding encoding = EncodingOf(format != 0 ? format : file->textFormat);
    bool ignoreLineEnds = (flags & READ_IGNORE_LINE_ENDS) != 0;
    FileObjectOf(file)->lineCutShort = 0;
    if (!ignoreLineEnds) {
        if (WCHAR* line = ReadLineFromBuffer(file, encoding, maxLength, position)) {
            return line;
        }
    }
    LineReader reader(file, encoding, ignoreLineEnds, maxLength);
    if (!reader.Read()) {
        return nullptr;
    }
    // Every conversion below reserves room for one unit per byte (per two bytes of UTF-16) in the
    // builder; a line that the builder cannot take is given up here, instead of the stop that its
    // reservation would make, and its bytes stay consumed.
    int64_t units = encoding == Encoding::Utf16 ? reader.Length() / 2 : reader.Length();
    if (!StringBuilderMakeRoom(units)) {
        return nullptr;
    }
    FileObjectOf(file)->lineCutShort = reader.CutShort() ? 1 : 0;
    const auto* line = reinterpret_cast<const char*>(reader.Line());
    switch (encoding) {
        case Encoding::Utf16: {
            WCHAR* result = StringBuilderReserve(units, position);
            std::memcpy(result, line, static_cast<size_t>(units) * 2);
            result[units] = 0;
            return result;
        }
        case Encoding::Utf8:
            return Utf8ToUtf16Result(line, position);
        case Encoding::Ansi:
            break;
    }
    return AnsiToUtf16Result(line, position);
}

int64_t FileLineCutShort(ObjectId id) {
    FileRecord* file = FileLookup(id);
    return file != nullptr ? FileObjectOf(file)->lineCutShort : 0;
}

namespace {

// Converts `units` units of `text` by the system straight into the free room of a buffer in the
// writing state: the bytes and the buffer state are those that FileBufferWrite leaves with a
// converted block when the bytes are fewer than the free room, without the block. The bytes
// written, or -1 when they do not fit (the room may then hold a partial conversion, which is free
// room all the same).
int64_t ConvertIntoRoom(FileRecord* file, const WCHAR* text, int64_t units, UINT codePage) {
    auto* room = reinterpret_cast<char*>(FileBufferRoom(file));
    int64_t written =
        Utf16ToMultiByteInto(codePage, text, units, room, FileBufferRoomBytes(file) - 1);
    if (written >= 0) {
        FileBufferCommit(file, written);
    }
    return written;
}

// The text converted into a block, then written as FileBufferWrite writes a block; after a flush
// (`flushed`) the buffer is empty and what is left of that routine is the direct write of a block
// as large as the buffer or larger. The bytes written.
int64_t WriteBlock(FileRecord* file, const WCHAR* text, UINT codePage, bool flushed) {
    int64_t length;
    char* bytes = Utf16ToMultiByte(codePage, text, &length);
    if (bytes == nullptr) {
        // The text never reaches the file: as much a lost write as one the system refused.
        FileNoteError(file, ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    int64_t written =
        flushed ? FileSystemWrite(file, bytes, length) : FileBufferWrite(file, bytes, length);
    HeapFree(MainHeap, 0, bytes);
    return written;
}

// Narrows the text into the free room of a buffer in the writing state while the code page maps
// it one to one, finding its end on the way; the bytes stored, or -1 when the text was not all
// narrowed, with its first `*narrowed` units in the room. Those units all went when the room ran
// out first.
int64_t NarrowIntoRoom(FileRecord* file, const WCHAR* text, UINT codePage, int64_t* narrowed) {
    auto* room = reinterpret_cast<char*>(FileBufferRoom(file));
    *narrowed = Utf16ToMultiByteDirect(codePage, text, room, FileBufferRoomBytes(file) - 1);
    if (text[*narrowed] != 0) {
        return -1;
    }
    FileBufferCommit(file, *narrowed);
    return *narrowed;
}

// WriteIntoBuffer below once the text did not all go into the room, its first `narrowed` units
// narrowed there. Out of line, so that the common case saves no registers for it.
[[gnu::noinline]] int64_t WriteIntoBufferSlow(FileRecord* file, const WCHAR* text, UINT codePage,
                                              int64_t narrowed) {
    int64_t written;
    bool flushed = false;
    if (narrowed == FileBufferRoomBytes(file) - 1) {
        // As many one-byte units as the room holds and more text after them, which makes at
        // least one byte more: the bytes do not fit behind the pending ones.
        FileBufferFlush(file);
        flushed = true;
        written = NarrowIntoRoom(file, text, codePage, &narrowed);
        if (written >= 0) {
            return written;
        }
        if (narrowed == FileBufferRoomBytes(file) - 1) {
            return WriteBlock(file, text, codePage, true);  // a buffer full at least
        }
    }
    // A unit that the system converts: the text is measured from there and converted whole.
    int64_t units = narrowed + StringLength(text + narrowed);
    written = ConvertIntoRoom(file, text, units, codePage);
    if (written >= 0) {
        return written;
    }
    // Too long for the free room, or after the flush for the whole buffer.
    return WriteBlock(file, text, codePage, flushed);
}

// Writes 8-bit text into a buffer in the writing state exactly as FileBufferWrite would write its
// converted bytes: stored behind the pending bytes when they are fewer than the free room, else
// after a flush stored at the start of the empty buffer, or written directly when they are at
// least a buffer full. Text that the code page maps one to one is narrowed straight into the
// buffer, so no length is measured and no block is made.
int64_t WriteIntoBuffer(FileRecord* file, const WCHAR* text, UINT codePage) {
    int64_t narrowed;
    int64_t written = NarrowIntoRoom(file, text, codePage, &narrowed);
    return written >= 0 ? written : WriteIntoBufferSlow(file, text, codePage, narrowed);
}

// Writes the text in the format; the bytes written.
int64_t WriteText(FileRecord* file, const WCHAR* text, int32_t format) {
    if (text == nullptr || text[0] == 0) {
        return 0;
    }
    if (format == TEXT_UTF16) {
        return FileBufferWrite(file, text, StringLength(text) * 2);
    }
    UINT codePage = format == TEXT_UTF8 ? CP_UTF8 : CP_ACP;
    if (FileBufferWriting(file)) {
        return WriteIntoBuffer(file, text, codePage);
    }
    return WriteBlock(file, text, codePage, false);
}

int64_t WriteLine(FileRecord* file, const WCHAR* text, int32_t format) {
    static const WCHAR lineEnd[] = {CR, LF, 0};
    WriteText(file, text, format);
    if (format != TEXT_UTF16 && FileBufferWriting(file) && FileBufferRoomBytes(file) > 2) {
        // CR LF is 0D 0A in UTF-8 and in every 8-bit code page: stored as the conversion would
        // store it, while the line's text is still in the cache.
        uint8_t* room = FileBufferRoom(file);
        room[0] = CR;
        room[1] = LF;
        FileBufferCommit(file, 2);
        return 2;
    }
    return WriteText(file, lineEnd, format);
}

}  // namespace

int64_t FileWriteString(ObjectId id, const WCHAR* text) {
    FileRecord* file = FileLookup(id);
    return file == nullptr ? 0 : WriteText(file, text, file->textFormat);
}

int64_t FileWriteString(ObjectId id, const WCHAR* text, int32_t format) {
    FileRecord* file = FileLookup(id);
    return file == nullptr ? 0 : WriteText(file, text, format);
}

int64_t FileWriteLine(ObjectId id, const WCHAR* text) {
    FileRecord* file = FileLookup(id);
    return file == nullptr ? 0 : WriteLine(file, text, file->textFormat);
}

int64_t FileWriteLine(ObjectId id, const WCHAR* text, int32_t format) {
    FileRecord* file = FileLookup(id);
    return file == nullptr ? 0 : WriteLine(file, text, format);
}

}  // namespace rt
