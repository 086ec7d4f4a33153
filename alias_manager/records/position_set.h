#pragma once
// Which of the records that a load has accepted so far holds a given key (an
// alias, an address): an open-addressing set of their positions in the load,
// each beside 32 bits of its key's hash, so that a probe reads a record only
// when the hash matches. Linear probing in a power-of-two table kept at most
// three quarters full; the stored hash alone places a member when it grows,
// and a growth whose memory cannot be had leaves the set as it was.
//
// Hand-made, measured against Abseil's flat_hash_set holding the same
// positions (the keys read from the records through a transparent hash):
// as fast at 10^6 records, and as small once reserved from the file's size.
// But that set, in the Abseil this project builds with, is left broken when
// the memory to grow it cannot be had (it takes its new capacity before it
// allocates), and a load must go on after a record refused for memory: the
// allocation sweep of the load's tests crashed in it.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "large_allocator.h"

class position_set {
public:
    // Whether a member with hash `hash` is one for which `same(position)` holds.
    template <class Same>
    bool contains(std::uint64_t hash, Same&& same) const {
        if (slots_.empty()) return false;
        const std::uint32_t tag = tag_of(hash);
        for (std::size_t i = tag & mask(); slots_[i].position != empty; i = (i + 1) & mask())
            if (slots_[i].tag == tag && same(slots_[i].position)) return true;
        return false;
    }

    // Adds `position`, with hash `hash`, which no member has.
    void insert(std::uint64_t hash, std::uint32_t position) {
        reserve(count_ + 1);
        place({tag_of(hash), position});
        ++count_;
    }

    // Makes room for `count` members in all. The set is as it was when the
    // memory for that cannot be had.
    void reserve(std::size_t count) {
        std::size_t size = std::max(slots_.size(), std::size_t{16});
        while (4 * count > 3 * size) size *= 2;
        if (size == slots_.size()) return;
        large_vector<slot> old(size, slot{0, empty});
        old.swap(slots_);
        for (const slot& s : old)
            if (s.position != empty) place(s);
    }

    void prefetch(std::uint64_t hash) const {
        if (!slots_.empty()) __builtin_prefetch(&slots_[tag_of(hash) & mask()]);
    }

    // Positions the set cannot hold: one is its mark of a free slot.
    static constexpr std::uint32_t empty = UINT32_MAX;

private:
    struct slot {
        std::uint32_t tag;
        std::uint32_t position;
    };

    static std::uint32_t tag_of(std::uint64_t hash) { return static_cast<std::uint32_t>(hash >> 32); }
    std::size_t mask() const { return slots_.size() - 1; }

    void place(slot s) {
        std::size_t i = s.tag & mask();
        while (slots_[i].position != empty) i = (i + 1) & mask();
        slots_[i] = s;
    }

    large_vector<slot> slots_;  // none until the first member comes
    std::size_t count_ = 0;
};
