#include "table_load.h"

#include <algorithm>
#include <array>
#include <limits>
#include <memory>
#include <new>
#include <utility>

#include "alias_table_state.h"

namespace {

// The last steps of MurmurHash3: every bit of `h` reaches every bit.
std::uint64_t mixed(std::uint64_t h) {
    h = (h ^ (h >> 33)) * 0xff51afd7ed558ccdu;
    h = (h ^ (h >> 33)) * 0xc4ceb9fe1a85ec53u;
    return h ^ (h >> 33);
}

std::uint64_t hash_of(alias_key key) {
    return mixed(key);
}

std::uint64_t hash_of(const octet_array& octet) {
    const auto pair = [&](std::size_t i) {
        return std::uint64_t{static_cast<std::uint32_t>(octet[i])} << 32 | static_cast<std::uint32_t>(octet[i + 1]);
    };
    return mixed(pair(0) ^ mixed(pair(2)));
}

const address_t* top_of(const address_t* record) {
    while (record->parent != nullptr) record = record->parent;
    return record;
}

}  // namespace

// New records that lie between the same two records of the table as it was
// before the load: one by one, each would descend to the one empty link
// between those two, so they hang from it as one subtree.
struct table_load::run {
    const address_t* predecessor;  // the table's last record before the run, or null
    const address_t* successor;    // the table's first record after it, or null
    address_t* top;                // the root of the run's own subtree
};

// Hangs `r` from the empty link between its neighbours, the link a descent
// from head would reach for any of its records.
void table_load::attach(const run& r) {
    const address_t* parent = nullptr;
    const address_t** link = &the_table.root;
    if (r.predecessor != nullptr && r.predecessor->right == nullptr) {
        parent = r.predecessor;
        link = &owned(parent).right;
    } else if (r.successor != nullptr) {
        parent = r.successor;
        link = &owned(parent).left;
    }
    *link = r.top;
    r.top->parent = parent;
}

table_load::table_load() : table_was_empty_(head == nullptr) {}

void table_load::expect(std::size_t count) {
    try {
        accepted_.reserve(std::min({count, accepted_.max_size(), std::size_t{position_set::empty}}));
    } catch (const std::bad_alloc&) {
        // The records will move as they come in.
    }
}

bool table_load::held_before(alias_key key, const octet_array& octet) const {
    return !table_was_empty_ && (the_table.aliases.find(key) != nullptr || the_table.addresses.contains(octet));
}

insert_result table_load::offer(const record_fields& fields) {
    const auto key = record_key(fields.alias);
    if (!key) return insert_result::not_an_alias;
    const std::uint64_t alias_hash = hash_of(*key);
    const std::uint64_t address_hash = hash_of(fields.octet);
    if (held_before(*key, fields.octet) ||
        aliases_.contains(alias_hash, [&](std::uint32_t p) { return accepted_[p].key == *key; }) ||
        addresses_.contains(address_hash, [&](std::uint32_t p) { return accepted_[p].octet == fields.octet; }))
        return insert_result::duplicate;
    const std::size_t count = accepted_.size();
    if (count == position_set::empty) return insert_result::out_of_memory;  // no position left
    const auto position = static_cast<std::uint32_t>(count);
    try {
        aliases_.reserve(count + 1);
        addresses_.reserve(count + 1);
        accepted_.push_back({*key, fields.octet, position});
    } catch (const std::bad_alloc&) {
        return insert_result::out_of_memory;
    }
    aliases_.insert(alias_hash, position);
    addresses_.insert(address_hash, position);
    return insert_result::added;
}

void table_load::prefetch(const record_fields& fields) const {
    if (const auto key = record_key(fields.alias)) aliases_.prefetch(hash_of(*key));
    addresses_.prefetch(hash_of(fields.octet));
}

// Least significant digit first, each pass stable: a radix sort takes the
// same time whatever the order of the file.
void table_load::sort_by_key() {
    constexpr unsigned digit_bits = 11;
    constexpr std::size_t buckets = std::size_t{1} << digit_bits;
    constexpr unsigned digits = (alias_max_length * alias_rank_bits + digit_bits - 1) / digit_bits;
    const auto digit = [](alias_key key, unsigned d) { return static_cast<std::size_t>(key >> d * digit_bits) & (buckets - 1); };
    const std::size_t n = accepted_.size();
    if (n < buckets) {  // fewer records than a pass has buckets to count
        std::sort(accepted_.begin(), accepted_.end(), [](const accepted& a, const accepted& b) { return a.key < b.key; });
        return;
    }
    std::vector<std::array<std::size_t, buckets>> counts(digits);
    for (const accepted& a : accepted_)
        for (unsigned d = 0; d < digits; ++d) ++counts[d][digit(a.key, d)];

    large_vector<accepted> scratch;
    accepted* from = accepted_.data();
    accepted* to = nullptr;
    for (unsigned d = 0; d < digits; ++d) {
        std::array<std::size_t, buckets>& start = counts[d];
        if (std::find(start.begin(), start.end(), n) != start.end()) continue;  // one value: nothing moves
        if (scratch.empty()) {
            scratch.resize(n);
            to = scratch.data();
        }
        std::size_t sum = 0;
        for (std::size_t& c : start) sum += std::exchange(c, sum);
        for (const accepted* a = from; a != from + n; ++a) to[start[digit(a->key, d)]++] = *a;
        std::swap(from, to);
    }
    if (from != accepted_.data()) std::copy(from, from + n, accepted_.data());
}

void table_load::link(large_vector<address_t>& block, std::vector<run>& runs) const {
    // `last` is the record linked last; it and its ancestors by parent links
    // are the right spine of its run so far, the records that a later record
    // of the run can hang below.
    address_t* last = nullptr;
    run current{};
    const address_t* predecessor = nullptr;
    auto next_old = the_table.aliases.begin();
    const auto end_old = the_table.aliases.end();
    for (std::size_t i = 0; i < accepted_.size(); ++i) {
        const accepted& a = accepted_[i];
        bool passed_old = false;
        for (; next_old != end_old && next_old->first < a.key; ++next_old, passed_old = true)
            predecessor = next_old->second;
        if (passed_old && last != nullptr) {
            current.top = &block[static_cast<std::size_t>(top_of(last) - block.data())];
            runs.push_back(current);  // room was made
            last = nullptr;
        }
        if (last == nullptr) current = {predecessor, next_old == end_old ? nullptr : next_old->second, nullptr};

        address_t& record = block.emplace_back(address_t{a.octet, text_of(a.key), nullptr, nullptr, nullptr});
        // The records inserted after this one leave the spine and hang below it.
        address_t* below = nullptr;
        while (last != nullptr && accepted_[static_cast<std::size_t>(last - block.data())].position > a.position) {
            below = last;
            last = last->parent == nullptr ? nullptr : &block[static_cast<std::size_t>(last->parent - block.data())];
        }
        record.left = below;
        if (below != nullptr) below->parent = &record;
        if (last != nullptr) {
            last->right = &record;
            record.parent = last;
        }
        last = &record;
    }
    if (last != nullptr) {
        current.top = &block[static_cast<std::size_t>(top_of(last) - block.data())];
        runs.push_back(current);
    }
}

bool table_load::finish() {
    // The sets' memory goes before the block's comes.
    aliases_ = position_set();
    addresses_ = position_set();
    const std::size_t n = accepted_.size();
    if (n == 0) return true;

    large_vector<address_t> block;
    std::vector<run> runs;
    try {
        sort_by_key();
        block.reserve(n);
        runs.reserve(std::min(n, the_table.aliases.size() + 1));
    } catch (const std::bad_alloc&) {
        return false;
    }
    link(block, runs);
    large_vector<accepted>().swap(accepted_);

    std::size_t indexed = 0;
    try {
        the_table.addresses.reserve(the_table.addresses.size() + n);
        the_table.blocks.reserve(the_table.blocks.size() + 1);
        for (; indexed < n; ++indexed)
            the_table.aliases.insert(the_table.aliases.end(), *record_key(block[indexed].alias), &block[indexed]);
    } catch (const std::bad_alloc&) {
        while (indexed > 0) the_table.aliases.erase(*record_key(block[--indexed].alias));
        return false;
    }
    constexpr std::size_t fetch_ahead = 16;
    for (std::size_t i = 0; i < n; ++i) {
        if (i + fetch_ahead < n) the_table.addresses.prefetch(block[i + fetch_ahead].octet);
        the_table.addresses.insert(&block[i]);  // room was made
    }
    for (const run& r : runs) attach(r);
    the_table.blocks.push_back({std::move(block), n});
    check_after_change();
    return true;
}
