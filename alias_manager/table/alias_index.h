#pragma once
// The aliases of the table in alias order: a B-tree map from each alias,
// packed into one word, to its record. A node holds many keys side by side,
// so a search touches a few nodes whatever the shape of the alias tree, and
// a comparison never reads a record. It knows nothing of the tree's links.

#include <absl/container/btree_map.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "alias_alphabet.h"
#include "address_record.h"

struct address_t;

// An alias packed into one word: the rank of each character in
// `alias_rank_bits` bits, the first character highest, 0 after the end. The
// ranks follow byte order, so comparing keys compares the aliases.
using alias_key = std::uint64_t;

// nullopt for a text that no alias can equal: too long, or holding a
// character outside the alphabet.
constexpr std::optional<alias_key> key_of(std::string_view alias) {
    if (alias.size() > alias_max_length) return std::nullopt;
    alias_key key = 0;
    for (char c : alias) {
        const unsigned rank = alias_rank(c);
        if (rank == 0) return std::nullopt;
        key = key << alias_rank_bits | rank;
    }
    return key << alias_rank_bits * (alias_max_length - alias.size());
}

// The alias that `key` packs.
constexpr alias_text text_of(alias_key key) {
    alias_text text{};
    for (std::size_t i = 0; i < alias_max_length; ++i)
        text[i] = alias_char(static_cast<unsigned>(key >> alias_rank_bits * (alias_max_length - 1 - i)));
    return text;
}

class alias_index {
    using entries = absl::btree_map<alias_key, address_t*>;

public:
    using position = entries::const_iterator;

    // The record of `key`, or else the records around it in alias order.
    struct neighbours {
        address_t* held;         // the record of `key`; null when no record has it
        address_t* predecessor;  // when not held: the last record before `key`, or null
        address_t* successor;    // when not held: the first record after `key`, or null
        position at;             // where the entry of `key` is or belongs
    };

    address_t* find(alias_key key) const;  // null when not held
    neighbours around(alias_key key) const;
    // Adds `record` under `key`, which is not held; `at` is a hint, best the
    // one that around(key) gave while the index has not changed since.
    void insert(position at, alias_key key, address_t* record);
    // Removes the entry of `key` and returns the record that followed it in
    // alias order: null after the last, and when `key` was not held.
    address_t* erase(alias_key key);

    std::size_t size() const { return entries_.size(); }
    position begin() const { return entries_.begin(); }
    position end() const { return entries_.end(); }

    // Visits every record in alias order.
    template <class Visit>
    void for_each(Visit&& visit) const {
        for (const auto& entry : entries_) visit(static_cast<const address_t&>(*entry.second));
    }

private:
    entries entries_;
};
