// Path parts.
//
// Every part is a run of units of the input between a start and an end. A path may be wrapped in
// double quotes: an opening quote as the first unit is skipped, and a quote ends the file part
// and the extension. A pipe ends the directory scan only. The source may itself lie in the string
// builder (the result of an earlier call in the same expression), so the delivery re-finds it
// after reserving room, which may move the buffer.
#include <cstring>

#include "files.h"

namespace rt {

namespace {

bool IsSeparator(WCHAR unit) {
    return unit == u'/' || unit == u'\\';
}

const WCHAR* OrEmpty(const WCHAR* path) {
    return path != nullptr ? path : RT_TEXT("");
}

// The first unit of a path, past an opening quote.
const WCHAR* PathStart(const WCHAR* path) {
    return path + (path[0] == u'"' ? 1 : 0);
}

// The end of a file part or extension that starts at `start`: the terminating zero or a quote.
const WCHAR* RunEnd(const WCHAR* start) {
    while (*start != 0 && *start != u'"') {
        ++start;
    }
    return start;
}

WCHAR* Deliver(const WCHAR* start, const WCHAR* end, int32_t position) {
    int64_t units = end - start;
    int64_t located = StringBuilderLocate(start);
    WCHAR* destination = StringBuilderReserve(units, position);
    if (located != 0) {
        start = static_cast<const WCHAR*>(StringBuilderAddress(located));
    }
    std::memmove(destination, start, units * sizeof(WCHAR));
    destination[units] = 0;
    return destination;
}

}  // namespace

WCHAR* PathDirectoryPart(const WCHAR* path, int32_t position) {
    path = OrEmpty(path);
    const WCHAR* start = PathStart(path);
    const WCHAR* end = start;
    for (const WCHAR* unit = path; *unit != 0 && *unit != u'|'; ++unit) {
        if (IsSeparator(*unit)) {
            end = unit + 1;
        }
    }
    return Deliver(start, end, position);
}

WCHAR* PathFilePart(const WCHAR* path, int32_t flags, int32_t position) {
    path = OrEmpty(path);
    const WCHAR* start = PathStart(path);
    for (const WCHAR* unit = path; *unit != 0; ++unit) {
        if (IsSeparator(*unit)) {
            start = unit + 1;
        }
    }
    const WCHAR* end = RunEnd(start);
    if ((flags & PATH_NO_EXTENSION) && end > start) {
        // The first unit is never examined, so a leading dot (".profile") is not an extension.
        for (const WCHAR* unit = end - 1; unit > start; --unit) {
            if (*unit == u' ') {
                break;
            }
            if (*unit == u'.') {
                if (unit != end - 1) {
                    end = unit;  // a dot that ends the name stays
                }
                break;
            }
        }
    }
    return Deliver(start, end, position);
}

WCHAR* PathExtensionPart(const WCHAR* path, int32_t position) {
    path = OrEmpty(path);
    // The first unit is never examined, so a path starting with a dot has no extension.
    const WCHAR* stop = nullptr;
    for (size_t index = wcslen(path); index-- > 1;) {
        WCHAR unit = path[index];
        if (unit == u'.' || unit == u' ' || IsSeparator(unit)) {
            stop = path + index;
            break;
        }
    }
    if (stop == nullptr || *stop != u'.' || IsSeparator(stop[-1])) {
        return Deliver(path, path, position);
    }
    return Deliver(stop + 1, RunEnd(stop + 1), position);
}

int64_t IsValidFileName(const WCHAR* name) {
    if (name == nullptr || *name == 0) {
        return 0;
    }
    for (; *name != 0; ++name) {
        switch (*name) {
            case u'"':
            case u'*':
            case u'/':
            case u':':
            case u'<':
            case u'>':
            case u'?':
            case u'\\':
            case u'|':
                return 0;
            default:
                if (*name < 32) {
                    return 0;
                }
        }
    }
    return 1;
}

}  // namespace rt
