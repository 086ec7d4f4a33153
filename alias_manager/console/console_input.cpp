#include "console_input.h"

#include "decimal_scan.h"

namespace {

// After a carriage return: whether the line ends there, at a newline (which
// is read) or at the end of input. Any other character is left unread.
bool line_ends_after_cr(std::FILE* in) {
    int c = std::getc(in);
    if (c == '\n' || c == EOF) return true;
    std::ungetc(c, in);
    return false;
}

}  // namespace

std::optional<line_read> read_line(std::FILE* in, std::size_t max_chars) {
    line_read line{{}, false};
    for (bool first = true; line.text.size() < max_chars; first = false) {
        int c = std::getc(in);
        if (c == EOF && first) return std::nullopt;
        if (c == EOF || c == '\n' || (c == '\r' && line_ends_after_cr(in))) {
            line.whole = true;
            break;
        }
        line.text.push_back(static_cast<char>(c));
    }
    return line;
}

number_read read_number(std::FILE* in) {
    StreamSource source(in);
    skip_space(source);
    if (source.peek() == EOF) return {read_status::end_of_input, 0};
    auto value = scan_decimal(source);
    if (!value) return {read_status::not_a_number, 0};
    return {read_status::number, *value};
}

bool skip_line(std::FILE* in) {
    for (;;) {
        int c = std::getc(in);
        if (c == EOF) return false;
        if (c == '\n') return true;
    }
}

bool rest_of_line_is_blank(std::FILE* in) {
    for (;;) {
        int c = std::getc(in);
        if (c == EOF) return true;
        if (c == '\n') {
            std::ungetc(c, in);
            return true;
        }
        if (c != ' ' && c != '\t' && c != '\r') {
            skip_line(in);
            return false;
        }
    }
}

int read_char(std::FILE* in) {
    int c = std::getc(in);
    return c == '\r' && line_ends_after_cr(in) ? '\n' : c;
}
