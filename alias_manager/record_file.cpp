#include "record_file.h"

#include <memory>

#include "tree_walk.h"

namespace {

struct file_closer {
    void operator()(std::FILE* stream) const { std::fclose(stream); }
};
using file_handle = std::unique_ptr<std::FILE, file_closer>;

void report_error(const std::string& text) {
    std::fflush(stdout);  // keep the console order of both streams
    std::perror(text.c_str());
}

}  // namespace

bool read_piece(std::FILE* stream, std::string& piece) {
    piece.clear();
    while (piece.size() < piece_max_length) {
        int c = getc_unlocked(stream);
        if (c == EOF) return !piece.empty();
        if (c == '\n') return true;
        if (c == '\r') {
            int after = getc_unlocked(stream);
            if (after == '\n') return true;
            if (after != EOF) ungetc(after, stream);
        }
        piece.push_back(static_cast<char>(c));
    }
    return true;
}

void init_func(std::string_view path) {
    const std::string name(path);
    std::printf("Adding lines from file name: %s\n", name.c_str());
    file_handle file(std::fopen(name.c_str(), "r"));
    if (!file) {
        report_error("Openfile failed: ");
        std::printf("ERROR opening file\n");
        return;
    }
    std::string piece;
    while (read_piece(file.get(), piece)) add_func(piece);
    file.reset();
    std::printf("Init done\n___________________________\n\n");
}

bool save_to_file_wrapper(std::string_view path) {
    const std::string name(path);
    const std::string failure = "Cannot save to '" + name + "'";
    file_handle file(std::fopen(name.c_str(), "w"));
    if (!file) {
        report_error(failure);
        return false;
    }
    save_to_file_func(file.get(), head);
    bool written = std::ferror(file.get()) == 0;
    written = std::fclose(file.release()) == 0 && written;  // closing flushes the last block
    if (!written) report_error(failure);
    return written;
}

void save_to_file_func(std::FILE* stream, const address_t* node) {
    walk_pre_order(node, [stream](const address_t& record) {
        return std::fprintf(stream, "%d.%d.%d.%d %s\n", record.octet[0], record.octet[1],
                            record.octet[2], record.octet[3], record.alias.data()) >= 0;
    });
}
