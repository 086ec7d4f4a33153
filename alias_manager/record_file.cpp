#include "record_file.h"

#include <csignal>
#include <cstring>

#include "file_replace.h"
#include "tree_walk.h"

namespace {

void report_error(const std::string& text, int error = errno) {
    std::fflush(stdout);  // keep the console order of both streams
    std::fprintf(stderr, "%s: %s\n", text.c_str(), std::strerror(error));
}

// While the table is saved, a reader that goes away is a failed write to be
// reported, not the end of the session.
class broken_pipe_ignored {
public:
    broken_pipe_ignored() {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGPIPE, &ignore, &previous_);
    }
    ~broken_pipe_ignored() { sigaction(SIGPIPE, &previous_, nullptr); }
    broken_pipe_ignored(const broken_pipe_ignored&) = delete;
    broken_pipe_ignored& operator=(const broken_pipe_ignored&) = delete;

private:
    struct sigaction previous_ {};
};

}  // namespace

bool read_piece(std::FILE* stream, std::string& piece) {
    piece.clear();
    while (piece.size() < piece_max_length) {
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
        report_error("Openfile failed: ");
        std::printf("ERROR opening file\n");
        return;
    }
    load_records(file.get(), name);
    file.reset();
    std::printf("Init done\n___________________________\n\n");
}

void load_records(std::FILE* stream, std::string_view name) {
    std::string piece;
    while (read_piece(stream, piece)) add_func(piece);
    if (std::ferror(stream)) report_error("Cannot read '" + std::string(name) + "'");
}

bool save_to_file_wrapper(std::string_view path) {
    const std::string name(path);
    if (name.find('\0') != std::string::npos) {  // no file has such a name: never save to a part of it
        report_error("Cannot save to '" + std::string(name.c_str()) + "'", EINVAL);
        return false;
    }
    broken_pipe_ignored during_save;
    int error = replace_file(name, [](std::FILE* stream) { save_to_file_func(stream, head); });
    if (error != 0) report_error("Cannot save to '" + name + "'", error);
    return error == 0;
}

void save_to_file_func(std::FILE* stream, const address_t* node) {
    walk_pre_order(node, [stream](const address_t& record) {
        return std::fprintf(stream, "%d.%d.%d.%d %s\n", record.octet[0], record.octet[1],
                            record.octet[2], record.octet[3], record.alias.data()) >= 0;
    });
}
