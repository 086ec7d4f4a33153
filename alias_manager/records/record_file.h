#pragma once
// Record files: the default table loaded at start-up, and the table written
// as one record line per record, in pre-order.

#include <cstdio>
#include <string>
#include <string_view>

#include "default_record_file.h"
#include "save_file.h"
#include "table_operations.h"

// Reads the next piece of a line: up to the newline or entry_limit::record_line
// characters, whichever comes first. The newline, and a carriage return just before it,
// end the piece and are not part of it. Returns false at end of input, and
// at a read error, which cuts no piece short. One character at a time, this is
// the definition of the pieces: the load reads them in blocks (piece_reader),
// and its tests and the fuzzer check it against this.
bool read_piece(std::FILE* stream, std::string& piece);

// Loads the record file `path` into the table; a relative name is taken from
// the working directory. The program's default is `init_file`.
void init_func(std::string_view path);

// Adds every line of `stream` to the table, printing for each piece what
// add_func would, but in bulk (see table_load.h): the stream is read in large
// blocks, from its descriptor when it has one, so nothing may have been read
// from it yet. A read error is reported on standard error with `name`; the
// records read before it are kept. A record that there is no memory for is
// refused in its place; when the alias index cannot get the memory for the
// records in the end, none of them is added and "Out of memory, none of the
// records above were added." ends the messages. Returns whether the table
// took all of the stream: no read error ended it and no record was refused
// for want of memory.
bool load_records(std::FILE* stream, std::string_view name);

// Writes the whole table to the file `path` leads to, through save_file:
// asks `ask` before overwriting a file changed on disk since.
save_result save_to_file_wrapper(std::string_view path, const ask_function& ask);

// Writes the subtree of `node` in pre-order to `stream`.
void save_to_file_func(std::FILE* stream, const address_t* node);
