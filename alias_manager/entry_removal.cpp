#include "address_tree.h"

address_t* find_parent(address_t* node, const address_t* target) {
    while (node != nullptr && node != target) {
        if (node->left == target || node->right == target) return node;
        node = alias_of(*node).compare(alias_of(*target)) > 0 ? node->left : node->right;
    }
    return nullptr;
}

void delete_func(address_t* record) {
    address_t* parent = find_parent(head, record);
    address_t** link = parent == nullptr         ? &head
                       : parent->left == record ? &parent->left
                                                 : &parent->right;
    if (record->left == nullptr) {
        *link = record->right;
    } else if (record->right == nullptr) {
        *link = record->left;
    } else {
        // Two children: the in-order successor, the leftmost record of the
        // right subtree, takes the removed record's place.
        address_t* successor = record->right;
        address_t* successor_parent = record;
        while (successor->left != nullptr) {
            successor_parent = successor;
            successor = successor->left;
        }
        if (successor_parent != record) {
            successor_parent->left = successor->right;
            successor->right = record->right;
        }
        successor->left = record->left;
        *link = successor;
    }
    forget_address(record);
    delete record;
}
