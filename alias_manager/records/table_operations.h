#pragma once
// The table's operations as the menu and the record file use them. Each
// prints its own progress and result messages on standard output.

#include <cstdint>
#include <string_view>

#include "alias_table.h"
#include "output_buffer.h"
#include "record_line.h"

// Parses a record line (without its newline) and inserts it, refusing a
// duplicate alias or address. An empty line is ignored silently.
void add_func(std::string_view line);

// The messages of add_func, into `o`: for a line that is no record, and for
// the insertion of `alias` into a table that was empty (`first`) or not.
void print_invalid_line(output_buffer& o);
void print_insertion(output_buffer& o, bool first, insert_result result, std::string_view alias);

// Gives `record` a new address, unless some record holds it already.
inline void update_octet(const address_t* record, const octet_array& octet) {
    readdress_record(record, octet);
}

// Unlinks `record`, a record of the table, keeps the alias order and frees it.
inline void delete_func(const address_t* record) {
    erase_record(record);
}

// Deletes every record, or stops at one that the table does not hold, and
// then gives back the memory of the empty table. The program never does
// (nothing is freed when it ends); tests and the session fuzzer start each
// case from an empty table, as at the start of the process.
inline void clear_table() {
    while (head != nullptr && erase_record(head)) {
    }
    reset_table();
}

// Full listing in alias order, then the count line.
void display_list();
std::int32_t display_list_func(const address_t* node);

// Listing of the records whose first two octets are `first` and `second`.
void display_aliases(std::int32_t first, std::int32_t second);
std::int32_t display_aliases_func(const address_t* node, std::int32_t first, std::int32_t second);
