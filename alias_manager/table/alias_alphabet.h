#pragma once
// The characters an alias may hold and their order, and the longest record
// line the program reads whole. The record-line parser accepts exactly the characters
// that have a rank, and the alias index packs each character as its rank:
// so every alias the parser yields has a key.

#include <array>
#include <cstddef>

constexpr std::size_t alias_max_length = 10;

// Bits of one character in a packed alias.
constexpr unsigned alias_rank_bits = 6;

namespace alphabet_rules {

constexpr unsigned rank_of_byte(int c) {
    if (c == ' ') return 1;
    if (c >= '0' && c <= '9') return 2 + static_cast<unsigned>(c - '0');
    if (c >= 'A' && c <= 'Z') return 12 + static_cast<unsigned>(c - 'A');
    if (c >= 'a' && c <= 'z') return 38 + static_cast<unsigned>(c - 'a');
    return 0;
}

constexpr std::array<unsigned char, 256> rank_table() {
    std::array<unsigned char, 256> ranks{};
    for (int byte = 0; byte < 256; ++byte) ranks[byte] = static_cast<unsigned char>(rank_of_byte(byte));
    return ranks;
}

inline constexpr std::array<unsigned char, 256> ranks = rank_table();

}  // namespace alphabet_rules

// 1 to 63 for the characters of an alias (the blank, the digits, the capital
// and the small letters), rising with their byte values; 0 for any other
// value, the terminator and EOF included. Takes a char or a byte read as int.
constexpr unsigned alias_rank(int c) {
    return alphabet_rules::ranks[static_cast<unsigned char>(c)];
}

constexpr bool is_alias_char(int c) { return alias_rank(c) != 0; }

namespace alphabet_rules {

constexpr std::array<char, 1u << alias_rank_bits> char_table() {
    std::array<char, 1u << alias_rank_bits> chars{};
    for (int byte = 0; byte < 256; ++byte)
        if (rank_of_byte(byte) != 0) chars[rank_of_byte(byte)] = static_cast<char>(byte);
    return chars;
}

inline constexpr std::array<char, 1u << alias_rank_bits> chars = char_table();

}  // namespace alphabet_rules

// The character of rank `rank`, 1 to 63; the terminator for 0.
constexpr char alias_char(unsigned rank) {
    return alphabet_rules::chars[rank & ((1u << alias_rank_bits) - 1)];
}

namespace alphabet_rules {

// Whether ranks rise strictly with byte values (as unsigned bytes, the order
// in which aliases compare) and stay within `alias_rank_bits`.
constexpr bool ranks_follow_byte_order() {
    unsigned previous = 0;
    for (int byte = 0; byte < 256; ++byte) {
        const unsigned rank = alias_rank(byte);
        if (rank == 0) continue;
        if (rank <= previous || rank >= (1u << alias_rank_bits)) return false;
        previous = rank;
    }
    return true;
}

}  // namespace alphabet_rules

static_assert(alias_rank('\0') == 0 && alias_rank(-1) == 0,
              "the terminator must rank below every character, so that a prefix sorts first");
static_assert(alphabet_rules::ranks_follow_byte_order(),
              "ranks must rise with byte values and fit their bits, or packed keys misorder aliases");
static_assert(alias_max_length * alias_rank_bits <= 64, "a packed alias must fit 64 bits");

// The longest entries, in characters.
namespace entry_limit {

// A record line read whole: an add entry, a piece of the record file. The
// longest written line whose octets lie in 0 to 255 fits exactly.
inline constexpr std::size_t record_line = 26;
static_assert(record_line == 4 * 3 + 3 + 1 + alias_max_length);

}  // namespace entry_limit
