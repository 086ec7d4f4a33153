#include "name_walk.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <optional>
#include <utility>
#include <vector>

#include "shared_dir_rules.h"

namespace {

constexpr int max_links = 40;      // as the kernel allows on one path
constexpr ino_t proc_root_inode = 1;

name_target failure(int error) {
    name_target target;
    target.error = error;
    return target;
}

unique_fd open_path(int directory, const char* name, int flags = 0) {
    return unique_fd(fs_calls.openat(directory, name, O_PATH | O_NOFOLLOW | O_CLOEXEC | flags, 0));
}

// Pushes the components of `path` onto `pending` so that the first one comes
// off first. A trailing slash asks for a directory: it adds a final ".".
void push_components(std::string_view path, std::vector<std::string>& pending) {
    std::vector<std::string> parts;
    for (std::size_t start = 0; start <= path.size();) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos) end = path.size();
        if (end > start) parts.emplace_back(path.substr(start, end - start));
        start = end + 1;
    }
    if (!path.empty() && path.back() == '/') parts.emplace_back(".");
    pending.insert(pending.end(), parts.rbegin(), parts.rend());
}

// A descriptor number written in plain decimal; -1 for anything else.
int descriptor_number(std::string_view text) {
    int number = -1;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    const bool plain = error == std::errc() && end == text.data() + text.size() && (text.size() == 1 || text[0] != '0');
    return plain ? number : -1;
}

bool same_file(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

enum class proc_link { plain, own_descriptor, own_process, foreign };

// What a link in `directory` (whose status is `holder`) is; nothing when
// that cannot be told. Procfs links below its root (/proc/PID/cwd,
// /proc/PID/fd/N, ...) lead where their text does not say, into another
// process's view of the files; only this process's own are taken.
std::optional<proc_link> kind_of_link(int directory, const struct stat& holder) {
    struct statfs system;
    if (fs_calls.fstatfs(directory, &system) != 0) return std::nullopt;
    if (system.f_type != PROC_SUPER_MAGIC || holder.st_ino == proc_root_inode) return proc_link::plain;
    const std::pair<const char*, proc_link> own[] = {{"/proc/self/fd", proc_link::own_descriptor},
                                                     {"/proc/thread-self/fd", proc_link::own_descriptor},
                                                     {"/proc/self", proc_link::own_process},
                                                     {"/proc/thread-self", proc_link::own_process}};
    for (const auto& [name, kind] : own) {
        struct stat status;
        if (fs_calls.fstatat(AT_FDCWD, name, &status, 0) != 0) return std::nullopt;
        if (same_file(status, holder)) return kind;
    }
    return proc_link::foreign;
}

// The text of the link open at `link`; nothing when it cannot be read.
std::optional<std::string> link_text(int link) {
    std::string text(256, '\0');
    for (;;) {
        const ssize_t length = fs_calls.readlinkat(link, "", text.data(), text.size());
        if (length < 0) return std::nullopt;
        if (static_cast<std::size_t>(length) < text.size()) {
            text.resize(static_cast<std::size_t>(length));
            return text;
        }
        text.resize(text.size() * 2);
    }
}

// One walk: the directory reached so far, the components still to walk
// (the next one last) and the links followed.
struct walk {
    unique_fd directory;
    std::vector<std::string> pending;
    int links = 0;

    std::optional<name_target> step(const std::string& part, bool last);
    std::optional<name_target> end_at(const std::string& part, bool missing);
    std::optional<name_target> follow(int link, const struct stat& status, const std::string& part, bool last);
    std::optional<name_target> through_own(const std::string& part, proc_link kind, bool last);
};

// Walks one component; the result when the walk ends there.
std::optional<name_target> walk::step(const std::string& part, bool last) {
    if (part == "." || part == "..") {
        if (last) return failure(EISDIR);
        if (part == "..") directory = open_path(directory.get(), "..", O_DIRECTORY);
        if (!directory) return failure(errno);
        return std::nullopt;
    }
    unique_fd entry = open_path(directory.get(), part.c_str());
    if (!entry && errno == ENOENT && last) return end_at(part, true);
    struct stat status;
    if (!entry || fs_calls.fstat(entry.get(), &status) != 0) return failure(errno);
    if (S_ISLNK(status.st_mode)) return follow(entry.get(), status, part, last);
    if (last) return end_at(part, false);
    if (!S_ISDIR(status.st_mode)) return failure(ENOTDIR);
    directory = std::move(entry);
    return std::nullopt;
}

// The end of the walk at `part` in the directory reached. A name that is
// `missing` there leads nowhere when the directory itself was removed, as
// the kernel finds nothing in such a directory and creates nothing there.
std::optional<name_target> walk::end_at(const std::string& part, bool missing) {
    struct stat status;
    if (missing && fs_calls.fstat(directory.get(), &status) != 0) return failure(errno);
    if (missing && status.st_nlink == 0) return failure(ENOENT);
    return name_target{0, -1, std::move(directory), part};
}

// Follows the link `part`, open at `link` with `status`, in the directory reached.
std::optional<name_target> walk::follow(int link, const struct stat& status, const std::string& part, bool last) {
    struct stat holder;
    if (++links > max_links) return failure(ELOOP);
    if (fs_calls.fstat(directory.get(), &holder) != 0) return failure(errno);
    if (!may_follow_link(status, holder, geteuid())) return failure(EACCES);
    const std::optional<proc_link> kind = kind_of_link(directory.get(), holder);
    if (!kind) return failure(errno);
    if (kind == proc_link::foreign) return failure(EACCES);
    if (kind != proc_link::plain) return through_own(part, *kind, last);
    const std::optional<std::string> text = link_text(link);
    if (!text) return failure(errno);
    if (text->starts_with('/') && !(directory = open_path(AT_FDCWD, "/", O_DIRECTORY))) return failure(errno);
    push_components(*text, pending);
    return std::nullopt;
}

// Follows one of this process's own procfs links (cwd, root, fd/N) as the
// kernel does: to the object itself, whatever its text says (the text of a
// directory that was removed, or mounted over, names another).
// Descriptor N at the end of the name is the descriptor itself; any other
// own link at the end has no directory entry to write: a directory gives
// EISDIR as "." does, anything else (exe) EACCES.
std::optional<name_target> walk::through_own(const std::string& part, proc_link kind, bool last) {
    const int number = kind == proc_link::own_descriptor ? descriptor_number(part) : -1;
    if (last && number >= 0) return name_target{0, number, {}, {}};
    unique_fd object(fs_calls.openat(directory.get(), part.c_str(), O_PATH | O_CLOEXEC, 0));
    struct stat status;
    if (!object || fs_calls.fstat(object.get(), &status) != 0) return failure(errno);
    if (!S_ISDIR(status.st_mode)) return failure(last ? EACCES : ENOTDIR);
    if (last) return failure(EISDIR);
    directory = std::move(object);
    return std::nullopt;
}

}  // namespace

name_target walk_name(std::string_view path) {
    if (path.empty()) return failure(ENOENT);
    walk w;
    w.directory = open_path(AT_FDCWD, path.front() == '/' ? "/" : ".", O_DIRECTORY);
    if (!w.directory) return failure(errno);
    push_components(path, w.pending);
    while (!w.pending.empty()) {
        const std::string part = std::move(w.pending.back());
        w.pending.pop_back();
        if (std::optional<name_target> end = w.step(part, w.pending.empty())) return std::move(*end);
    }
    return failure(ENOENT);  // not reached: the last component returns
}
