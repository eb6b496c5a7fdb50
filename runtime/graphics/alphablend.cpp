// Alpha blending and themes: the blending routine of "msimg32.dll", kept loaded from the library's
// start to its end, and whether the controls are drawn with visual styles.
//
// Written by the start routine on the main thread and only read afterwards; the end routine runs
// after every window is gone, so nothing can still be blending.
#include "graphics.h"

namespace rt {

AlphaBlendRoutine AlphaBlendFunction = nullptr;
bool VisualStylesInUse = false;

namespace {

HMODULE blendLibrary = nullptr;

// The function `name` of `module` as the type it has, or null. GetProcAddress answers with a
// generic function type; the detour through an object pointer says the conversion is meant.
template <typename Function>
Function LibraryFunction(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// Visual styles need both: the application is themed (a theme is active and the program takes
// part in it) and the common controls that draw it are version 6.0 or later, which a program gets
// only through its manifest. The two libraries are loaded for the question only.
bool AskVisualStyles() {
    bool themed = false;
    if (HMODULE theme = LoadLibraryW(RT_TEXT("uxtheme.dll")); theme != nullptr) {
        auto isAppThemed = LibraryFunction<BOOL(WINAPI*)()>(theme, "IsAppThemed");
        themed = isAppThemed != nullptr && isAppThemed();
        FreeLibrary(theme);
    }
    if (!themed) {
        return false;
    }
    bool version6 = false;
    if (HMODULE controls = LoadLibraryW(RT_TEXT("COMCTL32.DLL")); controls != nullptr) {
        auto getVersion = LibraryFunction<DLLGETVERSIONPROC>(controls, "DllGetVersion");
        DLLVERSIONINFO version = {};
        version.cbSize = sizeof(version);
        version6 =
            getVersion != nullptr && SUCCEEDED(getVersion(&version)) && version.dwMajorVersion >= 6;
        FreeLibrary(controls);
    }
    return version6;
}

}  // namespace

void AlphaBlendLibraryStart() {
    blendLibrary = LoadLibraryW(RT_TEXT("msimg32.dll"));
    AlphaBlendFunction = blendLibrary != nullptr
                             ? LibraryFunction<AlphaBlendRoutine>(blendLibrary, "AlphaBlend")
                             : nullptr;
    VisualStylesInUse = AskVisualStyles();
}

void AlphaBlendLibraryEnd() {
    // The routine lives in the library: it is forgotten before the library goes.
    AlphaBlendFunction = nullptr;
    if (blendLibrary != nullptr) {
        FreeLibrary(blendLibrary);
        blendLibrary = nullptr;
    }
}

}  // namespace rt
