#include <gtest/gtest.h>

#include <string>

#include "../dialogdriver.h"
#include "runtime/gui/gadgets/gadgets.h"

namespace rt {
namespace {

using test::TestWindow;

GadgetRecord* Record(ObjectId id) {
    return static_cast<GadgetRecord*>(RegistryLookup(GadgetRegistry, id));
}

std::wstring TextOf(HWND window) {
    WCHAR text[64] = {};
    GetWindowTextW(window, text, 64);
    return text;
}

TEST(ButtonCreate, MakesARegisteredChildButtonExactlyWhereAsked) {
    TestWindow window;
    GadgetListUse(window.hwnd());
    struct Case {
        ObjectId number;
        const WCHAR* text;
        const WCHAR* caption;
    } cases[] = {{2, L"Encrypt File", L"Encrypt File"},
                 {DYNAMIC_ID, L"Decrypt File", L"Decrypt File"},
                 {4, nullptr, L""}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.number);
        int64_t result = ButtonCreate(c.number, 15, 15, 100, 50, c.text);
        ObjectId id = c.number == DYNAMIC_ID ? result : c.number;
        GadgetRecord* record = Record(id);
        ASSERT_NE(record, nullptr);
        HWND control = record->window;
        EXPECT_EQ(result, c.number == DYNAMIC_ID ? reinterpret_cast<int64_t>(record)
                                                 : reinterpret_cast<int64_t>(control));
        WCHAR className[16] = {};
        GetClassNameW(control, className, 16);
        EXPECT_STREQ(className, L"Button");
        EXPECT_EQ(GetParent(control), window.hwnd());
        RECT frame;
        GetWindowRect(control, &frame);
        MapWindowPoints(nullptr, window.hwnd(), reinterpret_cast<POINT*>(&frame), 2);
        EXPECT_EQ(frame.left, 15);
        EXPECT_EQ(frame.top, 15);
        EXPECT_EQ(frame.right - frame.left, 100);
        EXPECT_EQ(frame.bottom - frame.top, 50);
        EXPECT_EQ(GetWindowLongPtrW(control, GWL_STYLE), 0x50030000);
        EXPECT_EQ(GetWindowLongPtrW(control, GWLP_ID), id);
        EXPECT_EQ(reinterpret_cast<ObjectId>(GetPropW(control, L"RT_ID")), id);
        EXPECT_EQ(reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0)),
                  GetStockObject(DEFAULT_GUI_FONT));
        EXPECT_EQ(TextOf(control), c.caption);
        EXPECT_EQ(GetWindowLongPtrW(control, GWLP_WNDPROC),
                  reinterpret_cast<LONG_PTR>(GadgetWindowProc));
        EXPECT_EQ(record->kind, &ButtonKind);
    }
    EXPECT_EQ(ButtonKind.kindCode, GADGET_KIND_BUTTON);
    EXPECT_EQ(ButtonKind.size, static_cast<int32_t>(sizeof(GadgetKind)));
    EXPECT_EQ(ButtonKind.notify, nullptr);
    EXPECT_EQ(ButtonKind.destroy, nullptr);
    EXPECT_EQ(ButtonKind.requiredSize, ButtonRequiredSize);
}

TEST(ButtonCreate, FailureMakesNoControlAndKeepsTheNumbersGadget) {
    TestWindow window;
    GadgetListUse(window.hwnd());
    auto kept = reinterpret_cast<HWND>(ButtonCreate(5, 0, 0, 50, 20, L"Kept"));
    // A number below DYNAMIC_ID names no object: the control made for it must not stay behind.
    EXPECT_EQ(ButtonCreate(-5, 0, 0, 50, 20, L"Lost"), 0);
    EXPECT_EQ(GetWindow(kept, GW_HWNDNEXT), nullptr);
    EXPECT_EQ(GetWindow(kept, GW_HWNDPREV), nullptr);
    {
        TestWindow current;
        GadgetListUse(current.hwnd());
    }
    int64_t dynamicCount = GadgetRegistry->dynamicCount;
    EXPECT_EQ(ButtonCreate(5, 0, 0, 50, 20, L"None"), 0);
    EXPECT_EQ(ButtonCreate(DYNAMIC_ID, 0, 0, 50, 20, L"None"), 0);
    EXPECT_EQ(GadgetRegistry->dynamicCount, dynamicCount);
    ASSERT_NE(Record(5), nullptr);
    EXPECT_EQ(Record(5)->window, kept);
    EXPECT_TRUE(IsWindow(kept));
}

TEST(ButtonSetState, AnyNonZeroStateChecksAndOnlyBitZeroReadsAsChecked) {
    TestWindow window;
    GadgetListUse(window.hwnd());
    GadgetRecord* record =
        Record(ButtonCreateEx(DYNAMIC_ID, 0, 0, 80, 20, L"Check", BS_AUTO3STATE));
    ASSERT_NE(record, nullptr);
    struct Case {
        bool throughKind;  // false: the check is set on the control directly
        int64_t state;
        LRESULT check;
        int64_t readBack;
    } cases[] = {{true, 5, BST_CHECKED, 1},   {true, 0, BST_UNCHECKED, 0},
                 {true, -1, BST_CHECKED, 1},  {false, BST_INDETERMINATE, BST_INDETERMINATE, 0},
                 {true, 0, BST_UNCHECKED, 0}, {false, BST_CHECKED, BST_CHECKED, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        if (c.throughKind) {
            ButtonKind.setState(record, c.state);
        } else {
            SendMessageW(record->window, BM_SETCHECK, c.state, 0);
        }
        EXPECT_EQ(SendMessageW(record->window, BM_GETCHECK, 0, 0), c.check);
        EXPECT_EQ(ButtonKind.getState(record), c.readBack);
    }
}

TEST(ButtonRequiredSize, FitsTheCaptionInTheControlsOwnFontAndIsNeverBelow24) {
    TestWindow window;
    GadgetListUse(window.hwnd());
    const WCHAR* captions[] = {L"", L"Go", L"Encrypt File", L"Encrypt File or Decrypt File"};
    int32_t lastWidth = -1;
    int32_t captionWidth = 0;  // "Encrypt File" in the default font
    for (const WCHAR* caption : captions) {
        SCOPED_TRACE(caption);
        GadgetRecord* record = Record(ButtonCreate(DYNAMIC_ID, 0, 0, 10, 10, caption));
        int32_t width = -1;
        int32_t height = -1;
        ButtonRequiredSize(record, &width, &height);
        EXPECT_GT(width, lastWidth);
        EXPECT_GE(height, 24);
        lastWidth = width;
        captionWidth = caption == captions[2] ? width : captionWidth;
    }
    // The control's own font counts, not the thread's: a tall font makes a tall button.
    GadgetRecord* record = Record(ButtonCreate(DYNAMIC_ID, 0, 0, 10, 10, L"Encrypt File"));
    HFONT tall =
        CreateFontW(-60, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, L"Tahoma");
    SendMessageW(record->window, WM_SETFONT, reinterpret_cast<WPARAM>(tall), FALSE);
    int32_t width = 0;
    int32_t height = 0;
    ButtonRequiredSize(record, &width, &height);
    EXPECT_GE(height, 60 + 2 * GetSystemMetrics(SM_CYEDGE));
    EXPECT_GT(width, captionWidth);
    DestroyWindow(record->window);
    DeleteObject(tall);
}

}  // namespace
}  // namespace rt
