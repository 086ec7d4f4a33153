#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "record_line.h"

namespace {

std::string alias(const std::optional<record_fields>& fields) {
    return fields ? std::string(fields->alias.data()) : "<refused>";
}

TEST(RecordLine, ReadsAddressThenAlias) {
    auto f = parse_record_line("1.2.3.4 abc");
    ASSERT_TRUE(f);
    EXPECT_EQ(f->octet, (octet_array{1, 2, 3, 4}));
    EXPECT_EQ(alias(f), "abc");
    // White space and signs before each number, any run of white space before the alias.
    f = parse_record_line(" +1.\t-2. 3.\n04abc");
    ASSERT_TRUE(f);
    EXPECT_EQ(f->octet, (octet_array{1, -2, 3, 4}));
    EXPECT_EQ(alias(f), "abc");
    EXPECT_EQ(alias(parse_record_line("1.2.3.4 \t  x")), "x");
    EXPECT_EQ(alias(parse_record_line("\f1.\v2.3.4\vabc")), "abc");  // every white space character
    EXPECT_EQ(parse_record_line("300.1000.-7.0 a")->octet, (octet_array{300, 1000, -7, 0}));
}

TEST(RecordLine, AliasIsLongestRunOfTenAllowedCharacters) {
    EXPECT_EQ(alias(parse_record_line("1.2.3.4 ab cd ef gh ij")), "ab cd ef g");
    EXPECT_EQ(alias(parse_record_line("1.2.3.4 Abc9 ")), "Abc9 ");
    EXPECT_EQ(alias(parse_record_line("1.2.3.4 name-rest")), "name");
    EXPECT_EQ(alias(parse_record_line("1.2.3.4 name_rest")), "name");
    EXPECT_EQ(alias(parse_record_line("1.2.3.4 crlf\r")), "crlf");
    EXPECT_EQ(alias(parse_record_line("1.2.3.4 caf\xc3\xa9")), "caf");
    EXPECT_EQ(alias(parse_record_line("1.2.3.4 0123456789x")), "0123456789");
}

TEST(RecordLine, RefusesLinesMissingAnyPart) {
    for (const char* line : {"", "   ", "abc", "1.2.3 abc", "1.2.3.4", "1.2.3.4   ", "1.2.3.4 -x",
                             "1..2.3.4 a", "1 .2.3.4 a", "1,2,3,4 a", "1.2.3.+ a", "0x1.2.3.4 a",
                             "-.1.2.3 a", "1.2.3.4\t_"})
        EXPECT_FALSE(parse_record_line(line)) << '"' << line << '"';
    // A NUL byte anywhere refuses the text, even after a whole record or address.
    using namespace std::string_literals;
    for (const std::string& line : {"\0"s, "1.2.3.4 abc\0"s, "\0"s + "1.2.3.4 abc", "1.2.3.4 ab\0c"s,
                                    "1.2.3.4\0 abc"s, "1.2.3.4 abc\n\0"s}) {
        EXPECT_FALSE(parse_record_line(line)) << testing::PrintToString(line);
        EXPECT_FALSE(parse_address(line)) << testing::PrintToString(line);
    }
}

TEST(RecordLine, NumbersBeyondThirtyTwoBitsAreClamped) {
    EXPECT_EQ(parse_address("2147483647.2147483648.-2147483648.-99999999999999999999999"),
              (octet_array{INT_MAX, INT_MAX, INT_MIN, INT_MIN}));
    EXPECT_EQ(parse_record_line("99999999999999.0.0.-1 big")->octet, (octet_array{INT_MAX, 0, 0, -1}));
    EXPECT_EQ(parse_address("000000000000000000000000000012.0.0.1")->at(0), 12);
}

TEST(RecordLine, WrittenFormMustFitTwentySixCharacters) {
    // What counts is the line a save writes: signs, zeros and blanks fall
    // away, clamping shortens, and one blank comes in before the alias.
    EXPECT_EQ(alias(parse_record_line("1111111111.1.1.1abcdefghij")), "<refused>");  // 26 read, 27 written
    EXPECT_EQ(alias(parse_record_line("-1111111111.1.1.1 abcdefgh")), "abcdefgh");
    EXPECT_EQ(alias(parse_record_line("+0001.+0002.  0003.0004     abcdefghij")), "abcdefghij");
    EXPECT_EQ(alias(parse_record_line("99999999999.1.1.1 abcdefghij")), "<refused>");  // 2147483647
}

TEST(RecordLine, AddressAloneIgnoresWhatFollows) {
    EXPECT_EQ(parse_address("10.0.0.7 \n"), (octet_array{10, 0, 0, 7}));
    EXPECT_EQ(parse_address("10.0.0.7.8.9"), (octet_array{10, 0, 0, 7}));
    EXPECT_FALSE(parse_address("10.0.0"));
    EXPECT_FALSE(parse_address("10.0.0.\n"));
    EXPECT_FALSE(parse_address(""));
}

}  // namespace
