// Fuzz target for the record-line reader. The input is used three ways: as
// one record line (parse_record_line), as an address entry (parse_address),
// and as the content of a record file cut into pieces (read_piece, and the
// loader's piece_reader, which must cut the same).

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "piece_reader.h"
#include "record_file.h"
#include "record_line.h"

namespace {

bool is_valid_alias(const alias_text& alias) {
    const std::string_view text = alias.data();
    return alias[alias_max_length] == '\0' && !text.empty() && text.size() <= alias_max_length &&
           text.front() != ' ' && std::all_of(text.begin(), text.end(), is_alias_char);
}

bool same_fields(const record_fields& a, const record_fields& b) {
    return a.octet == b.octet && std::string_view(a.alias.data()) == std::string_view(b.alias.data());
}

// A run of ten or more digits may not fit an int; the C library's reading of
// such a number is undefined, so the comparison with it skips such text.
bool fits_scanf_safely(std::string_view text) {
    std::size_t run = 0;
    for (char c : text) {
        run = (c >= '0' && c <= '9') ? run + 1 : 0;
        if (run >= 10) return false;
    }
    return true;
}

void check_record_line(std::string_view text) {
    // A NUL byte anywhere refuses the text whole; it is never read up to the
    // NUL. The checks below then take the text before the NUL.
    if (const auto nul = text.find('\0'); nul != std::string_view::npos) {
        FUZZ_CHECK(!parse_record_line(text) && !parse_address(text));
        text = text.substr(0, nul);
    }
    const std::string c_text(text);
    const auto fields = parse_record_line(text);
    const auto address = parse_address(text);

    // A record line starts with an address entry.
    FUZZ_CHECK(!fields || (address && *address == fields->octet));

    // Same verdict and values as the formatted-input patterns themselves,
    // for a record whose written line fits the loader's pieces.
    if (fits_scanf_safely(c_text)) {
        int o[4];
        char alias[alias_max_length + 1] = {};
        const int record_items = std::sscanf(c_text.c_str(), "%d.%d.%d.%d %10[0-9a-zA-Z ]", &o[0],
                                             &o[1], &o[2], &o[3], alias);
        const bool fits = record_items == 5 &&
                          std::snprintf(nullptr, 0, "%d.%d.%d.%d %s", o[0], o[1], o[2], o[3], alias) <=
                              static_cast<int>(entry_limit::record_line);
        FUZZ_CHECK(fields.has_value() == fits);
        if (fields) {
            FUZZ_CHECK(std::equal(o, o + 4, fields->octet.begin()));
            FUZZ_CHECK(std::string_view(alias) == std::string_view(fields->alias.data()));
        }
        const int address_items = std::sscanf(c_text.c_str(), "%d.%d.%d.%d", &o[0], &o[1], &o[2], &o[3]);
        FUZZ_CHECK(address.has_value() == (address_items == 4));
        if (address) FUZZ_CHECK(std::equal(o, o + 4, address->begin()));
    }

    if (!fields) return;
    FUZZ_CHECK(is_valid_alias(fields->alias));
    // The written form fits one piece of the loader and reads back as the same record.
    char written[80];
    const int length = std::snprintf(written, sizeof written, "%d.%d.%d.%d %s", fields->octet[0],
                                     fields->octet[1], fields->octet[2], fields->octet[3],
                                     fields->alias.data());
    FUZZ_CHECK(length > 0 && static_cast<std::size_t>(length) <= entry_limit::record_line);
    const auto reread = parse_record_line(written);
    FUZZ_CHECK(reread && same_fields(*reread, *fields));
}

// The file content as the loader should see it: every carriage return that
// directly precedes a newline is part of the line end and dropped.
std::string without_cr_before_lf(std::string_view text) {
    std::string result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        result.push_back(text[i]);
    }
    return result;
}

void check_pieces(std::string_view text) {
    std::string buffer(text);
    std::FILE* stream = fmemopen(buffer.data(), buffer.size(), "r");
    FUZZ_CHECK(stream != nullptr);
    std::vector<std::string> pieces;
    std::string piece;
    while (read_piece(stream, piece)) {
        FUZZ_CHECK(piece.size() <= entry_limit::record_line);
        FUZZ_CHECK(piece.find('\n') == std::string::npos);
        pieces.push_back(piece);
        FUZZ_CHECK(pieces.size() <= text.size() + 1);  // every piece consumes something
    }
    std::fclose(stream);

    // The loader's reader cuts the same pieces out of blocks.
    stream = fmemopen(buffer.data(), buffer.size(), "r");
    FUZZ_CHECK(stream != nullptr);
    piece_reader reader(stream, [] {});
    for (const std::string& expected : pieces) FUZZ_CHECK(reader.next() == std::string_view(expected));
    FUZZ_CHECK(!reader.next() && reader.error() == 0);
    std::fclose(stream);

    // A piece shorter than 26 characters was ended by a line end, except
    // perhaps the last one, which may have been ended by the end of the file.
    std::string joined;
    for (const auto& p : pieces) {
        joined += p;
        if (p.size() < entry_limit::record_line) joined += '\n';
    }
    const std::string expected = without_cr_before_lf(text);
    const bool ends_without_newline = !expected.empty() && expected.back() != '\n';
    FUZZ_CHECK(joined == expected || (ends_without_newline && joined == expected + '\n'));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    check_record_line(text);
    check_pieces(text);
    return 0;
}
