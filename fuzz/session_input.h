#pragma once
// Layout of an input of the session fuzz target: the content of the default
// record file, a line holding only "%%", then the bytes of standard input.
//
//     10.0.0.1 web\n
//     %%\n
//     5\n\n8\n
//
// The first "%%\n" at the very start or right after a newline separates the
// two; the newline before it belongs to the record file. An input without
// such a line is all standard input, and the session starts without a
// record file.

#include <optional>
#include <string_view>

struct session_input {
    std::optional<std::string_view> records;  // nullopt: no record file
    std::string_view keys;                    // standard input
};

session_input split_session_input(std::string_view bytes);
