#include <algorithm>

#include "windowtest.h"

namespace rt::test {
namespace {

struct KeyStep {
    const char* name;
    int64_t focusFirst;  // gadget to focus before the keys; -1: the window itself, 0: leave it
    std::vector<WORD> keys;
    int64_t focused;  // the gadget that has the focus afterwards
};

// Gadgets 1 and 5 are tab stops; 2 is disabled, 3 hidden and 4 no tab stop.
TEST(FocusNavigate, TabAndShiftTabCycleThroughTheTabStops) {
    auto window = TestWindow::Runtime(0, WINDOW_DEFAULT_FLAGS | WINDOW_SCREEN_CENTRED);
    HWND buttons[6] = {};
    for (int number = 1; number <= 5; ++number) {
        buttons[number] =
            reinterpret_cast<HWND>(ButtonCreate(number, 10, 10 + 30 * number, 80, 25, L"Button"));
        ASSERT_NE(buttons[number], nullptr);
    }
    EnableWindow(buttons[2], FALSE);
    ShowWindow(buttons[3], SW_HIDE);
    SetWindowLongPtrW(buttons[4], GWL_STYLE,
                      GetWindowLongPtrW(buttons[4], GWL_STYLE) & ~WS_TABSTOP);
    SetForegroundWindow(window.Handle());
    const KeyStep steps[] = {
        {"first Tab", -1, {VK_TAB}, 1},
        {"next Tab", 0, {VK_TAB}, 5},
        {"Tab wraps", 0, {VK_TAB}, 1},
        {"Shift+Tab wraps", 0, {VK_SHIFT, VK_TAB}, 5},
        {"Shift+Tab", 0, {VK_SHIFT, VK_TAB}, 1},
        {"Ctrl+Tab is left to the control", 0, {VK_CONTROL, VK_TAB}, 1},
        {"Tab from a control that is no tab stop", 4, {VK_TAB}, 5},
        {"first Shift+Tab", -1, {VK_SHIFT, VK_TAB}, 5},
    };
    for (const KeyStep& step : steps) {
        WaitResults();
        ExpectEvents("before", {});
        if (step.focusFirst != 0) {
            SetFocus(step.focusFirst < 0 ? window.Handle() : buttons[step.focusFirst]);
        }
        PressKeys(step.keys);
        std::vector<int64_t> results = WaitResults();
        EXPECT_NE(std::find(results.begin(), results.end(), WM_KEYDOWN), results.end())
            << step.name;
        for (int64_t result : results) {
            EXPECT_FALSE(result >= EVENT_GADGET && result <= EVENT_WINDOW_SIZED)
                << step.name << ": event " << result;
        }
        EXPECT_EQ(GetFocus(), buttons[step.focused]) << step.name;
    }
    // The translated keys showed the focus rectangle.
    EXPECT_EQ(SendMessageW(window.Handle(), WM_QUERYUISTATE, 0, 0) & UISF_HIDEFOCUS, 0);
}

}  // namespace
}  // namespace rt::test
