#pragma once
// Readers for the interactive console: lines, numbers and characters from a
// stream, with defined results for any input.

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

// A line typed at a prompt, without its line end.
struct line_read {
    std::string text;
    bool whole;  // it ended within the limit
};

// A line of at most `max_chars` characters, its newline counted among them
// when it fits; what does not fit stays unread and the line comes back cut
// (`whole` false). The end of input ends a last line as its newline would.
// One carriage return directly before the line end belongs to the line end,
// as if it had not been typed: it is neither in the text nor counted.
// nullopt at end of input before any character was read.
std::optional<line_read> read_line(std::FILE* in, std::size_t max_chars);

enum class read_status { number, not_a_number, end_of_input };

struct number_read {
    read_status status;
    std::int32_t value;  // set when status is `number`; clamped to 32 bits
};

// Skips white space, empty lines included, then reads a "%d" number. On
// `not_a_number` the offending character is left unread.
number_read read_number(std::FILE* in);

// Discards input up to and including the next newline; false at end of input.
bool skip_line(std::FILE* in);

// Reads on in a line that was cut at an entry's limit. Blanks (space, tab,
// carriage return) are passed over and the newline is left unread, as if the
// entry had fitted; at any other character the rest of the line, its newline
// included, is discarded and the answer is false.
bool rest_of_line_is_blank(std::FILE* in);

// The next character, white space included, or EOF. A carriage return that
// ends a line (a newline or the end of input follows) is read with the
// newline and comes back as a newline.
int read_char(std::FILE* in);
