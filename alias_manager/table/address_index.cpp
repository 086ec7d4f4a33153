#include "address_index.h"

#include "keyed_hash.h"

namespace {

// Whether `slots` slots may hold `count` records.
bool room_for(std::size_t count, std::size_t slots) {
    return 4 * count <= 3 * slots;
}

}  // namespace

std::size_t address_index::home(const octet_array& octet) const {
    return keyed_hash{}(octet) & (slots_.size() - 1);
}

std::size_t address_index::slot_of(const octet_array& octet) const {
    const std::size_t mask = slots_.size() - 1;
    std::size_t i = home(octet);
    while (slots_[i] != nullptr && compare_octet(slots_[i]->octet, octet) != 0) i = (i + 1) & mask;
    return i;
}

void address_index::insert(const address_t* record) {
    reserve(count_ + 1);
    place(record);
    ++count_;
}

void address_index::place(const address_t* record) {
    // The address is not held: the first free slot of its run is its place.
    const std::size_t mask = slots_.size() - 1;
    std::size_t i = home(record->octet);
    while (slots_[i] != nullptr) i = (i + 1) & mask;
    slots_[i] = record;
}

void address_index::erase(const octet_array& octet) {
    const std::size_t mask = slots_.size() - 1;
    std::size_t gap = slot_of(octet);
    if (slots_[gap] == nullptr) return;
    // Move back every later member of the run whose home does not lie
    // cyclically between the gap and its own slot.
    for (std::size_t next = (gap + 1) & mask; slots_[next] != nullptr; next = (next + 1) & mask) {
        std::size_t wanted = home(slots_[next]->octet);
        bool stays = gap < next ? (gap < wanted && wanted <= next) : (gap < wanted || wanted <= next);
        if (stays) continue;
        slots_[gap] = slots_[next];
        gap = next;
    }
    slots_[gap] = nullptr;
    --count_;
}

void address_index::reserve(std::size_t count) {
    std::size_t size = slots_.size();
    while (!room_for(count, size)) size *= 2;
    if (size == slots_.size()) return;
    large_vector<const address_t*> old(size);
    old.swap(slots_);
    for (const address_t* record : old)
        if (record != nullptr) place(record);
}
