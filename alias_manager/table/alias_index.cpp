#include "alias_index.h"

#include <iterator>

address_t* alias_index::find(alias_key key) const {
    auto found = entries_.find(key);
    return found == entries_.end() ? nullptr : found->second;
}

alias_index::neighbours alias_index::around(alias_key key) const {
    auto at = entries_.lower_bound(key);
    if (at != entries_.end() && at->first == key) return {at->second, nullptr, nullptr, at};
    return {nullptr, at == entries_.begin() ? nullptr : std::prev(at)->second,
            at == entries_.end() ? nullptr : at->second, at};
}

void alias_index::insert(position at, alias_key key, address_t* record) {
    entries_.insert(at, {key, record});
}

address_t* alias_index::erase(alias_key key) {
    auto found = entries_.find(key);
    if (found == entries_.end()) return nullptr;
    auto after = entries_.erase(found);
    return after == entries_.end() ? nullptr : after->second;
}
