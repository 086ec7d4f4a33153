#include "table_operations.h"

#include <cstdio>

#include "tree_walk.h"

namespace {

void print_record(const address_t& record) {
    std::printf("%3d.%3d.%3d.%3d : %s\n", record.octet[0], record.octet[1], record.octet[2],
                record.octet[3], record.alias.data());
}

// Visits the subtree of `node` in alias order; the whole table through the
// alias index, which needs no descent.
template <class Visit>
void visit_in_order(const address_t* node, Visit&& visit) {
    if (node != nullptr && node == head) {
        alias_order().for_each(visit);
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
    const bool first = head == nullptr;
    std::printf(first ? "Head is null, creating... " : "Checking for duplicate, then adding line... ");
    switch (insert_record(*fields)) {
        case insert_result::added:
            std::printf(first ? "%s Done\n" : "%s Done adding\n", fields->alias.data());
            break;
        case insert_result::duplicate:
            std::printf("Duplicate alias or octet detected, skipping.\n");
            break;
        case insert_result::out_of_memory:
            std::printf("Out of memory, skipping.\n");
            break;
        case insert_result::not_an_alias:
            std::printf("Invalid format, expected [address] [alias], skipping.\n");
            break;
    }
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
