#include "disk_state.h"


#include <algorithm>

#include "save_target.h"

namespace {

bool same_place(const disk_state& a, const disk_state& b) {
    return a.directory_device == b.directory_device && a.directory_inode == b.directory_inode && a.name == b.name;
}

bool same_content(const disk_state& a, const disk_state& b) {
    return a.device == b.device && a.inode == b.inode && a.size == b.size &&
           a.modified.tv_sec == b.modified.tv_sec && a.modified.tv_nsec == b.modified.tv_nsec;
}

}  // namespace

std::optional<disk_state> disk_state_of(std::string_view path) {
    const save_target target = find_save_target(path);
    if (target.error != 0 || target.descriptor >= 0) return std::nullopt;
    struct stat directory, file;
    const std::string full = target.directory + "/" + target.name;
    if (stat(target.directory.c_str(), &directory) != 0 || lstat(full.c_str(), &file) != 0) return std::nullopt;
    if (!S_ISREG(file.st_mode)) return std::nullopt;
    return disk_state{directory.st_dev, directory.st_ino, target.name, file.st_dev, file.st_ino, file.st_size,
                      file.st_mtim};
}

void seen_files::remember(std::string_view path) {
    const auto now = disk_state_of(path);
    if (!now) return;
    const auto old = std::find_if(seen_.begin(), seen_.end(), [&](const disk_state& s) { return same_place(s, *now); });
    if (old != seen_.end()) {
        *old = *now;
    } else {
        seen_.push_back(*now);
    }
}

bool seen_files::changed(std::string_view path) const {
    const auto now = disk_state_of(path);
    if (!now) return false;
    const auto old = std::find_if(seen_.begin(), seen_.end(), [&](const disk_state& s) { return same_place(s, *now); });
    return old != seen_.end() && !same_content(*old, *now);
}
