#pragma once
// The text form of one record: "a.b.c.d alias". Reading follows the pattern
// "%d.%d.%d.%d %10[0-9a-zA-Z ]"; writing uses "%d.%d.%d.%d %s\n".

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "alias_alphabet.h"

using octet_array = std::array<std::int32_t, 4>;

using alias_text = std::array<char, alias_max_length + 1>;  // always terminated

struct record_fields {
    octet_array octet;
    alias_text alias;
};

// Four integers separated by single dots, each optionally preceded by white
// space and a sign. Whatever follows the fourth number is left alone.
std::optional<octet_array> parse_address(std::string_view text);

// The address, any run of white space, then the alias: the longest run of at
// most 10 digits, ASCII letters and blanks. Text after the alias is ignored.
// nullopt when any of the five parts is missing.
std::optional<record_fields> parse_record_line(std::string_view line);
