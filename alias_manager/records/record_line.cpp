#include "record_line.h"

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

}  // namespace

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
