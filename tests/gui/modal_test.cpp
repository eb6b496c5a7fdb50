#include <gtest/gtest.h>

#include <memory>

#include "dialogdriver.h"
#include "runtime/gui/requesters/requesters.h"
#include "testwindow.h"

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
    BringToFront(main.Handle());

    RequesterModal(1);
    ModalWindowEntry* entry = EntryOf(main.Handle());
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->wasTopmost, 0);
    EXPECT_EQ(entry->disabledHere, 0);
    EXPECT_TRUE(IsWindowEnabled(main.Handle()));

    RequesterModal(0);
    EXPECT_TRUE(IsWindowEnabled(main.Handle()));
    EXPECT_EQ(EntriesOfThread(GetCurrentThreadId()), 0);
}

TEST(RequesterModal, OtherVisibleWindowsAreDisabledAndOnlyThoseAreEnabledAgain) {
    TestWindow main;
    TestWindow enabled;
    TestWindow disabled;
    TestWindow hidden(0, false);
    EnableWindow(disabled.Handle(), FALSE);
    BringToFront(main.Handle());

    RequesterModal(1);
    EXPECT_TRUE(IsWindowEnabled(main.Handle()));
    EXPECT_FALSE(IsWindowEnabled(enabled.Handle()));
    ASSERT_NE(EntryOf(enabled.Handle()), nullptr);
    EXPECT_EQ(EntryOf(enabled.Handle())->disabledHere, 1);
    ASSERT_NE(EntryOf(disabled.Handle()), nullptr);
    EXPECT_EQ(EntryOf(disabled.Handle())->disabledHere, 0);
    EXPECT_EQ(EntryOf(hidden.Handle()), nullptr);
    EXPECT_TRUE(IsWindowEnabled(hidden.Handle()));

    RequesterModal(0);
    EXPECT_TRUE(IsWindowEnabled(main.Handle()));
    EXPECT_TRUE(IsWindowEnabled(enabled.Handle()));
    EXPECT_FALSE(IsWindowEnabled(disabled.Handle()));
    EXPECT_TRUE(IsWindowEnabled(hidden.Handle()));
    EXPECT_EQ(EntriesOfThread(GetCurrentThreadId()), 0);
}

TEST(RequesterModal, TopmostWindowIsLoweredAndRaisedAgain) {
    TestWindow main;
    TestWindow topmost(WS_EX_TOPMOST);
    TestWindow normal;
    BringToFront(main.Handle());
    ASSERT_TRUE(IsTopmost(topmost.Handle()));

    RequesterModal(1);
    EXPECT_FALSE(IsTopmost(topmost.Handle()));
    EXPECT_FALSE(IsWindowEnabled(topmost.Handle()));
    ASSERT_NE(EntryOf(topmost.Handle()), nullptr);
    EXPECT_EQ(EntryOf(topmost.Handle())->wasTopmost, 1);

    RequesterModal(0);
    EXPECT_TRUE(IsTopmost(topmost.Handle()));
    EXPECT_TRUE(IsWindowEnabled(topmost.Handle()));
    EXPECT_FALSE(IsTopmost(normal.Handle()));
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
    HWND otherWindow = otherWindows[0]->Handle();
    HWND otherTopmost = otherWindows[1]->Handle();
    TestWindow main;
    TestWindow second;
    BringToFront(main.Handle());

    // The other thread's dialog is up while this thread shows and closes one of its own.
    other.Run([] { RequesterModal(1); });
    EXPECT_FALSE(IsWindowEnabled(otherWindow));
    EXPECT_FALSE(IsTopmost(otherTopmost));
    RequesterModal(1);
    EXPECT_EQ(EntryOf(otherWindow), nullptr);
    EXPECT_FALSE(IsWindowEnabled(second.Handle()));
    RequesterModal(0);
    EXPECT_TRUE(IsWindowEnabled(second.Handle()));
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
