#include "attributes.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <string>
#include <vector>

#include "file_calls.h"

namespace {

// The attribute names that `list` (a listxattr call over a buffer) gives;
// none where the file system keeps no attributes.
template <class List>
std::optional<std::vector<std::string>> attribute_names(List list) {
    for (;;) {
        const ssize_t size = list(nullptr, 0);
        if (size < 0) return errno == ENOTSUP ? std::optional(std::vector<std::string>{}) : std::nullopt;
        std::string buffer(static_cast<std::size_t>(size), '\0');
        const ssize_t got = list(buffer.data(), buffer.size());
        if (got < 0 && errno == ERANGE) continue;  // a name was added meanwhile
        if (got < 0) return std::nullopt;
        std::vector<std::string> names;
        for (std::size_t at = 0; at < static_cast<std::size_t>(got); at = buffer.find('\0', at) + 1)
            names.emplace_back(buffer.c_str() + at);
        return names;
    }
}

// The value that `get` (a getxattr call over a buffer) gives.
template <class Get>
std::optional<std::string> attribute_value(Get get) {
    for (;;) {
        const ssize_t size = get(nullptr, 0);
        if (size < 0) return std::nullopt;
        std::string value(static_cast<std::size_t>(size), '\0');
        const ssize_t got = get(value.data(), value.size());
        if (got < 0 && errno == ERANGE) continue;
        if (got < 0) return std::nullopt;
        value.resize(static_cast<std::size_t>(got));
        return value;
    }
}

// Makes the extended attributes of `fd` those of the old file, read through
// `old_path`: the new file drops what it has that the old one has not, and
// takes every one of the old file's that it lacks or holds otherwise.
bool copy_attributes(const std::string& old_path, int fd) {
    const auto old_names = attribute_names(
        [&](char* names, std::size_t size) { return fs_calls.listxattr(old_path.c_str(), names, size); });
    const auto new_names =
        attribute_names([&](char* names, std::size_t size) { return fs_calls.flistxattr(fd, names, size); });
    if (!old_names || !new_names) return false;
    for (const std::string& name : *new_names) {
        const bool inherited = std::find(old_names->begin(), old_names->end(), name) == old_names->end();
        if (inherited && fs_calls.fremovexattr(fd, name.c_str()) != 0) return false;
    }
    for (const std::string& name : *old_names) {
        const auto value = attribute_value([&](void* data, std::size_t size) {
            return fs_calls.getxattr(old_path.c_str(), name.c_str(), data, size);
        });
        if (!value) return false;
        const auto held = attribute_value(
            [&](void* data, std::size_t size) { return fs_calls.fgetxattr(fd, name.c_str(), data, size); });
        if (held != value && fs_calls.fsetxattr(fd, name.c_str(), value->data(), value->size(), 0) != 0)
            return false;
    }
    return true;
}

}  // namespace

const char* carry_attributes(int fd, int old, const struct stat& status) {
    struct stat now;
    if (fs_calls.fstat(fd, &now) != 0) return "owner";
    if ((now.st_uid != status.st_uid || now.st_gid != status.st_gid) &&
        fs_calls.fchown(fd, status.st_uid, status.st_gid) != 0)
        return "owner";
    if (!copy_attributes("/proc/self/fd/" + std::to_string(old), fd)) return "extended attributes";
    // Last, as it stands then: a change of owner clears the set-ID bits, an ACL sets the group bits.
    if (fs_calls.fstat(fd, &now) != 0) return "mode";
    if ((now.st_mode & 07777) != (status.st_mode & 07777) && fs_calls.fchmod(fd, status.st_mode & 07777) != 0)
        return "mode";
    return nullptr;
}
