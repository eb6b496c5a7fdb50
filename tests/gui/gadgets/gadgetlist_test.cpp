#include <gtest/gtest.h>

#include <cwchar>
#include <string>

#include "../dialogdriver.h"
#include "runtime/gui/gadgets/gadgets.h"
#include "support/support.h"

namespace rt {
namespace {

using test::CountBusyBlocks;
using test::TestWindow;

GadgetListRecord* ListRecord(HWND window) {
    WCHAR name[64];
    std::swprintf(name, 64, L"RT_GadgetStack_%lld",
                  static_cast<long long>(reinterpret_cast<intptr_t>(GetModuleHandleW(nullptr))));
    return static_cast<GadgetListRecord*>(GetPropW(window, name));
}

GadgetThreadState* State() {
    return static_cast<GadgetThreadState*>(ThreadDataGet(GadgetThreadDataOffset));
}

// MainHeap is a full heap of its own while the object lives, so that every allocation fails.
class ExhaustedMainHeap {
  public:
    ExhaustedMainHeap() : saved_(MainHeap), full_(HeapCreate(0, 0, 64 * 1024)) {
        for (SIZE_T size : {4096, 64, 1}) {
            while (HeapAlloc(full_, 0, size) != nullptr) {
            }
        }
        MainHeap = full_;
    }
    ~ExhaustedMainHeap() {
        MainHeap = saved_;
        HeapDestroy(full_);
    }
    ExhaustedMainHeap(const ExhaustedMainHeap&) = delete;
    ExhaustedMainHeap& operator=(const ExhaustedMainHeap&) = delete;

  private:
    HANDLE saved_;
    HANDLE full_;
};

TEST(GadgetListUse, SwitchingAwayAndBackRestoresEachListAndFreesAllWithItsWindow) {
    ASSERT_EQ(GadgetListUse(nullptr), nullptr);
    int64_t blocks = CountBusyBlocks(MainHeap);
    GadgetThreadState* state = State();
    {
        TestWindow a;
        EXPECT_EQ(GadgetListUse(a.hwnd()), nullptr);
        GadgetListRecord* recordA = ListRecord(a.hwnd());
        ASSERT_NE(recordA, nullptr);
        EXPECT_EQ(recordA->window, a.hwnd());
        EXPECT_EQ(GetWindowLongPtrW(a.hwnd(), GWLP_WNDPROC),
                  reinterpret_cast<LONG_PTR>(GadgetListWindowProc));
        HWND* stackA = state->parentStack;
        ASSERT_NE(stackA, nullptr);
        EXPECT_EQ(state->parentStackCapacity, 10);
        {
            TestWindow b;
            EXPECT_EQ(GadgetListUse(b.hwnd()), a.hwnd());
            EXPECT_EQ(state->currentParent, b.hwnd());
            EXPECT_EQ(recordA->savedParent, a.hwnd());
            EXPECT_EQ(recordA->savedParentStack, stackA);
            HWND* stackB = state->parentStack;
            ASSERT_NE(stackB, nullptr);
            EXPECT_NE(stackB, stackA);
            EXPECT_EQ(GadgetListUse(a.hwnd()), b.hwnd());
            for (int i = 0; i < 2; ++i) {  // the second use switches to the list already current
                EXPECT_EQ(state->currentParent, a.hwnd());
                EXPECT_EQ(state->parentStack, stackA);
                EXPECT_EQ(state->parentStackCount, 0);
                EXPECT_EQ(state->parentStackCapacity, 10);
                EXPECT_EQ(recordA->savedParentStack, nullptr);
                EXPECT_EQ(ListRecord(b.hwnd())->savedParent, b.hwnd());
                EXPECT_EQ(ListRecord(b.hwnd())->savedParentStack, stackB);
                EXPECT_EQ(GadgetListUse(a.hwnd()), a.hwnd());
            }
        }
        // The window left behind stays current when another one goes.
        EXPECT_EQ(GadgetListUse(nullptr), a.hwnd());
        EXPECT_EQ(ListRecord(a.hwnd()), recordA);
    }
    EXPECT_EQ(GadgetListUse(nullptr), nullptr);
    EXPECT_EQ(state->currentParent, nullptr);
    EXPECT_EQ(CountBusyBlocks(MainHeap), blocks);
}

TEST(GadgetListUse, OutOfMemoryLeavesNoListCurrentAndEveryArrayWithOneOwner) {
    ASSERT_EQ(GadgetListUse(nullptr), nullptr);
    int64_t blocks = CountBusyBlocks(MainHeap);
    GadgetThreadState* state = State();
    TestWindow a;
    TestWindow b;
    LONG_PTR procedureB = GetWindowLongPtrW(b.hwnd(), GWLP_WNDPROC);
    // The thread holds an array and only the record is missing.
    HWND* kept = state->parentStack;
    ASSERT_NE(kept, nullptr);
    {
        ExhaustedMainHeap full;
        EXPECT_EQ(GadgetListUse(b.hwnd()), nullptr);
    }
    EXPECT_EQ(state->parentStack, kept);
    // A list is current, so its array goes to its record and a new one cannot be had.
    GadgetListUse(a.hwnd());
    HWND* stackA = state->parentStack;
    {
        ExhaustedMainHeap full;
        EXPECT_EQ(GadgetListUse(b.hwnd()), a.hwnd());
    }
    EXPECT_EQ(ListRecord(a.hwnd())->savedParentStack, stackA);
    EXPECT_EQ(state->parentStack, nullptr);
    EXPECT_EQ(GadgetListUse(nullptr), nullptr);
    EXPECT_EQ(ButtonCreate(3, 0, 0, 50, 20, L"Nowhere"), 0);
    EXPECT_EQ(ListRecord(b.hwnd()), nullptr);
    EXPECT_EQ(GetWindowLongPtrW(b.hwnd(), GWLP_WNDPROC), procedureB);
    // Once memory is back both windows' lists work as if nothing had happened.
    EXPECT_EQ(GadgetListUse(a.hwnd()), nullptr);
    EXPECT_EQ(state->parentStack, stackA);
    EXPECT_EQ(GadgetListUse(b.hwnd()), a.hwnd());
    EXPECT_NE(ListRecord(b.hwnd()), nullptr);
    DestroyWindow(b.hwnd());
    DestroyWindow(a.hwnd());
    EXPECT_EQ(CountBusyBlocks(MainHeap), blocks);
}

}  // namespace
}  // namespace rt
