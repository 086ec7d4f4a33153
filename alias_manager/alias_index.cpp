#include "alias_index.h"

#include <iterator>

#include "address_tree.h"

alias_index alias_order;

std::optional<alias_index::alias_key> alias_index::key_of(std::string_view alias) {
    if (alias.size() > alias_max_length) return std::nullopt;
    alias_key key = 0;
    for (char c : alias) {
        const unsigned rank = alias_rank(c);
        if (rank == 0) return std::nullopt;
        key = key << alias_rank_bits | rank;
    }
    return key << alias_rank_bits * (alias_max_length - alias.size());
}

alias_index::alias_key alias_index::key_of(const address_t& record) {
    return key_of(alias_of(record)).value();
}

address_t* alias_index::find(std::string_view alias) const {
    auto key = key_of(alias);
    if (!key) return nullptr;
    auto found = entries_.find(*key);
    return found == entries_.end() ? nullptr : found->second;
}

alias_index::place alias_index::empty_place(std::string_view alias) const {
    const alias_key key = key_of(alias).value();
    auto after = entries_.lower_bound(key);
    if (after != entries_.end() && after->first == key) return {after->second, nullptr, after};
    if (entries_.empty()) return {nullptr, &head, after};
    address_t* predecessor = after == entries_.begin() ? nullptr : std::prev(after)->second;
    if (after != entries_.end()) __builtin_prefetch(after->second);  // read when the predecessor's link is taken
    // Neighbours in alias order lie one in the other's subtree, so exactly one
    // of these two links is empty, and the descent, passing between them, ends there.
    if (predecessor != nullptr && predecessor->right == nullptr) return {predecessor, &predecessor->right, after};
    address_t* successor = after->second;
    return {successor, &successor->left, after};
}

address_t* alias_index::next(const address_t& record) const {
    auto after = entries_.upper_bound(key_of(record));
    return after == entries_.end() ? nullptr : after->second;
}

void alias_index::insert(address_t* record, const place& where) {
    entries_.insert(where.position, {key_of(*record), record});
}

void alias_index::erase(const address_t& record) {
    entries_.erase(key_of(record));
}
