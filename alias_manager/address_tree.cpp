#include "address_tree.h"

#include <cstdio>
#include <memory>
#include <new>

#include "address_index.h"
#include "alias_index.h"
#include "tree_walk.h"

address_t* head = nullptr;

namespace {

// Every address held by the table, so that the duplicate test needs no walk.
// Each path that inserts, readdresses or removes a record keeps it in step.
address_index held_addresses;

void print_record(const address_t& record) {
    std::printf("%3d.%3d.%3d.%3d : %s\n", record.octet[0], record.octet[1], record.octet[2],
                record.octet[3], record.alias.data());
}

address_t* new_record(const record_fields& fields, const alias_index::place& place) {
    try {
        held_addresses.insert(fields.octet);
        std::unique_ptr<address_t> record(new address_t{fields.octet, fields.alias, nullptr, nullptr, place.parent});
        alias_order.insert(record.get(), place);
        return record.release();
    } catch (const std::bad_alloc&) {
        held_addresses.erase(fields.octet);
        std::printf("Out of memory, skipping.\n");
        return nullptr;
    }
}

// Visits the subtree of `node` in alias order; the whole table through the
// alias index, which needs no descent.
template <class Visit>
void visit_in_order(const address_t* node, Visit&& visit) {
    if (node != nullptr && node == head) {
        alias_order.for_each(visit);
    } else {
        walk_in_order(node, visit);
    }
}

}  // namespace

void add_func(std::string_view line) {
    if (line.empty()) return;
    auto fields = parse_record_line(line);
    if (!fields) {
        std::printf("Invalid format, expected [address] [alias], skipping.\n");
        return;
    }
    held_addresses.prefetch(fields->octet);  // read after the index search; the misses overlap
    const alias_index::place place = alias_order.empty_place(fields->alias.data());
    if (head == nullptr) {
        std::printf("Head is null, creating... ");
        head = new_record(*fields, place);
        if (head != nullptr) std::printf("%s Done\n", fields->alias.data());
        return;
    }
    std::printf("Checking for duplicate, then adding line... ");
    if (place.link == nullptr || find_duplicate_octet(head, fields->octet)) {
        std::printf("Duplicate alias or octet detected, skipping.\n");
        return;
    }
    *place.link = new_record(*fields, place);
    if (*place.link != nullptr) std::printf("%s Done adding\n", fields->alias.data());
}

address_t** find_empty_node(address_t* root, std::string_view alias) {
    address_t* node = root;
    for (;;) {
        int order = alias_of(*node).compare(alias);
        if (order == 0) return nullptr;
        address_t** link = order > 0 ? &node->left : &node->right;
        if (*link == nullptr) return link;
        node = *link;
    }
}

bool find_duplicate_octet(const address_t* root, const octet_array& octet) {
    if (root == head) return held_addresses.contains(octet);
    bool held = false;  // a subtree: no index of its own, so walk it
    walk_pre_order(root, [&](const address_t& record) {
        held = compare_octet(record.octet, octet) == 0;
        return !held;
    });
    return held;
}

int compare_octet(const octet_array& a, const octet_array& b) {
    return a == b ? 0 : 1;
}

address_t* lookup_func(std::string_view alias, address_t* node) {
    while (node != nullptr) {
        int order = alias_of(*node).compare(alias);
        if (order == 0) return node;
        node = order > 0 ? node->left : node->right;
    }
    return nullptr;
}

address_t* lookup_func_wrapper(std::string_view alias) {
    return alias_order.find(alias);
}

void update_octet(address_t* record, const octet_array& octet) {
    held_addresses.erase(record->octet);
    record->octet = octet;
    held_addresses.insert(octet);
}

void forget_address(const address_t* record) {
    held_addresses.erase(record->octet);
}

void display_list() {
    if (head == nullptr) std::printf("List is empty.\n");
    std::printf("Number of nodes: %d\n", display_list_func(head));
}

std::int32_t display_list_func(const address_t* node) {
    std::int32_t count = 0;
    visit_in_order(node, [&](const address_t& record) {
        print_record(record);
        ++count;
    });
    return count;
}

void display_aliases(std::int32_t first, std::int32_t second) {
    if (display_aliases_func(head, first, second) == 0)
        std::printf("No alias found that matches the input locality\n");
}

std::int32_t display_aliases_func(const address_t* node, std::int32_t first, std::int32_t second) {
    std::int32_t count = 0;
    visit_in_order(node, [&](const address_t& record) {
        if (record.octet[0] != first || record.octet[1] != second) return;
        print_record(record);
        ++count;
    });
    return count;
}
