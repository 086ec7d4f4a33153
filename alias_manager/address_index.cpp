#include "address_index.h"

#include <cstdint>

std::size_t address_index::home(const octet_array& octet) const {
    std::uint64_t h = 0x9e3779b97f4a7c15u;
    for (std::int32_t value : octet) h = (h ^ static_cast<std::uint32_t>(value)) * 0xff51afd7ed558ccdu;
    return static_cast<std::size_t>(h ^ (h >> 29)) & (slots_.size() - 1);
}

std::size_t address_index::find(const octet_array& octet) const {
    const std::size_t mask = slots_.size() - 1;
    std::size_t i = home(octet);
    while (slots_[i].used && compare_octet(slots_[i].octet, octet) != 0) i = (i + 1) & mask;
    return i;
}

bool address_index::contains(const octet_array& octet) const {
    return slots_[find(octet)].used;
}

void address_index::insert(const octet_array& octet) {
    if (2 * (count_ + 1) > slots_.size()) grow();
    slot& s = slots_[find(octet)];
    if (s.used) return;
    s = {octet, true};
    ++count_;
}

void address_index::erase(const octet_array& octet) {
    const std::size_t mask = slots_.size() - 1;
    std::size_t gap = find(octet);
    if (!slots_[gap].used) return;
    // Move back every later member of the run whose home does not lie
    // cyclically between the gap and its own slot.
    for (std::size_t next = (gap + 1) & mask; slots_[next].used; next = (next + 1) & mask) {
        std::size_t wanted = home(slots_[next].octet);
        bool stays = gap < next ? (gap < wanted && wanted <= next) : (gap < wanted || wanted <= next);
        if (stays) continue;
        slots_[gap] = slots_[next];
        gap = next;
    }
    slots_[gap].used = false;
    --count_;
}

void address_index::grow() {
    std::vector<slot> old(slots_.size() * 2);
    old.swap(slots_);
    count_ = 0;
    for (const slot& s : old)
        if (s.used) insert(s.octet);
}
