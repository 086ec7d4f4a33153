#include "record_line.h"

#include <charconv>

#include "decimal_scan.h"

namespace {

std::optional<octet_array> scan_address(TextSource& in) {
    octet_array octet{};
    for (std::size_t i = 0; i < octet.size(); ++i) {
        if (i > 0) {
            if (in.peek() != '.') return std::nullopt;
            in.next();
        }
        auto value = scan_decimal(in);
        if (!value) return std::nullopt;
        octet[i] = *value;
    }
    return octet;
}

bool holds_nul(std::string_view text) {
    return text.find('\0') != std::string_view::npos;
}

std::size_t decimal_length(std::int32_t value) {
    std::array<char, 11> digits;  // "-2147483648"
    char* const first = digits.data();
    return static_cast<std::size_t>(std::to_chars(first, first + digits.size(), value).ptr - first);
}

}  // namespace

bool fits_record_line(const octet_array& octet, std::string_view alias) {
    std::size_t length = 3 + 1 + alias.size();  // the dots, the blank
    for (std::int32_t value : octet) length += decimal_length(value);
    return length <= entry_limit::record_line;
}

std::optional<octet_array> parse_address(std::string_view text) {
    if (holds_nul(text)) return std::nullopt;
    TextSource in(text);
    return scan_address(in);
}

std::optional<record_fields> parse_record_line(std::string_view line) {
    if (holds_nul(line)) return std::nullopt;
    TextSource in(line);
    auto octet = scan_address(in);
    if (!octet) return std::nullopt;
    skip_space(in);
    record_fields fields{*octet, {}};
    std::size_t length = 0;
    while (length < alias_max_length && is_alias_char(in.peek())) {
        fields.alias[length++] = static_cast<char>(in.peek());
        in.next();
    }
    if (length == 0 || !fits_record_line(fields.octet, fields.alias.data())) return std::nullopt;
    return fields;
}
