#include "answers.h"

#include <cstdio>

#include "output_status.h"

line_read answer_line(std::size_t max_chars) {
    flush_output();
    auto line = read_line(stdin, max_chars);
    if (!line) throw end_of_input{};
    return *line;
}

number_read answer_number() {
    flush_output();
    const number_read number = read_number(stdin);
    if (number.status == read_status::end_of_input) throw end_of_input{};
    return number;
}

void discard_line() {
    flush_output();
    if (!skip_line(stdin)) throw end_of_input{};
}

int answer_char() {
    flush_output();
    return read_char(stdin);
}
