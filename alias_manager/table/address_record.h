#pragma once
// One record of the table. The table (alias_table) creates, links and frees
// records; everything else reads them through pointers to const.

#include <string_view>

#include "record_line.h"

struct address_t {
    octet_array octet;
    alias_text alias;
    const address_t* left;    // records with smaller aliases
    const address_t* right;   // records with greater aliases
    const address_t* parent;  // the record whose left or right link this is; null for head
};

inline std::string_view alias_of(const address_t& record) { return record.alias.data(); }
