#include "piece_reader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cerrno>
#include <cstring>
#include <new>
#include <utility>

#include "alias_alphabet.h"

namespace {

// A regular file is read in blocks of up to a MiB, no larger than it needs;
// anything else in blocks of 64 KiB, the most a pipe holds by default.
constexpr std::size_t largest_block = std::size_t{1} << 20;
constexpr std::size_t other_block = std::size_t{1} << 16;
constexpr std::size_t smallest_block = std::size_t{1} << 12;

}  // namespace

piece_cut cut_piece(std::string_view text) {
    for (std::size_t n = 0; n < entry_limit::record_line; ++n) {
        if (n == text.size()) return {n, n, false};
        if (text[n] == '\n') return {n, n + 1, true};
        if (text[n] == '\r') {
            if (n + 1 == text.size()) return {n, n, false};
            if (text[n + 1] == '\n') return {n, n + 2, true};  // the carriage return belongs to the line end
        }
    }
    return {entry_limit::record_line, entry_limit::record_line, true};
}

piece_reader::piece_reader(std::FILE* stream, std::function<void()> before_read)
    : stream_(stream), before_read_(std::move(before_read)), size_(other_block), unread_(file_size()) {
    if (unread_ != 0) size_ = std::clamp(unread_ + 1, smallest_block, largest_block);
    if (unread_ == 0) unread_ = SIZE_MAX;
    try {
        block_ = std::make_unique_for_overwrite<char[]>(size_);
    } catch (const std::bad_alloc&) {
        at_end_ = true;  // a read error, as far as the caller can tell
        error_ = ENOMEM;
    }
}

std::optional<std::string_view> piece_reader::next() {
    for (;;) {
        const std::string_view rest(block_.get() + begin_, end_ - begin_);
        const piece_cut cut = cut_piece(rest);
        if (cut.whole) {
            begin_ += cut.taken;
            return rest.substr(0, cut.length);
        }
        if (at_end_) {
            begin_ = end_;
            if (rest.empty() || error_ != 0) return std::nullopt;
            return rest;
        }
        fill();
    }
}

void piece_reader::fill() {
    before_read_();
    // The undecided rest, shorter than a piece with its line end, moves to the front.
    std::memmove(block_.get(), block_.get() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
    char* const into = block_.get() + end_;
    const std::size_t room = std::min(size_ - end_, unread_);
    if (room == 0) {
        at_end_ = true;
        return;
    }
    if (const int fd = fileno(stream_); fd >= 0) {
        ssize_t got;
        do {
            got = read(fd, into, room);
        } while (got < 0 && errno == EINTR);
        if (got > 0) {
            end_ += static_cast<std::size_t>(got);
            unread_ -= static_cast<std::size_t>(got);
            return;
        }
        at_end_ = true;
        if (got < 0) error_ = errno;
        return;
    }
    const std::size_t got = std::fread(into, 1, room, stream_);
    end_ += got;
    unread_ -= got;
    if (got < room) {  // a stream falls short only at its end or at an error
        at_end_ = true;
        if (std::ferror(stream_)) error_ = errno;
    }
}

std::size_t piece_reader::file_size() const {
    struct stat status {};
    const int fd = fileno(stream_);
    if (fd < 0 || fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) return 0;
    return static_cast<std::size_t>(status.st_size);
}
