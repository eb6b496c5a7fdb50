#include <gtest/gtest.h>

#include <string>

#include "../testwindow.h"
#include "runtime/gui/gadgets/gadgets.h"

namespace rt {
namespace {

using test::TestWindow;

GadgetRecord* Record(ObjectId id) {
    return static_cast<GadgetRecord*>(RegistryLookup(GadgetRegistry, id));
}

TEST(ButtonCreate, MakesARegisteredChildButtonExactlyWhereAsked) {
    TestWindow window;
    GadgetListUse(window.Handle());
    const WCHAR* texts[] = {L"Encrypt File", nullptr};
    for (ObjectId number : {ObjectId{2}, DYNAMIC_ID}) {
        for (const WCHAR* text : texts) {
            SCOPED_TRACE(testing::Message() << number << (text != nullptr ? " text" : " none"));
            int64_t result = ButtonCreate(number, 15, 15, 100, 50, text);
            ObjectId id = number == DYNAMIC_ID ? result : number;
            ASSERT_NE(Record(id), nullptr);
            HWND control = Record(id)->window;
            EXPECT_EQ(result, number == DYNAMIC_ID ? reinterpret_cast<int64_t>(Record(id))
                                                   : reinterpret_cast<int64_t>(control));
            WCHAR found[16] = {};
            GetClassNameW(control, found, 16);
            EXPECT_STREQ(found, L"Button");
            RECT frame;
            GetWindowRect(control, &frame);
            MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&frame), 2);
            RECT expected = {15, 15, 115, 65};
            EXPECT_TRUE(EqualRect(&frame, &expected));
            EXPECT_EQ(GetParent(control), window.Handle());
            EXPECT_EQ(GetWindowLongPtrW(control, GWL_STYLE), 0x50030000);
            EXPECT_EQ(GetWindowLongPtrW(control, GWLP_ID), id);
            EXPECT_EQ(reinterpret_cast<ObjectId>(GetPropW(control, L"RT_ID")), id);
            EXPECT_EQ(reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0)),
                      GetStockObject(DEFAULT_GUI_FONT));
            GetWindowTextW(control, found, 16);
            EXPECT_STREQ(found, text != nullptr ? text : L"");
        }
    }
    // A number below DYNAMIC_ID names no object: the control made for it must not stay behind.
    HWND last = GetWindow(GetWindow(window.Handle(), GW_CHILD), GW_HWNDLAST);
    EXPECT_EQ(ButtonCreate(-5, 0, 0, 50, 20, L"Lost"), 0);
    EXPECT_EQ(GetWindow(last, GW_HWNDNEXT), nullptr);
}

TEST(ButtonSetState, AnyNonZeroStateChecksAndOnlyBitZeroReadsAsChecked) {
    TestWindow window;
    GadgetListUse(window.Handle());
    GadgetRecord* box = Record(ButtonCreateEx(DYNAMIC_ID, 0, 0, 80, 20, L"Box", BS_AUTO3STATE));
    struct Case {
        int64_t state;  // through the kind; -2: BST_INDETERMINATE set on the control itself
        LRESULT check;
        int64_t read;
    } cases[] = {{5, BST_CHECKED, 1},
                 {0, BST_UNCHECKED, 0},
                 {-1, BST_CHECKED, 1},
                 {-2, BST_INDETERMINATE, 0}};
    for (const Case& c : cases) {
        if (c.state == -2) {
            SendMessageW(box->window, BM_SETCHECK, BST_INDETERMINATE, 0);
        } else {
            ButtonKind.setState(box, c.state);
        }
        EXPECT_EQ(SendMessageW(box->window, BM_GETCHECK, 0, 0), c.check) << c.state;
        EXPECT_EQ(ButtonKind.getState(box), c.read) << c.state;
    }
}

TEST(ButtonRequiredSize, GrowsWithTheCaptionAndIsNeverBelow24) {
    TestWindow window;
    GadgetListUse(window.Handle());
    int32_t lastWidth = 0;
    for (const WCHAR* caption : {L"", L"Go", L"Encrypt File"}) {
        int32_t width = 0;
        int32_t height = 0;
        GadgetRecord* record = Record(ButtonCreate(DYNAMIC_ID, 0, 0, 9, 9, caption));
        ButtonKind.requiredSize(record, &width, &height);
        EXPECT_GT(width, lastWidth);
        EXPECT_GE(height, 24);
        lastWidth = width;
    }
}

}  // namespace
}  // namespace rt
