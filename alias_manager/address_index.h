#pragma once
// The set of addresses held by the table, so that the duplicate-address test
// takes constant time on average instead of a walk of the whole tree.
// Open addressing with linear probing in a power-of-two table kept at most
// half full; removal shifts later members of a probe run back into the gap,
// so no deleted markers accumulate.

#include <cstddef>
#include <vector>

#include "record_line.h"

// 0 when all four octets are equal, non-zero otherwise.
inline int compare_octet(const octet_array& a, const octet_array& b) {
    return a == b ? 0 : 1;
}

class address_index {
public:
    bool contains(const octet_array& octet) const;
    void insert(const octet_array& octet);  // no effect when already held
    void erase(const octet_array& octet);   // no effect when not held
    // Starts loading the memory that a test for `octet` reads first.
    void prefetch(const octet_array& octet) const { __builtin_prefetch(&slots_[home(octet)]); }
    std::size_t size() const { return count_; }

private:
    struct slot {
        octet_array octet;
        bool used;
    };

    std::size_t home(const octet_array& octet) const;
    // The slot holding `octet`, or the empty slot that ends its probe run.
    std::size_t find(const octet_array& octet) const;
    void grow();

    std::vector<slot> slots_ = std::vector<slot>(16);
    std::size_t count_ = 0;
};
