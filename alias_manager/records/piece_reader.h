#pragma once
// The pieces of a record file, as read_piece cuts them (see record_file.h),
// cut out of large blocks instead of read a character at a time.

#include <cstddef>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>

// The piece at the start of `text`: its length, and how many bytes it takes
// with its line end. `whole` is false when `text` ends before the piece does
// and what follows could change it; at the end of the input the piece is
// then all of `text`.
struct piece_cut {
    std::size_t length;
    std::size_t taken;
    bool whole;
};
piece_cut cut_piece(std::string_view text);

class piece_reader {
public:
    // Reads `stream` from its descriptor when it has one, so that a terminal
    // or a pipe gives what it holds without waiting for a whole block; from
    // the stream itself otherwise. Nothing may have been read from it yet.
    // A regular file is read up to the size it has now, so that what is
    // appended to it meanwhile (the program's own output, say) is not read;
    // a pipe, a terminal, or a file whose size reads 0, to its end.
    // `before_read` runs before every read.
    piece_reader(std::FILE* stream, std::function<void()> before_read);

    // The next piece, valid until the next call; nullopt at the end of the
    // input, and at a read error, which drops a piece that it cut short.
    std::optional<std::string_view> next();

    // The errno value of the read error that ended the input (ENOMEM when
    // the reader's block could not be had); 0 if none did.
    int error() const { return error_; }

    // The stream's size when it is a regular file; 0 when it is not.
    std::size_t file_size() const;

private:
    void fill();

    std::FILE* stream_;
    std::function<void()> before_read_;
    std::size_t size_;
    std::size_t unread_;  // of a regular file, what is left of its size
    std::unique_ptr<char[]> block_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    bool at_end_ = false;
    int error_ = 0;
};
