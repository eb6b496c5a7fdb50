#include <gtest/gtest.h>

#include "support/support.h"

namespace rt {
namespace {

struct Chain {
    BlockChainNode* head = nullptr;
    ~Chain() {
        while (head != nullptr) {
            BlockChainRemove(&head, BlockChainPayload(head));
        }
    }
};

TEST(BlockChainAdd, PushesZeroFilledNodesAtTheHead) {
    Chain chain;
    auto* a = static_cast<char*>(BlockChainAdd(&chain.head, 16 + 24));
    auto* b = static_cast<char*>(BlockChainAdd(&chain.head, 16 + 24));
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(BlockChainPayload(chain.head), b);
    EXPECT_EQ(chain.head->next, BlockChainNodeOf(a));
    EXPECT_EQ(BlockChainNodeOf(a)->previous, chain.head);
    EXPECT_EQ(chain.head->previous, nullptr);
    for (int i = 0; i < 24; ++i) {
        EXPECT_EQ(b[i], 0);
    }
}

TEST(BlockChainRemove, HeadMiddleAndTailKeepBothDirectionsLinked) {
    Chain chain;
    void* oldest = BlockChainAdd(&chain.head, 32);
    void* middle = BlockChainAdd(&chain.head, 32);
    void* newest = BlockChainAdd(&chain.head, 32);

    BlockChainRemove(&chain.head, newest);
    EXPECT_EQ(BlockChainPayload(chain.head), middle);
    EXPECT_EQ(chain.head->previous, nullptr);

    void* top = BlockChainAdd(&chain.head, 32);
    BlockChainRemove(&chain.head, middle);
    EXPECT_EQ(BlockChainPayload(chain.head), top);
    EXPECT_EQ(chain.head->next, BlockChainNodeOf(oldest));
    EXPECT_EQ(BlockChainNodeOf(oldest)->previous, chain.head);

    BlockChainRemove(&chain.head, oldest);
    EXPECT_EQ(chain.head->next, nullptr);
    BlockChainRemove(&chain.head, top);
    EXPECT_EQ(chain.head, nullptr);
}

#if RT_HAS_ALLOCATION_HOOK
TEST(BlockChainAdd, FailedAllocationLeavesTheChainUnchanged) {
    Chain chain;
    void* only = BlockChainAdd(&chain.head, 32);
    PlatformFailAllocation(1);
    EXPECT_EQ(BlockChainAdd(&chain.head, 32), nullptr);
    EXPECT_EQ(BlockChainPayload(chain.head), only);
    EXPECT_EQ(chain.head->previous, nullptr);
    EXPECT_EQ(chain.head->next, nullptr);
}
#endif

}  // namespace
}  // namespace rt
