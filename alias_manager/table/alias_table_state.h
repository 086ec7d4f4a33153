#pragma once
// The state of the table, shared by the files of the table unit alone
// (alias_table.cpp and table_load.cpp). Everything else goes through
// alias_table.h.

#include <cstddef>
#include <optional>
#include <vector>

#include "address_index.h"
#include "address_record.h"
#include "alias_index.h"
#include "large_allocator.h"

// Records made by one load, in alias order. The block is freed with the
// last of its records that the table erases.
struct record_block {
    large_vector<address_t> records;
    std::size_t live;
};

struct table_state {
    const address_t* root = nullptr;
    alias_index aliases;
    address_index addresses;
    std::vector<record_block> blocks;  // every other record was made alone, with new
    bool checking_every_change = false;
};

extern table_state& the_table;

// Every record is created non-const by the table and owned by it, which
// alone writes records and links, through these two.
inline address_t& owned(const address_t* record) {
    return const_cast<address_t&>(*record);
}
inline const address_t*& owned(const address_t* const* link) {
    return const_cast<const address_t*&>(*link);
}

// The key of an alias that a record may hold; nullopt for any other text.
std::optional<alias_key> record_key(const alias_text& alias);

// Ends the process with a description of the broken rule when the table
// checks itself after every change and a rule is broken.
void check_after_change();
