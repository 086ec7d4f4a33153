#pragma once
// The table: an unbalanced binary search tree of address records ordered by
// alias, rooted at the global `head`. Every operation prints its own progress
// and result messages on standard output.

#include <cstdint>
#include <string_view>

#include "record_line.h"

struct address_t {
    octet_array octet;
    alias_text alias;
    address_t* left;
    address_t* right;
    address_t* parent;  // the record whose left or right link this is; null for head
};

// Root of the table; null while it is empty. Owns every record.
extern address_t* head;

inline std::string_view alias_of(const address_t& record) { return record.alias.data(); }

// Parses a record line (without its newline) and inserts it, refusing a
// duplicate alias or address. An empty line is ignored silently.
void add_func(std::string_view line);

// The empty link where a record with `alias` belongs below `root` (non-null),
// or null when a record with that alias is already present.
address_t** find_empty_node(address_t* root, std::string_view alias);

// Whether some record of the tree holds exactly these four octets.
bool find_duplicate_octet(const address_t* root, const octet_array& octet);

// 0 when all four octets are equal, non-zero otherwise.
int compare_octet(const octet_array& a, const octet_array& b);

// The record of the subtree of `node` whose alias equals `alias`, or null.
address_t* lookup_func(std::string_view alias, address_t* node);
address_t* lookup_func_wrapper(std::string_view alias);

// Gives `record` a new address; the caller has checked that it is not held.
void update_octet(address_t* record, const octet_array& octet);

// Drops the address of `record`, about to be removed, from the duplicate test.
void forget_address(const address_t* record);

// Full listing in alias order, then the count line.
void display_list();
std::int32_t display_list_func(const address_t* node);

// Listing of the records whose first two octets are `first` and `second`.
void display_aliases(std::int32_t first, std::int32_t second);
std::int32_t display_aliases_func(const address_t* node, std::int32_t first, std::int32_t second);

// The record below `node` whose left or right link is `target`; null when
// `target` is `node` itself or not in its subtree.
address_t* find_parent(address_t* node, const address_t* target);

// Unlinks `record`, a record of the table, keeps the alias order and frees it.
void delete_func(address_t* record);
