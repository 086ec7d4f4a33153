#include "save_file.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "name_walk.h"

namespace {

// The files this session loaded or saved, as they were then.
seen_files seen;

constexpr const char* declined = "changed on disk since it was read";
constexpr int max_attempts = 10;

void report(const std::string& text, const char* reason) {
    std::fflush(stdout);  // keep the console order of both streams
    std::fprintf(stderr, "%s: %s\n", text.c_str(), reason);
}

save_result failed(const std::string& shown, const char* reason) {
    report("Cannot save to '" + shown + "'", reason);
    return save_result::failed;
}

save_result failed(const std::string& shown, int error) {
    return failed(shown, std::strerror(error));
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

// `name` made absolute against the working directory, without "." and empty
// components; as given when the working directory has no name.
std::string absolute_name(std::string_view name) {
    std::string whole;
    if (!name.starts_with('/')) {
        std::string directory(4096, '\0');
        if (fs_calls.getcwd(directory.data(), directory.size()) == nullptr) return std::string(name);
        whole = directory.c_str();
    }
    for (std::size_t start = 0; start <= name.size();) {
        std::size_t end = name.find('/', start);
        if (end == std::string_view::npos) end = name.size();
        const std::string_view part = name.substr(start, end - start);
        if (!part.empty() && part != ".") (whole += '/') += part;
        start = end + 1;
    }
    return whole.empty() ? "/" : whole;
}

// Whether `name` leads to the file `file` now.
bool leads_to(const std::string& name, const file_state& file) {
    const name_target target = walk_name(name);
    file_state there;
    return target.error == 0 && target.directory && state_at(target.directory.get(), target.name, there) == 0 &&
           same_file(there, file);
}

}  // namespace

save_result save_file(std::string_view name, const fill_function& fill, const ask_function& ask) {
    const std::string shown(name.substr(0, name.find('\0')));  // as the confirmation line shows it
    if (shown.size() != name.size()) return failed(shown, EINVAL);  // no file name holds a NUL byte
    const write_signals_ignored during_save;
    const std::string key = absolute_name(name);
    std::optional<file_state> agreed;  // the state the user last agreed to overwrite
    bool asked = false;
    // Each attempt walks the name once and works from what it found; another
    // program's change seen before the file is written starts a new one.
    for (int attempt = 1;; ++attempt) {
        const name_target target = walk_name(name);
        if (target.error != 0) return failed(shown, target.error);
        if (target.descriptor >= 0) {
            const int error = write_to_descriptor(target.descriptor, fill);
            return error == 0 ? save_result::saved : failed(shown, error);
        }
        const int directory = target.directory.get();
        old_file old;
        if (const int error = examine_target(directory, target.name, old); error != 0) return failed(shown, error);
        // A link put in place since the walk: walk it.
        if (S_ISLNK(old.status.st_mode) && attempt < max_attempts) continue;
        const bool agreed_to = agreed && same_state(*agreed, old.state);
        if (!agreed_to && seen.changed(key, old.state, leads_to)) {
            const answer overwrite = ask();
            if (overwrite == answer::end_of_input && !asked) return save_result::end_of_input;
            if (overwrite != answer::yes) return failed(shown, declined);
            asked = true;
        }
        file_state now;
        const auto unchanged = [&] {
            return state_at(directory, target.name, now) != 0 || same_state(now, old.state);
        };
        const write_outcome outcome = write_file(directory, target.name, old, fill, unchanged);
        if (outcome.changed && attempt < max_attempts) {
            // A change to a regular file counts as one the session did not see.
            state_at(directory, target.name, now);
            if (now.regular && ask() != answer::yes) return failed(shown, declined);
            asked = asked || now.regular;
            agreed = now;
            continue;
        }
        if (outcome.changed) return failed(shown, EAGAIN);  // it keeps changing
        if (outcome.not_kept != nullptr)
            report(std::string("Cannot keep the ") + outcome.not_kept + " of '" + shown + "' in a new file",
                   "written in place");
        if (outcome.error != 0) return failed(shown, outcome.error);
        seen.saved(key, old.state, outcome.written, leads_to);
        return save_result::saved;
    }
}

void remember_loaded(std::string_view name, int fd) {
    struct stat status;
    if (fs_calls.fstat(fd, &status) == 0) seen.remember(absolute_name(name), state_of(status));
}

void remember_absent(std::string_view name) {
    seen.remember(absolute_name(name), file_state{});
}

void forget_files() {
    seen = seen_files();
}
