#include "record_file.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "disk_state.h"
#include "file_replace.h"
#include "output_status.h"
#include "piece_reader.h"
#include "table_load.h"
#include "tree_walk.h"

namespace {

// The files this session loaded or saved, as they were then.
seen_files seen;

void report(std::string_view text, const char* reason) {
    std::fflush(stdout);  // keep the console order of both streams
    std::fprintf(stderr, "%.*s: %s\n", static_cast<int>(text.size()), text.data(), reason);
}

void report_error(std::string_view text, int error) {
    report(text, std::strerror(error));
}

// While the table is saved, a reader that goes away or a file-size limit is
// a failed write to be reported, not the end of the session.
class write_signals_ignored {
public:
    write_signals_ignored() {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGPIPE, &ignore, &previous_pipe_);
        sigaction(SIGXFSZ, &ignore, &previous_size_);
    }
    ~write_signals_ignored() {
        sigaction(SIGPIPE, &previous_pipe_, nullptr);
        sigaction(SIGXFSZ, &previous_size_, nullptr);
    }
    write_signals_ignored(const write_signals_ignored&) = delete;
    write_signals_ignored& operator=(const write_signals_ignored&) = delete;

private:
    struct sigaction previous_pipe_ {};
    struct sigaction previous_size_ {};
};

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
        report_error("Openfile failed: ", errno);
        std::printf("ERROR opening file\n");
        return;
    }
    load_records(file.get(), name);
    seen.remember(name);
    file.reset();
    std::printf("Init done\n___________________________\n\n");
}

void load_records(std::FILE* stream, std::string_view name) {
    output_buffer& o = out();
    table_load load;
    // Pieces are parsed a few ahead of their verdicts, so that the searches
    // of the verdicts find their memory on the way. Nullopt: no record.
    std::array<std::optional<record_fields>, 16> ahead;
    std::size_t waiting = 0;
    const auto judge_waiting = [&] {
        for (std::size_t i = 0; i < waiting; ++i) {
            if (const auto& fields = ahead[i]) {
                const bool first = load.empty();
                print_insertion(o, first, load.offer(*fields), fields->alias.data());
            } else {
                print_invalid_line(o);
            }
        }
        waiting = 0;
    };
    piece_reader reader(stream, [&] {
        judge_waiting();
        o.flush();
        flush_output();  // what the records read so far printed, before waiting for more
    });
    // A record takes at least eight bytes of the file ("0.0.0.0a").
    if (const std::size_t size = reader.file_size(); size != 0) load.expect(size / 8 + 1);
    while (const auto piece = reader.next()) {
        if (piece->empty()) continue;
        ahead[waiting] = parse_record_line(*piece);
        if (ahead[waiting]) load.prefetch(*ahead[waiting]);
        if (++waiting == ahead.size()) judge_waiting();
    }
    judge_waiting();
    if (!load.finish()) o.text("Out of memory, skipping.\n");
    o.flush();
    if (reader.error() != 0) report_error("Cannot read '" + std::string(name) + "'", reader.error());
}

bool save_to_file_wrapper(std::string_view path) {
    const std::string name(path);
    // No file name holds a NUL byte: the name cut there would be another file.
    int error = EINVAL;
    if (name.find('\0') == std::string::npos) {
        const write_signals_ignored during_save;
        error = replace_file(name, [](std::FILE* stream) { save_to_file_func(stream, head); });
    }
    if (error != 0) {
        report_error("Cannot save to '" + std::string(name.c_str()) + "'", error);  // shown as the confirmation shows it
        return false;
    }
    seen.remember(name);
    return true;
}

bool changed_on_disk(std::string_view path) {
    return seen.changed(path);
}

void report_declined_save(std::string_view path) {
    report("Cannot save to '" + std::string(path) + "'", "changed on disk since it was read");
}

void save_to_file_func(std::FILE* stream, const address_t* node) {
    walk_pre_order(node, [stream](const address_t& record) {
        return std::fprintf(stream, "%d.%d.%d.%d %s\n", record.octet[0], record.octet[1],
                            record.octet[2], record.octet[3], record.alias.data()) >= 0;
    });
}
