#include "table_operations.h"

#include "tree_walk.h"

namespace {

// The display form, "%3d.%3d.%3d.%3d : %s\n".
void print_record(output_buffer& o, const address_t& record) {
    for (std::size_t i = 0; i < record.octet.size(); ++i) {
        o.number(record.octet[i], 3);
        o.text(i + 1 < record.octet.size() ? "." : " : ");
    }
    o.text(alias_of(record));
    o.text("\n");
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

void print_invalid_line(output_buffer& o) {
    o.text("Invalid format, expected [address] [alias], skipping.\n");
}

void print_insertion(output_buffer& o, bool first, insert_result result, std::string_view alias) {
    o.text(first ? "Head is null, creating... " : "Checking for duplicate, then adding line... ");
    switch (result) {
        case insert_result::added:
            o.text(alias);
            o.text(first ? " Done\n" : " Done adding\n");
            break;
        case insert_result::duplicate:
            o.text("Duplicate alias or octet detected, skipping.\n");
            break;
        case insert_result::out_of_memory:
            o.text("Out of memory, skipping.\n");
            break;
        case insert_result::not_an_alias:
            print_invalid_line(o);
            break;
    }
}

void add_func(std::string_view line) {
    if (line.empty()) return;
    output_buffer& o = out();
    if (auto fields = parse_record_line(line)) {
        const bool first = head == nullptr;
        print_insertion(o, first, insert_record(*fields), fields->alias.data());
    } else {
        print_invalid_line(o);
    }
    o.flush();
}

void display_list() {
    output_buffer& o = out();
    if (head == nullptr) o.text("List is empty.\n");
    const std::int32_t count = display_list_func(head);
    o.text("Number of nodes: ");
    o.number(count);
    o.text("\n");
    o.flush();
}

std::int32_t display_list_func(const address_t* node) {
    output_buffer& o = out();
    std::int32_t count = 0;
    visit_in_order(node, [&](const address_t& record) {
        print_record(o, record);
        ++count;
    });
    o.flush();
    return count;
}

void display_aliases(std::int32_t first, std::int32_t second) {
    if (display_aliases_func(head, first, second) != 0) return;
    output_buffer& o = out();
    o.text("No alias found that matches the input locality\n");
    o.flush();
}

std::int32_t display_aliases_func(const address_t* node, std::int32_t first, std::int32_t second) {
    output_buffer& o = out();
    std::int32_t count = 0;
    visit_in_order(node, [&](const address_t& record) {
        if (record.octet[0] != first || record.octet[1] != second) return;
        print_record(o, record);
        ++count;
    });
    o.flush();
    return count;
}
