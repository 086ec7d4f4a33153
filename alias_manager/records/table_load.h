#pragma once
// Many records added to the empty table at once, as the load of a record
// file adds them: the same verdicts, the same table and the same tree shape
// as insert_record called for each in turn, without a search of the tree per
// record.
//
// Each record is judged when it is offered, in the order offered, against
// the records accepted before it, and room in the table is made for it
// before its verdict is given. finish() then sorts the accepted records by
// alias and hands them to the table (fill_table), which links them as the
// insertions one by one would have. Nothing of the load is in the table
// before finish(). Into a table that is not empty, each record offered is
// simply inserted.

#include <cstddef>
#include <cstdint>

#include "alias_table.h"
#include "large_allocator.h"
#include "position_set.h"

class table_load {
public:
    table_load() = default;
    table_load(const table_load&) = delete;
    table_load& operator=(const table_load&) = delete;

    // Room for about `count` records, so that the accepted records need not
    // move and the sets need not grow as they come in. A hint; nothing is
    // reserved when it cannot be had.
    void expect(std::size_t count);

    // The verdict that insert_record would give: `added` for a record that
    // finish() adds, `out_of_memory` for one there would be no room for.
    insert_result offer(const record_fields& fields);

    // Starts loading the memory that offering `fields` reads first; a few
    // records ahead, the misses of their searches overlap.
    void prefetch(const record_fields& fields) const;

    // Whether the table would be empty before the next record offered.
    bool empty() const { return head == nullptr && accepted_.empty(); }

    // Adds the accepted records to the table. False, and none of them is
    // added, when the alias index or the address set cannot get the memory
    // for them.
    bool finish();

private:
    void sort_by_key();

    bool bulk_ = head == nullptr;
    large_vector<loaded_record> accepted_;  // in the order accepted: a record's position is its index
    position_set aliases_;
    position_set addresses_;
};
