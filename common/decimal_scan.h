#pragma once
// Reading of decimal integers with the rules of a "%d" conversion: white
// space first, an optional sign, then at least one digit. A value beyond the
// signed 32-bit range is clamped to INT32_MIN or INT32_MAX, so every input
// has a defined result.

#include <cstdint>
#include <cstdio>
#include <limits>
#include <optional>
#include <string_view>

constexpr bool is_blank_or_space(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

constexpr bool is_decimal_digit(int c) { return c >= '0' && c <= '9'; }

// A cursor over text, for the scanners below. peek() is EOF at the end.
class TextSource {
public:
    explicit TextSource(std::string_view text) : text_(text) {}
    int peek() const { return pos_ < text_.size() ? static_cast<unsigned char>(text_[pos_]) : EOF; }
    void next() { ++pos_; }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

// A cursor over a stream; reads one character ahead with getc/ungetc.
class StreamSource {
public:
    explicit StreamSource(std::FILE* stream) : stream_(stream) {}
    int peek() const {
        int c = std::getc(stream_);
        if (c != EOF) std::ungetc(c, stream_);
        return c;
    }
    void next() { std::getc(stream_); }

private:
    std::FILE* stream_;
};

template <class Source>
void skip_space(Source& in) {
    while (is_blank_or_space(in.peek())) in.next();
}

// Skips white space and reads one integer. Returns nullopt when no digit
// follows the optional sign; the sign, if any, is consumed all the same.
template <class Source>
std::optional<std::int32_t> scan_decimal(Source& in) {
    skip_space(in);
    bool negative = false;
    if (in.peek() == '+' || in.peek() == '-') {
        negative = in.peek() == '-';
        in.next();
    }
    if (!is_decimal_digit(in.peek())) return std::nullopt;
    // Accumulate in 64 bits and stop growing once past the 32-bit range.
    constexpr std::int64_t cap = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t magnitude = 0;
    while (is_decimal_digit(in.peek())) {
        if (magnitude < cap) magnitude = magnitude * 10 + (in.peek() - '0');
        in.next();
    }
    if (magnitude > cap) magnitude = cap;
    std::int64_t value = negative ? -magnitude : magnitude;
    if (value > std::numeric_limits<std::int32_t>::max()) value = std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(value);
}
