#include "alias_index.h"

#include <iterator>

#include "address_tree.h"

alias_index alias_order;

namespace {

// 1 to 63 for the characters of an alias, in byte order; 0 for any other.
unsigned alias_rank(char c) {
    if (c == ' ') return 1;
    if (c >= '0' && c <= '9') return 2 + static_cast<unsigned>(c - '0');
    if (c >= 'A' && c <= 'Z') return 12 + static_cast<unsigned>(c - 'A');
    if (c >= 'a' && c <= 'z') return 38 + static_cast<unsigned>(c - 'a');
    return 0;
}

}  // namespace

std::optional<alias_index::alias_key> alias_index::key_of(std::string_view alias) {
    if (alias.size() > alias_max_length) return std::nullopt;
    alias_key key = 0;
    for (std::size_t i = 0; i < alias_max_length; ++i) {
        unsigned rank = i < alias.size() ? alias_rank(alias[i]) : 0;
        if (i < alias.size() && rank == 0) return std::nullopt;
        key = key << 6 | rank;
    }
    return key;
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
