#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>

#include "console_input.h"

namespace {

// A read-only stream over `text` for the duration of a test.
class Input {
public:
    explicit Input(std::string text) : text_(std::move(text)) {
        stream_ = text_.empty() ? std::fopen("/dev/null", "r")
                                : fmemopen(text_.data(), text_.size(), "r");
    }
    ~Input() { std::fclose(stream_); }
    std::FILE* get() const { return stream_; }

private:
    std::string text_;
    std::FILE* stream_;
};

// The next line as "text" when whole, "text [cut]" when it did not fit,
// "[end]" at the end of input.
std::string next_line(const Input& in, std::size_t max_chars) {
    auto line = read_line(in.get(), max_chars);
    if (!line) return "[end]";
    return line->text + (line->whole ? "" : " [cut]");
}

TEST(ReadLine, TakesAtMostTheLimitAndLeavesTheRest) {
    Input in("abc\nabcdefghijk\nabcdefghij\n\nxy");
    EXPECT_EQ(next_line(in, 11), "abc");
    EXPECT_EQ(next_line(in, 11), "abcdefghijk [cut]");  // its newline would be the twelfth
    EXPECT_EQ(next_line(in, 11), "");
    EXPECT_EQ(next_line(in, 11), "abcdefghij");
    EXPECT_EQ(next_line(in, 11), "");
    EXPECT_EQ(next_line(in, 11), "xy");  // the end of input ends the last line
    EXPECT_EQ(next_line(in, 11), "[end]");
    Input empty("");
    EXPECT_EQ(next_line(empty, 26), "[end]");
    // At the end of input a line that fits is whole, one that does not stays cut.
    Input fits("abcdefghij");
    EXPECT_EQ(next_line(fits, 11), "abcdefghij");
    Input too_long("abcdefghijk");
    EXPECT_EQ(next_line(too_long, 11), "abcdefghijk [cut]");
    EXPECT_EQ(next_line(too_long, 11), "[end]");
}

TEST(ReadLine, CarriageReturnBeforeTheLineEndIsNotTyped) {
    Input in("abc\r\nabcdefghij\r\nabcdefghijk\r\na\rb\r\r\n\r\nabcdefghi\rx\nxy\r");
    EXPECT_EQ(next_line(in, 11), "abc");
    EXPECT_EQ(next_line(in, 11), "abcdefghij");  // the carriage return is not counted
    EXPECT_EQ(next_line(in, 11), "abcdefghijk [cut]");
    EXPECT_EQ(read_char(in.get()), '\n');  // what is left: one line end
    EXPECT_EQ(next_line(in, 11), "a\rb\r");  // only the one right before the newline goes
    EXPECT_EQ(next_line(in, 11), "");
    EXPECT_EQ(next_line(in, 11), "abcdefghi\rx [cut]");
    EXPECT_EQ(read_char(in.get()), '\n');
    EXPECT_EQ(next_line(in, 11), "xy");  // before the end of input too
    EXPECT_EQ(next_line(in, 11), "[end]");
}

TEST(ReadNumber, SkipsWhiteSpaceAndClampsBeyondThirtyTwoBits) {
    Input in("\n\n  42 -7\t+0\n99999999999 -2147483649 4294967306\n");
    for (int expected : {42, -7, 0, INT_MAX, INT_MIN, INT_MAX}) {
        number_read r = read_number(in.get());
        ASSERT_EQ(r.status, read_status::number);
        EXPECT_EQ(r.value, expected);
    }
    EXPECT_EQ(read_number(in.get()).status, read_status::end_of_input);
}

TEST(ReadNumber, NonNumberLeavesItsTextForTheCaller) {
    Input in("  abc\n- 5\n");
    EXPECT_EQ(read_number(in.get()).status, read_status::not_a_number);
    EXPECT_EQ(read_char(in.get()), 'a');
    EXPECT_TRUE(skip_line(in.get()));
    EXPECT_EQ(read_number(in.get()).status, read_status::not_a_number);  // the sign alone
    EXPECT_EQ(read_number(in.get()).value, 5);
    EXPECT_EQ(read_char(in.get()), '\n');
    EXPECT_EQ(read_char(in.get()), EOF);
    EXPECT_FALSE(skip_line(in.get()));
}

}  // namespace
