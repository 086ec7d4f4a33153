#include "address_tree.h"
#include "alias_index.h"

address_t* find_parent(address_t* node, const address_t* target) {
    while (node != nullptr && node != target) {
        if (node->left == target || node->right == target) return node;
        node = alias_of(*node).compare(alias_of(*target)) > 0 ? node->left : node->right;
    }
    return nullptr;
}

namespace {

void set_parent(address_t* child, address_t* parent) {
    if (child != nullptr) child->parent = parent;
}

}  // namespace

void delete_func(address_t* record) {
    address_t* parent = record->parent;
    address_t** link = parent == nullptr         ? &head
                       : parent->left == record ? &parent->left
                                                 : &parent->right;
    if (record->left == nullptr) {
        *link = record->right;
    } else if (record->right == nullptr) {
        *link = record->left;
    } else {
        // Two children: the in-order successor, the leftmost record of the
        // right subtree and the next one in the index, takes its place.
        address_t* successor = alias_order.next(*record);
        address_t* successor_parent = successor->parent;
        if (successor_parent != record) {
            successor_parent->left = successor->right;
            set_parent(successor->right, successor_parent);
            successor->right = record->right;
            set_parent(successor->right, successor);
        }
        successor->left = record->left;
        set_parent(successor->left, successor);
        *link = successor;
    }
    set_parent(*link, parent);
    alias_order.erase(*record);
    forget_address(record);
    delete record;
}
