#pragma once
// The aliases of the table in alias order, beside the tree, so that no
// operation depends on the depth of the tree: a B-tree of entries that hold
// the alias bytes themselves (a comparison never reads the record) and the
// record. Each path that inserts or removes a record keeps it in step.

#include <absl/container/btree_map.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

struct address_t;

class alias_index {
    // The alias itself, packed: each character as its rank (alias_alphabet.h)
    // in alias_rank_bits bits, the first one highest, 0 after its end. The
    // ranks follow byte order, so comparing two keys compares the aliases
    // byte by byte, and an entry fits 16 bytes.
    using alias_key = std::uint64_t;
    using entries = absl::btree_map<alias_key, address_t*>;

public:
    // The empty link of `parent` where a new record belongs, the one a
    // descent from the root would reach (`head` itself, parent null, in an
    // empty table); `link` is null when the alias is held. `position` is the
    // index's place for the record, valid until the index next changes.
    struct place {
        address_t* parent;
        address_t** link;
        entries::const_iterator position;
    };

    address_t* find(std::string_view alias) const;  // null when not held
    place empty_place(std::string_view alias) const;
    address_t* next(const address_t& record) const;  // in alias order; null after the last
    // Adds `record`, whose alias is not held, at `where`: its empty place.
    void insert(address_t* record, const place& where);
    void erase(const address_t& record);
    std::size_t size() const { return entries_.size(); }

    // Visits every record in alias order. The records lie anywhere in memory:
    // each is fetched a few entries before its visit, so the misses overlap.
    template <class Visit>
    void for_each(Visit&& visit) const {
        constexpr int fetch_ahead = 8;
        auto ahead = entries_.begin();
        for (int i = 0; i < fetch_ahead && ahead != entries_.end(); ++i, ++ahead) __builtin_prefetch(ahead->second);
        for (const auto& entry : entries_) {
            if (ahead != entries_.end()) __builtin_prefetch((ahead++)->second);
            visit(static_cast<const address_t&>(*entry.second));
        }
    }

private:
    // nullopt for a text that no alias can equal (too long, or holding a
    // character that no alias holds).
    static std::optional<alias_key> key_of(std::string_view alias);
    static alias_key key_of(const address_t& record);

    entries entries_;
};

// The index of the table rooted at `head`.
extern alias_index alias_order;
