#include <gtest/gtest.h>

#include <memory>

#include "dialogdriver.h"
#include "runtime/gui/requesters/requesters.h"

namespace rt {
namespace {

using test::OtherThread;
using test::TestWindow;

// The calling thread's entry for `window`, or null.
ModalWindowEntry* EntryOf(HWND window, DWORD thread = GetCurrentThreadId()) {
    for (BlockChainNode* node = ModalWindowList; node != nullptr; node = node->next) {
        auto* entry = static_cast<ModalWindowEntry*>(BlockChainPayload(node));
        if (entry->threadId == thread && entry->window == window) {
            return entry;
        }
    }
    return nullptr;
}

int EntriesOfThread(DWORD thread) {
    int count = 0;
    for (BlockChainNode* node = ModalWindowList; node != nullptr; node = node->next) {
        count += static_cast<ModalWindowEntry*>(BlockChainPayload(node))->threadId == thread;
    }
    return count;
}

bool IsTopmost(HWND window) {
    return (GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
}

void BringToFront(HWND window) {
    SetForegroundWindow(window);
    ASSERT_EQ(GetForegroundWindow(), window);
}

TEST(RequesterModal, ForegroundWindowIsRecordedButStaysEnabled) {
    TestWindow main;
    BringToFront(main.hwnd());

    RequesterModal(1);
    ModalWindowEntry* entry = EntryOf(main.hwnd());
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->wasTopmost, 0);
    EXPECT_EQ(entry->disabledHere, 0);
    EXPECT_TRUE(IsWindowEnabled(main.hwnd()));

    RequesterModal(0);
    EXPECT_TRUE(IsWindowEnabled(main.hwnd()));
    EXPECT_EQ(EntriesOfThread(GetCurrentThreadId()), 0);
}

TEST(RequesterModal, OtherVisibleWindowsAreDisabledAndOnlyThoseAreEnabledAgain) {
    TestWindow main;
    TestWindow enabled;
    TestWindow disabled;
    TestWindow hidden(0, false);
    EnableWindow(disabled.hwnd(), FALSE);
    BringToFront(main.hwnd());

    RequesterModal(1);
    EXPECT_TRUE(IsWindowEnabled(main.hwnd()));
    EXPECT_FALSE(IsWindowEnabled(enabled.hwnd()));
    ASSERT_NE(EntryOf(enabled.hwnd()), nullptr);
    EXPECT_EQ(EntryOf(enabled.hwnd())->disabledHere, 1);
    ASSERT_NE(EntryOf(disabled.hwnd()), nullptr);
    EXPECT_EQ(EntryOf(disabled.hwnd())->disabledHere, 0);
    EXPECT_EQ(EntryOf(hidden.hwnd()), nullptr);
    EXPECT_TRUE(IsWindowEnabled(hidden.hwnd()));

    RequesterModal(0);
    EXPECT_TRUE(IsWindowEnabled(main.hwnd()));
    EXPECT_TRUE(IsWindowEnabled(enabled.hwnd()));
    EXPECT_FALSE(IsWindowEnabled(disabled.hwnd()));
    EXPECT_TRUE(IsWindowEnabled(hidden.hwnd()));
    EXPECT_EQ(EntriesOfThread(GetCurrentThreadId()), 0);
}

TEST(RequesterModal, TopmostWindowIsLoweredAndRaisedAgain) {
    TestWindow main;
    TestWindow topmost(WS_EX_TOPMOST);
    TestWindow normal;
    BringToFront(main.hwnd());
    ASSERT_TRUE(IsTopmost(topmost.hwnd()));

    RequesterModal(1);
    EXPECT_FALSE(IsTopmost(topmost.hwnd()));
    EXPECT_FALSE(IsWindowEnabled(topmost.hwnd()));
    ASSERT_NE(EntryOf(topmost.hwnd()), nullptr);
    EXPECT_EQ(EntryOf(topmost.hwnd())->wasTopmost, 1);

    RequesterModal(0);
    EXPECT_TRUE(IsTopmost(topmost.hwnd()));
    EXPECT_TRUE(IsWindowEnabled(topmost.hwnd()));
    EXPECT_FALSE(IsTopmost(normal.hwnd()));
}

TEST(RequesterModal, WindowsAndEntriesOfOtherThreadsAreLeftAlone) {
    OtherThread other;
    DWORD otherId = 0;
    std::unique_ptr<TestWindow> otherWindows[2];
    other.Run([&] {
        otherId = GetCurrentThreadId();
        otherWindows[0] = std::make_unique<TestWindow>();
        otherWindows[1] = std::make_unique<TestWindow>(WS_EX_TOPMOST);
    });
    HWND otherWindow = otherWindows[0]->hwnd();
    HWND otherTopmost = otherWindows[1]->hwnd();
    TestWindow main;
    TestWindow second;
    BringToFront(main.hwnd());

    // The other thread's dialog is up while this thread shows and closes one of its own.
    other.Run([] { RequesterModal(1); });
    EXPECT_FALSE(IsWindowEnabled(otherWindow));
    EXPECT_FALSE(IsTopmost(otherTopmost));
    RequesterModal(1);
    EXPECT_EQ(EntryOf(otherWindow), nullptr);
    EXPECT_FALSE(IsWindowEnabled(second.hwnd()));
    RequesterModal(0);
    EXPECT_TRUE(IsWindowEnabled(second.hwnd()));
    EXPECT_EQ(EntriesOfThread(otherId), 2);
    EXPECT_FALSE(IsWindowEnabled(otherWindow));
    EXPECT_FALSE(IsTopmost(otherTopmost));

    other.Run([] { RequesterModal(0); });
    EXPECT_EQ(EntriesOfThread(otherId), 0);
    EXPECT_TRUE(IsWindowEnabled(otherWindow));
    EXPECT_TRUE(IsTopmost(otherTopmost));

    // Windows of another thread are not touched while this thread's dialog is up either.
    RequesterModal(1);
    EXPECT_TRUE(IsWindowEnabled(otherWindow));
    EXPECT_TRUE(IsTopmost(otherTopmost));
    RequesterModal(0);
    other.Run([&] {
        otherWindows[0].reset();
        otherWindows[1].reset();
    });
}

}  // namespace
}  // namespace rt
