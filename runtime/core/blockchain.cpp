// Block chains: the owner keeps one head pointer and serialises every use itself.
#include "core.h"

namespace rt {

void* BlockChainAdd(BlockChainNode** head, int32_t nodeSize) {
    if (nodeSize < static_cast<int32_t>(sizeof(BlockChainNode))) {
        return nullptr;
    }
    auto* node = static_cast<BlockChainNode*>(HeapAlloc(MainHeap, HEAP_ZERO_MEMORY, nodeSize));
    if (node == nullptr) {
        return nullptr;
    }
    if (*head != nullptr) {
        (*head)->previous = node;
        node->next = *head;
    }
    *head = node;
    return BlockChainPayload(node);
}

void BlockChainRemove(BlockChainNode** head, void* payload) {
    BlockChainNode* node = BlockChainNodeOf(payload);
    if (node == *head) {
        *head = node->next;
        if (node->next != nullptr) {
            node->next->previous = nullptr;
        }
    } else {
        node->previous->next = node->next;
        if (node->next != nullptr) {
            node->next->previous = node->previous;
        }
    }
    HeapFree(MainHeap, 0, node);
}

}  // namespace rt
