#include "alias_index.h"

#include <iterator>

#include "address_tree.h"

alias_index alias_order;

std::optional<alias_index::alias_key> alias_index::key_of(std::string_view alias) {
    if (alias.size() > alias_max_length || alias.find('\0') != std::string_view::npos) return std::nullopt;
    alias_key key{0, 0};
    for (std::size_t i = 0; i < 16; ++i) {
        std::uint64_t byte = i < alias.size() ? static_cast<unsigned char>(alias[i]) : 0;
        std::uint64_t& half = i < 8 ? key.high : key.low;
        half = half << 8 | byte;
    }
    return key;
}

alias_index::alias_key alias_index::key_of(const address_t& record) {
    return *key_of(alias_of(record));
}

address_t* alias_index::find(std::string_view alias) const {
    auto key = key_of(alias);
    if (!key) return nullptr;
    auto found = entries_.find(*key);
    return found == entries_.end() ? nullptr : found->second;
}

alias_index::place alias_index::empty_place(std::string_view alias) const {
    const alias_key key = *key_of(alias);
    auto after = entries_.lower_bound(key);
    if (after != entries_.end() && after->first == key) return {after->second, nullptr};
    address_t* predecessor = after == entries_.begin() ? nullptr : std::prev(after)->second;
    // Neighbours in alias order lie one in the other's subtree, so exactly one
    // of these two links is empty, and the descent, passing between them, ends there.
    if (predecessor != nullptr && predecessor->right == nullptr) return {predecessor, &predecessor->right};
    address_t* successor = after->second;
    return {successor, &successor->left};
}

address_t* alias_index::next(const address_t& record) const {
    auto after = entries_.upper_bound(key_of(record));
    return after == entries_.end() ? nullptr : after->second;
}

void alias_index::insert(address_t* record) {
    entries_.insert({key_of(*record), record});
}

void alias_index::erase(const address_t& record) {
    entries_.erase(key_of(record));
}
