#include <gtest/gtest.h>

#include <cwchar>

#include "../testwindow.h"
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

TEST(GadgetListUse, SwitchingAwayAndBackRestoresEachListAndItsWindowTakesItAlong) {
    int64_t blocks = CountBusyBlocks(MainHeap);
    GadgetThreadState* state = State();
    HWND* stackA;
    {
        TestWindow a;
        TestWindow b;
        EXPECT_EQ(GadgetListUse(a.Handle()), nullptr);
        stackA = state->parentStack;
        EXPECT_EQ(GadgetListUse(b.Handle()), a.Handle());
        EXPECT_EQ(ListRecord(a.Handle())->savedParentStack, stackA);
        HWND* stackB = state->parentStack;
        EXPECT_EQ(GadgetListUse(a.Handle()), b.Handle());
        EXPECT_EQ(GadgetListUse(a.Handle()), a.Handle());  // already current: nothing changes
        EXPECT_EQ(state->currentParent, a.Handle());
        EXPECT_EQ(state->parentStack, stackA);
        EXPECT_EQ(ListRecord(a.Handle())->savedParentStack, nullptr);
        EXPECT_EQ(ListRecord(b.Handle())->savedParent, b.Handle());
        EXPECT_EQ(ListRecord(b.Handle())->savedParentStack, stackB);
        EXPECT_NE(ButtonCreate(1, 0, 0, 50, 20, L"Kept"), 0);
    }
    // The current list's window went last: no list is current, and creations fail.
    EXPECT_EQ(GadgetListUse(nullptr), nullptr);
    EXPECT_EQ(state->parentStack, stackA);
    EXPECT_EQ(ButtonCreate(2, 0, 0, 50, 20, L"Nowhere"), 0);
    EXPECT_EQ(RegistryIsObject(GadgetRegistry, 2), nullptr);
    // Only the number's record, made once for good, is left of everything above.
    EXPECT_EQ(CountBusyBlocks(MainHeap), blocks + 1);
}

TEST(GadgetListUse, OutOfMemoryLeavesNoListCurrentAndEveryArrayWithOneOwner) {
    GadgetThreadState* state = State();
    TestWindow a;
    TestWindow b;
    HANDLE realHeap = MainHeap;
    HANDLE fullHeap = HeapCreate(0, 0, 64 * 1024);
    for (SIZE_T size : {4096, 64, 1}) {
        while (HeapAlloc(fullHeap, 0, size) != nullptr) {
        }
    }
    // First only the record is missing (the thread holds an array), then the array as well (the
    // current list's array moved to its record).
    HWND* held = state->parentStack;
    for (HWND current : {static_cast<HWND>(nullptr), a.Handle()}) {
        GadgetListUse(current);
        MainHeap = fullHeap;
        EXPECT_EQ(GadgetListUse(b.Handle()), current);
        MainHeap = realHeap;
        EXPECT_EQ(GadgetListUse(nullptr), nullptr);
        EXPECT_EQ(ListRecord(b.Handle()), nullptr);
        EXPECT_EQ(state->parentStack, current == nullptr ? held : nullptr);
    }
    EXPECT_EQ(ListRecord(a.Handle())->savedParentStack, held);
    HeapDestroy(fullHeap);
    // With memory back both lists work: a's array comes back to the thread.
    EXPECT_EQ(GadgetListUse(a.Handle()), nullptr);
    EXPECT_EQ(state->parentStack, held);
    EXPECT_EQ(GadgetListUse(b.Handle()), a.Handle());
    EXPECT_NE(ListRecord(b.Handle()), nullptr);
}

}  // namespace
}  // namespace rt
