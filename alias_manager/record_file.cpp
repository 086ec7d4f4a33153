#include "record_file.h"

#include <cerrno>
#include <cstring>

#include "stream_handle.h"
#include "tree_walk.h"

namespace {

void report_error(std::string_view text, int error) {
    std::fflush(stdout);  // keep the console order of both streams
    std::fprintf(stderr, "%.*s: %s\n", static_cast<int>(text.size()), text.data(), std::strerror(error));
}

}  // namespace

bool read_piece(std::FILE* stream, std::string& piece) {
    piece.clear();
    while (piece.size() < entry_limit::record_line) {
        int c = getc_unlocked(stream);
        if (c == EOF) return !piece.empty() && !std::ferror(stream);  // a read error cuts no piece short
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
    stream_handle file(std::fopen(name.c_str(), "r"));
    if (!file) {
        const int error = errno;
        if (error == ENOENT) remember_absent(name);
        report_error("Openfile failed: ", error);
        std::printf("ERROR opening file\n");
        return;
    }
    load_records(file.get(), name);
    remember_loaded(name, fileno(file.get()));  // the file read, whatever the name leads to now
    file.reset();
    std::printf("Init done\n___________________________\n\n");
}

void load_records(std::FILE* stream, std::string_view name) {
    std::string piece;
    while (read_piece(stream, piece)) add_func(piece);
    if (std::ferror(stream)) {
        const int error = errno;  // before anything else can change it
        report_error("Cannot read '" + std::string(name) + "'", error);
    }
}

save_result save_to_file_wrapper(std::string_view path, const ask_function& ask) {
    return save_file(path, [](std::FILE* stream) { save_to_file_func(stream, head); }, ask);
}

void save_to_file_func(std::FILE* stream, const address_t* node) {
    walk_pre_order(node, [stream](const address_t& record) {
        return std::fprintf(stream, "%d.%d.%d.%d %s\n", record.octet[0], record.octet[1],
                            record.octet[2], record.octet[3], record.alias.data()) >= 0;
    });
}
