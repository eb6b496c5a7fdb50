// Fuzzes the line reader: a file of arbitrary bytes read to its end with FileReadLine in one of the
// three formats (or the file's own), with or without READ_IGNORE_LINE_ENDS, plain or limited,
// buffered or not. Every line, and where the end of the file is seen, is compared with a model of
// the reading rules written here character by character.
//
// Input: one byte of options (bits 0-1 the format: ANSI, UTF-8, UTF-16, the file's own; bit 2
// line ends ignored; bit 3 limited; bit 4 unbuffered), one byte for the limit (1 to 256), then the
// file's content.
#include <vector>

#include "harness.h"
#include "runtime/files/files.h"

namespace {

constexpr uint8_t LF = 10;
constexpr uint8_t CR = 13;

// The reading rules over the file's bytes: where the next read starts and what it stores.
class LineModel {
  public:
    LineModel(const std::string& bytes, int32_t format, bool ignoreLineEnds, int64_t limit)
        : bytes_(bytes), format_(format), ignoreLineEnds_(ignoreLineEnds), limit_(limit) {}

    bool AtEnd() const { return at_ >= bytes_.size(); }

    // The stored bytes of the next line.
    std::string NextLine() {
        std::string line;
        for (int64_t used = 0; limit_ < 0 || used < limit_; ++used) {
            std::string character;
            bool single;
            uint32_t unit;
            if (!ReadCharacter(&character, &single, &unit)) {
                break;
            }
            if (single && unit == 0) {
                break;
            }
            if (single && !ignoreLineEnds_ && (unit == LF || unit == CR)) {
                if (unit == CR) {
                    SkipLineFeed();
                }
                break;
            }
            line += character;
        }
        return line;
    }

  private:
    size_t Left() const { return bytes_.size() - at_; }
    uint8_t At(size_t i) const { return static_cast<uint8_t>(bytes_[i]); }

    // False at the end of the data, which then counts as consumed, a partial character included.
    bool ReadCharacter(std::string* character, bool* single, uint32_t* unit) {
        *single = true;
        if (format_ == rt::TEXT_UTF16) {
            if (Left() < 2) {
                at_ = bytes_.size();
                return false;
            }
            *unit = At(at_) | At(at_ + 1) << 8;
            *character = bytes_.substr(at_, 2);
            at_ += 2;
            return true;
        }
        if (Left() == 0) {
            return false;
        }
        uint8_t lead = At(at_++);
        *unit = lead;
        *character = std::string(1, static_cast<char>(lead));
        if (format_ != rt::TEXT_UTF8 || lead < 0x80) {
            return true;
        }
        size_t length = lead >= 0xC0 && lead < 0xE0   ? 2
                        : lead >= 0xE0 && lead < 0xF0 ? 3
                        : lead >= 0xF0 && lead < 0xF8 ? 4
                                                      : 1;
        if (length == 1) {
            *unit = '?';
            *character = "?";
            return true;
        }
        if (Left() < length - 1) {
            at_ = bytes_.size();
            return false;
        }
        *single = false;
        *character += bytes_.substr(at_, length - 1);
        at_ += length - 1;
        return true;
    }

    // After a CR: an LF unit right behind it is part of the line end.
    void SkipLineFeed() {
        size_t unit = format_ == rt::TEXT_UTF16 ? 2 : 1;
        if (Left() < unit) {
            at_ = bytes_.size();
            return;
        }
        if (At(at_) == LF && (unit == 1 || At(at_ + 1) == 0)) {
            at_ += unit;
        }
    }

    const std::string& bytes_;
    int32_t format_;
    bool ignoreLineEnds_;
    int64_t limit_;
    size_t at_ = 0;
};

// The stored bytes as the reader delivers them: UTF-16 units as they are, 8-bit text through the
// system's conversion of the zero-terminated line.
fuzz::WideString Delivered(const std::string& stored, int32_t format) {
    if (format == rt::TEXT_UTF16) {
        fuzz::WideString units;
        for (size_t i = 0; i + 1 < stored.size(); i += 2) {
            units += static_cast<WCHAR>(static_cast<uint8_t>(stored[i]) |
                                        static_cast<uint8_t>(stored[i + 1]) << 8);
        }
        return units;
    }
    std::string text = stored.substr(0, stored.find('\0'));
    UINT codePage = format == rt::TEXT_UTF8 ? CP_UTF8 : CP_ACP;
    int length = static_cast<int>(text.size());
    int units = MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0);
    fuzz::WideString wide(static_cast<size_t>(units), 0);
    MultiByteToWideChar(codePage, 0, text.data(), length, wide.data(), units);
    return wide;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::RuntimeStart();
    fuzz::Input input(data, size);
    uint8_t options = input.Byte();
    int64_t limit = (options & 8) ? input.Byte() + 1 : -1;
    std::string bytes = input.Rest();
    const int32_t formats[] = {rt::TEXT_ANSI, rt::TEXT_UTF8, rt::TEXT_UTF16, 0};
    int32_t flags = formats[options & 3] | ((options & 4) ? rt::READ_IGNORE_LINE_ENDS : 0);
    int32_t format = (options & 3) == 3 ? rt::TEXT_UTF8 : formats[options & 3];  // the file's own

    static const std::string path = fuzz::ScratchPath("lines");
    fuzz::WriteWholeFile(path, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    int32_t openFlags = (options & 16) ? rt::OPEN_NO_BUFFER : 0;
    fuzz::Check(rt::FileOpenEx(1, fuzz::WidePath(path).c_str(), rt::OPEN_MODE_READ, openFlags) != 0,
                "the file could not be opened");

    LineModel model(bytes, format, (options & 4) != 0, limit);
    for (;;) {
        bool atEnd = rt::FileAtEnd(1) != 0;
        fuzz::Check(atEnd == model.AtEnd(), "the end of the file is seen at another place");
        if (atEnd) {
            break;
        }
        int32_t mark = rt::StringBuilderMark();
        fuzz::Check(rt::FileReadLine(1, flags, limit, mark) != nullptr, "a line was not delivered");
        fuzz::Check(fuzz::TakeResult(mark) == Delivered(model.NextLine(), format),
                    "a line differs from the reading rules");
        fuzz::Check(rt::FileLineCutShort(1) == 0, "a line was cut short with memory to spare");
    }
    fuzz::Check(rt::FileCloseChecked(1) == 0, "reading the file failed");
    return 0;
}
