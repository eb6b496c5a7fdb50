// Fuzzes the path parts and the file-name check: an arbitrary UTF-16 string, given as it is or
// from inside the string builder, is split by PathDirectoryPart, PathFilePart (with and without
// the extension) and PathExtensionPart and checked by IsValidFileName; each result is compared
// with the rules written out here.
//
// Input: one byte of options (bit 0: the path lies in the builder), then the path's units, two
// bytes each, little-endian; the first zero unit ends it.
#include "harness.h"
#include "runtime/files/files.h"

namespace {

using fuzz::WideString;

bool Separator(WCHAR unit) {
    return unit == '/' || unit == '\\';
}

size_t FirstUnit(const WideString& path) {
    return !path.empty() && path[0] == '"' ? 1 : 0;
}

WideString DirectoryPart(const WideString& path) {
    size_t start = FirstUnit(path);
    size_t end = start;
    for (size_t i = 0; i < path.size() && path[i] != '|'; ++i) {
        if (Separator(path[i])) {
            end = i + 1;
        }
    }
    return path.substr(start, end - start);
}

WideString FilePart(const WideString& path, bool withoutExtension) {
    size_t start = FirstUnit(path);
    for (size_t i = 0; i < path.size(); ++i) {
        if (Separator(path[i])) {
            start = i + 1;
        }
    }
    size_t end = start;
    while (end < path.size() && path[end] != '"') {
        ++end;
    }
    if (withoutExtension && end > start) {
        for (size_t i = end - 1; i > start; --i) {
            if (path[i] == ' ') {
                break;
            }
            if (path[i] == '.') {
                if (i != end - 1) {
                    end = i;
                }
                break;
            }
        }
    }
    return path.substr(start, end - start);
}

WideString ExtensionPart(const WideString& path) {
    size_t i = path.size();
    while (i > 1) {
        --i;
        WCHAR unit = path[i];
        if (unit == '.' || unit == ' ' || Separator(unit)) {
            if (unit != '.' || Separator(path[i - 1])) {
                return WideString();
            }
            size_t end = i + 1;
            while (end < path.size() && path[end] != '"') {
                ++end;
            }
            return path.substr(i + 1, end - i - 1);
        }
    }
    return WideString();
}

int64_t ValidFileName(const WideString& name) {
    if (name.empty()) {
        return 0;
    }
    for (WCHAR unit : name) {
        if (unit < 32 || WideString(u"\"*/:<>?\\|").find(unit) != WideString::npos) {
            return 0;
        }
    }
    return 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::RuntimeStart();
    fuzz::Input input(data, size);
    bool inBuilder = (input.Byte() & 1) != 0;
    WideString path;
    while (!input.Empty()) {
        auto unit = static_cast<WCHAR>(input.Byte() | input.Byte() << 8);
        if (unit == 0) {
            break;
        }
        path += unit;
    }

    int32_t base = rt::StringBuilderMark();
    if (inBuilder) {
        // The source lies in the builder, before the results; reserving a result may move it, so
        // its address is taken anew for every call.
        rt::StringAppend(path.c_str());
        rt::StringTerminate();
    }
    auto source = [&] { return inBuilder ? rt::StringBuilderBase() + base / 2 : path.c_str(); };
    int32_t mark = rt::StringBuilderMark();
    auto result = [&](WCHAR* (*part)(const WCHAR*, int32_t)) {
        part(source(), mark);
        return fuzz::TakeResult(mark);
    };
    auto filePart = [&](int32_t flags) {
        rt::PathFilePart(source(), flags, mark);
        return fuzz::TakeResult(mark);
    };
    fuzz::Check(result(rt::PathDirectoryPart) == DirectoryPart(path), "the directory part differs");
    fuzz::Check(filePart(0) == FilePart(path, false), "the file part differs");
    fuzz::Check(filePart(rt::PATH_NO_EXTENSION) == FilePart(path, true),
                "the file part without extension differs");
    fuzz::Check(result(rt::PathExtensionPart) == ExtensionPart(path), "the extension differs");
    fuzz::Check(rt::IsValidFileName(source()) == ValidFileName(path),
                "the file-name check differs");
    rt::StringBuilderRewind(base);
    return 0;
}
