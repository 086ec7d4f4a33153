#include "save_file.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "held_file.h"
#include "name_walk.h"

namespace {

// The files this session loaded or saved, as they were then.
seen_files seen;

constexpr const char* declined = "changed on disk since it was read";
constexpr const char* partly_declined = "only part of it was loaded";
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

// What the user was asked during one save to the name `key` (made
// absolute), and what was agreed to.
class overwrite_questions {
public:
    // NOLINTNEXTLINE(bugprone-easily-swappable-parameters): one caller, which names both
    overwrite_questions(std::string key, const std::string& shown, const ask_function& ask)
        : key_(std::move(key)), shown_(shown), ask_(ask) {}

    // Before the new text is held: asks about a file that the session loaded
    // only in part, then about one that changed on disk since the session
    // saw it. Nothing when the save goes on, otherwise how it ends.
    std::optional<save_result> before_writing(const name_target& target, const file_state& now) {
        if (!partly_agreed_ && seen.partly_loaded(key_, target, now)) {
            const answer overwrite = ask_(question::partly_loaded);
            if (overwrite == answer::end_of_input) return save_result::end_of_input;
            if (overwrite != answer::yes) return failed(shown_, partly_declined);
            partly_agreed_ = true;
        }
        const bool agreed_to = agreed_ && same_state(*agreed_, now);
        if (agreed_to || !seen.changed(key_, target, now)) return std::nullopt;
        const answer overwrite = ask_(question::changed_on_disk);
        if (overwrite == answer::end_of_input && !asked_) return save_result::end_of_input;
        if (overwrite != answer::yes) return failed(shown_, declined);
        asked_ = true;
        return std::nullopt;
    }

    // The recheck saw a change at `target`: a change to a regular file
    // counts as one the session did not see. Nothing when the save starts
    // again, otherwise how it ends.
    std::optional<save_result> after_change(const name_target& target) {
        file_state now;
        state_at(target.directory.get(), target.name, now);
        if (now.regular && ask_(question::changed_on_disk) != answer::yes) return failed(shown_, declined);
        asked_ = asked_ || now.regular;
        agreed_ = now;
        return std::nullopt;
    }

    // The save to `target` replaced `before` by `after`.
    void saved(const name_target& target, const file_state& before, const std::optional<file_state>& after) const {
        seen.saved(key_, target, before, after);
    }

private:
    std::string key_;
    const std::string& shown_;
    const ask_function& ask_;
    std::optional<file_state> agreed_;  // the state the user last agreed to overwrite
    bool asked_ = false;
    bool partly_agreed_ = false;  // to overwrite a file loaded in part
};

// The recheck, just before the commit: whether the target is still as the
// save was decided on.
bool unchanged(const name_target& target, const held_file& held) {
    file_state now;
    const int error = state_at(target.directory.get(), target.name, now);
    return !held.stale() && (error != 0 || same_state(now, held.decided()));
}

save_result saved_to_descriptor(const std::string& shown, int descriptor, const fill_function& fill) {
    unique_fd fd(fs_calls.dup(descriptor));
    int error = fd ? fill_descriptor(fd.get(), fill).error : errno;
    if (error == 0) error = close_written(fd);
    return error == 0 ? save_result::saved : failed(shown, error);
}

void report_not_kept(const std::string& shown, const char* not_kept) {
    report(std::string("Cannot keep the ") + not_kept + " of '" + shown + "' in a new file", "written in place");
}

}  // namespace

save_result save_file(std::string_view name, const fill_function& fill, const ask_function& ask) {
    const std::string shown(name.substr(0, name.find('\0')));  // as the confirmation line shows it
    if (shown.size() != name.size()) return failed(shown, EINVAL);  // no file name holds a NUL byte
    const write_signals_ignored during_save;
    overwrite_questions questions(absolute_name(name), shown, ask);
    // Each attempt walks the name once and works from what it found; another
    // program's change seen before the commit starts a new one.
    for (int attempt = 1;; ++attempt) {
        const name_target target = walk_name(name);
        if (target.error != 0) return failed(shown, target.error);
        if (target.descriptor >= 0) return saved_to_descriptor(shown, target.descriptor, fill);
        old_file old;
        if (const int error = examine_target(target.directory.get(), target.name, old); error != 0)
            return failed(shown, error);
        if (S_ISLNK(old.status.st_mode) && attempt < max_attempts) continue;  // a link put there since the walk
        if (const auto refused = questions.before_writing(target, old.state)) return *refused;
        held_file held(target, old);
        if (held.not_kept() != nullptr) report_not_kept(shown, held.not_kept());
        if (held.error() != 0) return failed(shown, held.error());
        if (const int error = held.write(fill); error != 0) return failed(shown, error);
        if (!unchanged(target, held)) {  // the hold is rolled back as it goes
            if (attempt == max_attempts) return failed(shown, EAGAIN);  // it keeps changing
            if (const auto refused = questions.after_change(target)) return *refused;
            continue;
        }
        if (const int error = held.commit(); error != 0) return failed(shown, error);
        questions.saved(target, old.state, held.written());
        return save_result::saved;
    }
}

void remember_loaded(std::string_view name, int fd) {
    struct stat status;
    if (fs_calls.fstat(fd, &status) == 0) seen.remember(absolute_name(name), walk_name(name), state_of(status));
}

void remember_absent(std::string_view name) {
    seen.remember(absolute_name(name), walk_name(name), file_state{});
}

void mark_partly_loaded(std::string_view name) {
    seen.mark_partly_loaded(absolute_name(name));
}

void forget_files() {
    seen = seen_files();
}
