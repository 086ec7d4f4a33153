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

TEST(ReadLine, TakesAtMostTheLimitAndLeavesTheRest) {
    Input in("abc\nabcdefghijk\nxy");
    EXPECT_EQ(read_line(in.get(), 11), "abc\n");
    EXPECT_EQ(read_line(in.get(), 11), "abcdefghijk");
    EXPECT_EQ(read_line(in.get(), 11), "\n");
    EXPECT_EQ(read_line(in.get(), 11), "xy");
    EXPECT_EQ(read_line(in.get(), 11), std::nullopt);
    Input empty("");
    EXPECT_EQ(read_line(empty.get(), 26), std::nullopt);
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
