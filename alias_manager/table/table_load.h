#pragma once
// Many records added to the table at once, as the load of a record file adds
// them: the same verdicts, the same table and the same tree shape as
// insert_record called for each in turn, without a search per record.
//
// Each record is judged when it is offered, in the order offered, against the
// table and the records accepted before it. finish() then sorts the accepted
// records by alias into one block and links them in one pass as the
// insertions one by one would have. Records inserted in a fixed order into a
// tree that is never rebalanced form the Cartesian tree of alias order and
// insertion order: the first record is the root, and every subtree holds a
// range of aliases whose first-inserted record is its root. Nothing of the
// load is in the table before finish().

#include <cstdint>
#include <vector>

#include "alias_table.h"
#include "large_allocator.h"
#include "position_set.h"

class table_load {
public:
    table_load();
    table_load(const table_load&) = delete;
    table_load& operator=(const table_load&) = delete;

    // Room for about `count` records, so that the accepted records need not
    // move as they come in. A hint; nothing is reserved when it cannot be had.
    void expect(std::size_t count);

    // The verdict that insert_record would give: `added` for a record that
    // finish() adds.
    insert_result offer(const record_fields& fields);

    // Starts loading the memory that offering `fields` reads first; a few
    // records ahead, the misses of their searches overlap.
    void prefetch(const record_fields& fields) const;

    // Whether the table would be empty before the next record offered.
    bool empty() const { return table_was_empty_ && accepted_.empty(); }

    // Adds the accepted records to the table. False, and the table is as it
    // was before the load, when the memory for them cannot be had.
    bool finish();

private:
    struct accepted {
        alias_key key;
        octet_array octet;
        std::uint32_t position;  // among the accepted records: the order of insertion
    };

    bool held_before(alias_key key, const octet_array& octet) const;
    void sort_by_key();
    struct run;
    // Writes the accepted records, sorted, into `block`, which has room for
    // them, and links them; each run goes into `runs`, to be hung into the table.
    void link(large_vector<address_t>& block, std::vector<run>& runs) const;
    static void attach(const run& r);

    bool table_was_empty_;
    large_vector<accepted> accepted_;
    position_set aliases_;
    position_set addresses_;
};
