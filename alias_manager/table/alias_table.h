#pragma once
// The table: every record, in an unbalanced binary search tree ordered by
// alias and rooted at `head`, beside an ordered index of the aliases and the
// set of the addresses held. The three must agree; only insert_record,
// readdress_record, erase_record and fill_table change any of them, and each
// keeps all three in step. Everything else reads the records through
// pointers to const. Nothing here prints.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "address_index.h"
#include "address_record.h"
#include "alias_index.h"
#include "large_allocator.h"

// Root of the table; null while it is empty. Owns every record.
extern const address_t* const& head;

enum class insert_result { added, duplicate, out_of_memory, not_an_alias };

// Adds a record unless its alias or its address is held (`duplicate`).
// `not_an_alias`: the alias is empty, unterminated, or holds a character
// outside the alphabet; the parser yields none such.
insert_result insert_record(const record_fields& fields);

// The key of an alias that a record may hold; nullopt for any other text.
std::optional<alias_key> record_key(const alias_text& alias);

// A record of a load: its alias, its address, and its place in the order in
// which the records were read.
struct loaded_record {
    alias_key key;
    octet_array octet;
    std::uint32_t position;
};

// Makes room for a load of `count` records into the empty table: their
// block, so that fill_table with that many needs no more memory but for the
// alias index and the address set. False when it cannot be had; the room
// made before stays.
bool reserve_table(std::size_t count);

// Makes the records of a load the whole of the empty table, with the tree
// that inserting them one by one in the order of their positions would
// build. They come sorted by alias, with no alias and no address twice, and
// room was made for them. False, and the table stays empty, when the alias
// index or the address set cannot get the memory for them. `records` is
// emptied either way.
bool fill_table(large_vector<loaded_record>& records);

// Gives `record` the address `octet`. False, and nothing changes, when
// `record` is not a record of the table or some record, `record` itself
// included, holds `octet`.
bool readdress_record(const address_t* record, const octet_array& octet);

// Unlinks `record` keeping the alias order, and frees it. False, and nothing
// changes, when `record` is not a record of the table.
bool erase_record(const address_t* record);

// Where a record with `alias` belongs below `root`, as a descent from `root`
// would find it: the empty link, the record that holds it (null for head)
// and the index's place for it. `link` is null when a record below `root`
// has this alias. At head the index answers without a descent; `root` is
// null only for an empty table, whose link is head itself.
struct empty_node {
    const address_t* parent;
    const address_t* const* link;
    alias_index::position at;
};
empty_node find_empty_node(const address_t* root, std::string_view alias);

// Whether some record of the subtree of `root` holds exactly these octets.
bool find_duplicate_octet(const address_t* root, const octet_array& octet);

// The record of the subtree of `node` whose alias is `alias`, or null.
const address_t* lookup_func(std::string_view alias, const address_t* node);

// lookup_func from head.
const address_t* lookup_func_wrapper(std::string_view alias);

// The record of the subtree of `node` whose left or right link is `target`;
// null when `target` is `node` itself or not below it.
const address_t* find_parent(const address_t* node, const address_t* target);

// The index, to read: the listings walk the whole table in its order.
const alias_index& alias_order();

// A description of the first broken rule of the table, empty when all hold:
// the tree is in strict alias order, every child links back to its parent,
// every record fits the line a save writes for it, the index holds exactly the records of the tree in the same order, and the
// address set holds exactly their addresses, each once.
std::string check_invariants();

// Gives back the memory that the empty table keeps for its indexes and
// blocks, so that it is as at the start of the process; no effect on a
// table that holds records. The program never does; tests and the session
// fuzzer start each case so.
void reset_table();

// From now on each change ends with check_invariants(), and a broken rule
// ends the process with its description on standard error (fuzzing).
void check_invariants_after_every_change();
