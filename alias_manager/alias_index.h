#pragma once
// The aliases of the table in alias order, beside the tree, so that no
// operation depends on the depth of the tree: a B-tree of entries that hold
// the alias bytes themselves (a comparison never reads the record) and the
// record. Each path that inserts or removes a record keeps it in step.

#include <absl/container/btree_map.h>

#include <compare>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

struct address_t;

class alias_index {
public:
    // The empty link of `parent` where a new record belongs, the one a
    // descent from the root would reach; `link` is null when the alias is
    // held. Needs a non-empty table.
    struct place {
        address_t* parent;
        address_t** link;
    };

    address_t* find(std::string_view alias) const;  // null when not held
    place empty_place(std::string_view alias) const;
    address_t* next(const address_t& record) const;  // in alias order; null after the last
    void insert(address_t* record);
    void erase(const address_t& record);
    std::size_t size() const { return entries_.size(); }

    // Visits every record in alias order.
    template <class Visit>
    void for_each(Visit&& visit) const {
        for (const auto& entry : entries_) visit(static_cast<const address_t&>(*entry.second));
    }

private:
    // The alias bytes, padded with zeros to 16, as two big-endian numbers:
    // comparing the pairs compares the texts byte by byte, unsigned.
    struct alias_key {
        std::uint64_t high;
        std::uint64_t low;
        auto operator<=>(const alias_key&) const = default;
    };
    // nullopt for a text that no alias can equal (too long, or holding a NUL).
    static std::optional<alias_key> key_of(std::string_view alias);
    static alias_key key_of(const address_t& record);

    absl::btree_map<alias_key, address_t*> entries_;
};

// The index of the table rooted at `head`.
extern alias_index alias_order;
