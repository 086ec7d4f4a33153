#pragma once
// The set of addresses held by the table, so that the duplicate-address test
// takes constant time on average instead of a walk of the whole tree. A slot
// holds the record itself, null when free, and the address is read from the
// record: one word a slot. Open addressing with linear probing in a
// power-of-two table kept at most three quarters full; removal shifts later
// members of a probe run back into the gap, so no deleted markers accumulate.
// The hash is keyed (keyed_hash.h), so no addresses can be chosen to collide.
//
// Hand-made: Abseil's flat_hash_set of the records, measured beside it, was
// within a few per cent on the start-up at 10^6 records and 2 MiB larger
// there, but in the Abseil this project builds with it is left broken when
// the memory to grow it cannot be had (it takes its new capacity before it
// allocates), and an add must be refused and the session go on. A growth
// here that cannot get memory leaves the set as it was.

#include <cstddef>
#include <vector>

#include "address_record.h"
#include "large_allocator.h"

// 0 when all four octets are equal, non-zero otherwise.
inline int compare_octet(const octet_array& a, const octet_array& b) {
    return a == b ? 0 : 1;
}

class address_index {
public:
    // The record holding `octet`, or null.
    const address_t* find(const octet_array& octet) const { return slots_[slot_of(octet)]; }
    bool contains(const octet_array& octet) const { return find(octet) != nullptr; }
    // Adds `record`, whose address no record of the set holds.
    void insert(const address_t* record);
    // Removes the record holding `octet`; no effect when none does.
    void erase(const octet_array& octet);
    // Makes room for `count` records in all, so that inserting up to that
    // many allocates nothing.
    void reserve(std::size_t count);
    std::size_t size() const { return count_; }

private:
    std::size_t home(const octet_array& octet) const;
    // The slot holding `octet`, or the free slot that ends its probe run.
    std::size_t slot_of(const octet_array& octet) const;
    // Puts `record`, whose address is not held, in its slot; there is room.
    void place(const address_t* record);

    large_vector<const address_t*> slots_ = large_vector<const address_t*>(16);
    std::size_t count_ = 0;
};
