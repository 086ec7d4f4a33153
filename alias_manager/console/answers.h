#pragma once
// The user's answers to the prompts of a session, read from standard input.
// Each reader first puts the prompt printed before it on the screen. At the
// end of input the session is over: every reader but answer_char throws
// end_of_input, which only the menu loop catches.

#include <cstddef>

#include "console_input.h"

struct end_of_input {};

// A line of at most `max_chars` characters (see read_line).
line_read answer_line(std::size_t max_chars);

// A "%d" number; `not_a_number` leaves the offending text unread.
number_read answer_number();

// Waits for a newline and discards what comes before it.
void discard_line();

// The next character (see read_char), or EOF: its caller goes on to a read
// that ends the session.
int answer_char();
