#include "save_target.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <vector>

#include "link_rule.h"

namespace {

constexpr int max_links = 40;  // as the kernel allows on one path

save_target failure(int error) {
    return {error, -1, {}, {}};
}

// Pushes the components of `path` onto `pending` so that the first one comes
// off first. A trailing slash asks for a directory: it adds a final ".".
void push_components(std::string_view path, std::vector<std::string>& pending) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos) end = path.size();
        if (end > start) parts.emplace_back(path.substr(start, end - start));
        start = end + 1;
    }
    if (!path.empty() && path.back() == '/') parts.emplace_back(".");
    pending.insert(pending.end(), parts.rbegin(), parts.rend());
}

// `resolved` is "" for the working directory, "/" for the root, or a path
// without links or dot components (apart from leading "..").
std::string joined(const std::string& resolved, const std::string& part) {
    if (resolved.empty()) return part;
    return resolved.back() == '/' ? resolved + part : resolved + "/" + part;
}

void go_up(std::string& resolved) {
    if (resolved == "/") return;
    const auto slash = resolved.rfind('/');
    const std::string_view last = slash == std::string::npos ? resolved : std::string_view(resolved).substr(slash + 1);
    if (resolved.empty() || last == "..") {
        resolved = joined(resolved, "..");
    } else {
        resolved.erase(slash == std::string::npos ? 0 : slash == 0 ? 1 : slash);
    }
}

std::string or_working_directory(const std::string& resolved) {
    return resolved.empty() ? "." : resolved;
}

// The directories that hold this process's descriptors as magic links.
bool holds_own_descriptors(const std::string& directory) {
    const std::string pid = std::to_string(getpid());
    return directory == "/proc/" + pid + "/fd" || directory == "/proc/" + pid + "/task/" + pid + "/fd";
}

// A descriptor number written in plain decimal; -1 for anything else.
int descriptor_number(std::string_view text) {
    int number = -1;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    const bool plain = error == std::errc() && end == text.data() + text.size() && (text.size() == 1 || text[0] != '0');
    return plain ? number : -1;
}

std::string link_text(const std::string& path) {
    std::string text(256, '\0');
    for (;;) {
        ssize_t length = readlink(path.c_str(), text.data(), text.size());
        if (length < 0) return {};
        if (static_cast<std::size_t>(length) < text.size()) {
            text.resize(static_cast<std::size_t>(length));
            return text;
        }
        text.resize(text.size() * 2);
    }
}

}  // namespace

save_target find_save_target(std::string_view path) {
    if (path.empty()) return failure(ENOENT);
    std::string resolved = path.front() == '/' ? "/" : "";
    std::vector<std::string> pending;  // components still to walk, the next one last
    push_components(path, pending);
    int links = 0;
    while (!pending.empty()) {
        const std::string part = std::move(pending.back());
        pending.pop_back();
        const bool last = pending.empty();
        if (part == "." || part == "..") {
            if (last) return failure(EISDIR);
            if (part == "..") go_up(resolved);
            continue;
        }
        if (last && holds_own_descriptors(resolved) && descriptor_number(part) >= 0)
            return {0, descriptor_number(part), {}, {}};
        const std::string candidate = joined(resolved, part);
        struct stat status;
        if (lstat(candidate.c_str(), &status) != 0) {
            if (errno == ENOENT && last) return {0, -1, or_working_directory(resolved), part};
            return failure(errno);
        }
        if (S_ISLNK(status.st_mode)) {
            struct stat directory;
            if (++links > max_links) return failure(ELOOP);
            if (stat(or_working_directory(resolved).c_str(), &directory) != 0) return failure(errno);
            if (!may_follow_link(status, directory, geteuid())) return failure(EACCES);
            const std::string target = link_text(candidate);
            if (target.empty()) return failure(ENOENT);
            if (target.front() == '/') resolved.assign(1, '/');  // not = "/": a false -Wrestrict in GCC 12
            push_components(target, pending);
            continue;
        }
        if (last) return {0, -1, or_working_directory(resolved), part};
        if (!S_ISDIR(status.st_mode)) return failure(ENOTDIR);
        resolved = candidate;
    }
    return failure(ENOENT);  // a path of slashes only: the root, a directory
}
