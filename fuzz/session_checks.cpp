#include "session_checks.h"

#include <algorithm>

#include "address_tree.h"
#include "fuzz_check.h"

namespace {

constexpr std::size_t add_entry_width = 26;
constexpr std::size_t address_entry_width = 15;

// At most `width` characters from `at`, ending at a NUL, and at a newline
// when the reader stops there.
std::string_view entry_at(std::string_view text, std::size_t at, std::size_t width, bool stop_at_newline) {
    std::string_view entry = text.substr(at, width);
    entry = entry.substr(0, entry.find('\0'));
    if (stop_at_newline) entry = entry.substr(0, entry.find('\n'));
    return entry;
}

void collect_addresses(std::string_view text, std::vector<octet_array>& addresses) {
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (auto fields = parse_record_line(entry_at(text, at, add_entry_width, true)))
            addresses.push_back(fields->octet);
        if (auto octet = parse_address(entry_at(text, at, address_entry_width, false)))
            addresses.push_back(*octet);
    }
}

bool is_valid_alias(std::string_view alias) {
    const auto alias_char = [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == ' ';
    };
    return !alias.empty() && alias.size() <= alias_max_length && alias.front() != ' ' &&
           std::all_of(alias.begin(), alias.end(), alias_char);
}

// The records in alias order, by a walk of its own rather than the store's.
std::vector<const address_t*> records_in_order() {
    std::vector<const address_t*> records;
    std::vector<const address_t*> pending;
    const address_t* node = head;
    while (node != nullptr || !pending.empty()) {
        for (; node != nullptr; node = node->left) pending.push_back(node);
        node = pending.back();
        pending.pop_back();
        records.push_back(node);
        node = node->right;
    }
    return records;
}

}  // namespace

std::vector<octet_array> addresses_a_session_may_store(std::string_view records, std::string_view keys) {
    std::vector<octet_array> addresses;
    collect_addresses(records, addresses);
    collect_addresses(keys, addresses);
    std::sort(addresses.begin(), addresses.end());
    addresses.erase(std::unique(addresses.begin(), addresses.end()), addresses.end());
    return addresses;
}

void check_table(const std::vector<octet_array>& probes) {
    const std::vector<const address_t*> records = records_in_order();
    std::vector<octet_array> held;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const address_t& record = *records[i];
        FUZZ_CHECK(record.alias[alias_max_length] == '\0');
        FUZZ_CHECK(is_valid_alias(alias_of(record)));
        FUZZ_CHECK(fits_record_line(record.octet, alias_of(record)));  // a save loads back the same
        if (i > 0) FUZZ_CHECK(alias_of(*records[i - 1]) < alias_of(record));
        FUZZ_CHECK(record.parent == nullptr ? &record == head
                                            : record.parent->left == &record || record.parent->right == &record);
        FUZZ_CHECK(lookup_func_wrapper(alias_of(record)) == &record);
        FUZZ_CHECK(find_duplicate_octet(head, record.octet));
        held.push_back(record.octet);
    }
    std::sort(held.begin(), held.end());
    FUZZ_CHECK(std::adjacent_find(held.begin(), held.end()) == held.end());
    for (const octet_array& probe : probes)
        FUZZ_CHECK(find_duplicate_octet(head, probe) == std::binary_search(held.begin(), held.end(), probe));
}
