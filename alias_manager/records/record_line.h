#pragma once
// The text form of one record: "a.b.c.d alias". Reading follows the pattern
// "%d.%d.%d.%d %10[0-9a-zA-Z ]"; writing uses "%d.%d.%d.%d %s\n".

#include <optional>
#include <string_view>

#include "address_record.h"

// Four integers separated by single dots, each optionally preceded by white
// space and a sign. Whatever follows the fourth number is left alone, but a
// text that holds a NUL byte anywhere is refused (nullopt).
std::optional<octet_array> parse_address(std::string_view text);

// The address, any run of white space, then the alias: the longest run of at
// most 10 digits, ASCII letters and blanks. Text after the alias is ignored.
// nullopt when any of the five parts is missing, when the line holds a NUL
// byte anywhere (C text would end there, and what follows would be lost), or
// when the record's written form would not fit a record line.
std::optional<record_fields> parse_record_line(std::string_view line);
