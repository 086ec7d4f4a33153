#pragma once
// Iterative walks over the alias tree. The tree is never rebalanced, so a
// table inserted in alias order is a chain as deep as the table: the walks
// keep their pending records in an explicit stack, never on the call stack.

#include <vector>

#include "address_record.h"

// Left subtree, record, right subtree.
template <class Visit>
void walk_in_order(const address_t* node, Visit&& visit) {
    std::vector<const address_t*> pending;
    while (node != nullptr || !pending.empty()) {
        while (node != nullptr) {
            pending.push_back(node);
            node = node->left;
        }
        node = pending.back();
        pending.pop_back();
        visit(*node);
        node = node->right;
    }
}

// Record, left subtree, right subtree. Stops early when `visit` returns false;
// returns whether the walk went through to the end.
template <class Visit>
bool walk_pre_order(const address_t* node, Visit&& visit) {
    std::vector<const address_t*> pending;
    if (node != nullptr) pending.push_back(node);
    while (!pending.empty()) {
        const address_t* record = pending.back();
        pending.pop_back();
        if (!visit(*record)) return false;
        if (record->right != nullptr) pending.push_back(record->right);
        if (record->left != nullptr) pending.push_back(record->left);
    }
    return true;
}
