#pragma once
// One record of the table and its fields. The table (alias_table) creates,
// links and frees records; everything else reads them through pointers to
// const.

#include <array>
#include <cstdint>
#include <string_view>

#include "alias_alphabet.h"

using octet_array = std::array<std::int32_t, 4>;

using alias_text = std::array<char, alias_max_length + 1>;  // always terminated

// The fields of a record to be added.
struct record_fields {
    octet_array octet;
    alias_text alias;
};

struct address_t {
    octet_array octet;
    alias_text alias;
    const address_t* left;    // records with smaller aliases
    const address_t* right;   // records with greater aliases
    const address_t* parent;  // the record whose left or right link this is; null for head
};

inline std::string_view alias_of(const address_t& record) { return record.alias.data(); }

// Whether the written form "%d.%d.%d.%d %s" of this address and alias has at
// most entry_limit::record_line characters, the longest line the loader reads
// whole, so that a saved table loads back the same. A longer one would be cut
// into pieces when it is loaded. The table holds no other records.
bool fits_record_line(const octet_array& octet, std::string_view alias);
