#include "address_record.h"

#include <charconv>

namespace {

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
