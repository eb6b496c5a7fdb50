// Wide formatting: the printf subset the runtime uses, with the Windows C library's size prefixes.
#include "../platform.h"

namespace {

struct Field {
    bool left = false;
    bool plus = false;
    bool space = false;
    bool zero = false;
    int width = 0;
    int precision = -1;
};

class Writer {
  public:
    Writer(WCHAR* buffer, size_t count) : buffer_(buffer), count_(count) {}
    void Put(WCHAR unit) {
        if (written_ < count_) {
            buffer_[written_] = unit;
        } else {
            cut_ = true;
        }
        written_ += 1;
    }
    void Repeat(WCHAR unit, int times) {
        for (int i = 0; i < times; ++i) {
            Put(unit);
        }
    }
    int Finish() {
        if (cut_) {
            return -1;
        }
        if (written_ < count_) {
            buffer_[written_] = 0;
        }
        return static_cast<int>(written_);
    }

  private:
    WCHAR* buffer_;
    size_t count_;
    size_t written_ = 0;
    bool cut_ = false;
};

// Writes `body` (of `length` units) after `sign`, padded to the field width.
void PutField(Writer& out, const Field& field, const WCHAR* sign, const WCHAR* body, int length,
              bool numeric) {
    int signLength = 0;
    while (sign[signLength] != 0) {
        ++signLength;
    }
    int zeros = 0;
    if (numeric && field.precision > length) {
        zeros = field.precision - length;
    }
    int padding = field.width - signLength - zeros - length;
    if (padding < 0) {
        padding = 0;
    }
    bool zeroPad = numeric && field.zero && !field.left && field.precision < 0;
    if (!field.left && !zeroPad) {
        out.Repeat(u' ', padding);
    }
    for (int i = 0; i < signLength; ++i) {
        out.Put(sign[i]);
    }
    if (zeroPad) {
        out.Repeat(u'0', padding);
    }
    out.Repeat(u'0', zeros);
    for (int i = 0; i < length; ++i) {
        out.Put(body[i]);
    }
    if (field.left) {
        out.Repeat(u' ', padding);
    }
}

void PutInteger(Writer& out, const Field& field, uint64_t magnitude, bool negative, unsigned base,
                bool upper) {
    WCHAR digits[24];
    int length = 0;
    const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    if (magnitude == 0 && field.precision != 0) {
        digits[length++] = u'0';
    }
    WCHAR reversed[24];
    int count = 0;
    while (magnitude != 0) {
        reversed[count++] = static_cast<WCHAR>(set[magnitude % base]);
        magnitude /= base;
    }
    while (count > 0) {
        digits[length++] = reversed[--count];
    }
    const WCHAR* sign = negative ? u"-" : field.plus ? u"+" : field.space ? u" " : u"";
    PutField(out, field, sign, digits, length, true);
}

int ReadNumber(const WCHAR*& format) {
    int value = 0;
    while (*format >= u'0' && *format <= u'9') {
        value = value * 10 + (*format++ - u'0');
    }
    return value;
}

}  // namespace

int _vsnwprintf(WCHAR* buffer, size_t count, const WCHAR* format, va_list arguments) {
    Writer out(buffer, count);
    va_list args;
    va_copy(args, arguments);
    while (*format != 0) {
        if (*format != u'%') {
            out.Put(*format++);
            continue;
        }
        ++format;
        Field field;
        for (;; ++format) {
            if (*format == u'-') {
                field.left = true;
            } else if (*format == u'+') {
                field.plus = true;
            } else if (*format == u' ') {
                field.space = true;
            } else if (*format == u'0') {
                field.zero = true;
            } else {
                break;
            }
        }
        if (*format == u'*') {
            field.width = va_arg(args, int);
            if (field.width < 0) {
                field.left = true;
                field.width = -field.width;
            }
            ++format;
        } else {
            field.width = ReadNumber(format);
        }
        if (*format == u'.') {
            ++format;
            if (*format == u'*') {
                field.precision = va_arg(args, int);
                ++format;
            } else {
                field.precision = ReadNumber(format);
            }
        }
        int bits = 32;
        if (format[0] == u'I' && format[1] == u'6' && format[2] == u'4') {
            bits = 64;
            format += 3;
        } else if (format[0] == u'I' && format[1] == u'3' && format[2] == u'2') {
            format += 3;
        } else if (format[0] == u'I' || (format[0] == u'l' && format[1] == u'l')) {
            bits = 64;
            format += format[0] == u'I' ? 1 : 2;
        } else if (format[0] == u'l' || format[0] == u'h') {
            format += 1;  // long is 32 bits on Windows; short values arrive promoted to int
        }
        WCHAR conversion = *format;
        if (conversion == 0) {
            break;
        }
        ++format;
        switch (conversion) {
            case u'd':
            case u'i': {
                int64_t value = bits == 64 ? va_arg(args, int64_t) : va_arg(args, int32_t);
                uint64_t magnitude =
                    value < 0 ? ~static_cast<uint64_t>(value) + 1 : static_cast<uint64_t>(value);
                PutInteger(out, field, magnitude, value < 0, 10, false);
                break;
            }
            case u'u':
            case u'x':
            case u'X': {
                uint64_t value = bits == 64 ? va_arg(args, uint64_t) : va_arg(args, uint32_t);
                PutInteger(out, field, value, false, conversion == u'u' ? 10 : 16,
                           conversion == u'X');
                break;
            }
            case u'p': {
                Field pointer;
                pointer.precision = 16;
                PutInteger(out, pointer, reinterpret_cast<uintptr_t>(va_arg(args, void*)), false,
                           16, true);
                break;
            }
            case u'c': {
                WCHAR unit = static_cast<WCHAR>(va_arg(args, int));
                PutField(out, field, u"", &unit, 1, false);
                break;
            }
            case u's': {
                const WCHAR* text = va_arg(args, const WCHAR*);
                if (text == nullptr) {
                    text = u"(null)";
                }
                int length = 0;
                while (text[length] != 0 && (field.precision < 0 || length < field.precision)) {
                    ++length;
                }
                PutField(out, field, u"", text, length, false);
                break;
            }
            default:
                out.Put(conversion);  // %% and anything unknown stand for themselves
                break;
        }
    }
    va_end(args);
    return out.Finish();
}
