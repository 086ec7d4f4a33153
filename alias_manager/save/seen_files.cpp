#include "seen_files.h"

#include <algorithm>

#include "old_file.h"

namespace {

bool same_time(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Whether `name` leads to the file `file` now.
bool leads_to(const std::string& name, const file_state& file) {
    const name_target target = walk_name(name);
    file_state there;
    return target.error == 0 && target.directory && state_at(target.directory.get(), target.name, there) == 0 &&
           same_file(there, file);
}

// The place `target` is; nothing for a descriptor, or for a directory that
// cannot be looked at.
std::optional<file_place> place_of(const name_target& target) {
    struct stat status;
    if (!target.directory || fs_calls.fstat(target.directory.get(), &status) != 0) return std::nullopt;
    return file_place{status.st_dev, status.st_ino, target.name};
}

}  // namespace

file_state state_of(const struct stat& status) {
    return {true, S_ISREG(status.st_mode), status.st_dev, status.st_ino, status.st_size, status.st_mtim,
            status.st_ctim};
}

bool same_file(const file_state& a, const file_state& b) {
    return a.exists && b.exists && a.device == b.device && a.inode == b.inode;
}

bool same_state(const file_state& a, const file_state& b) {
    if (!a.exists || !b.exists) return a.exists == b.exists;
    return same_file(a, b) && a.size == b.size && same_time(a.modified, b.modified) &&
           same_time(a.changed, b.changed);
}

void seen_files::remember(const std::string& name, const name_target& target, const file_state& state) {
    const auto old = std::find_if(entries_.begin(), entries_.end(), [&](const entry& e) { return e.name == name; });
    entry& e = old != entries_.end() ? *old : entries_.emplace_back();
    e.name = name;
    e.state = state;
    e.partly = false;
    e.place = place_of(target);
    e.directory.reset(e.place ? fs_calls.dup(target.directory.get()) : -1);
    if (!e.directory) e.place.reset();  // not held, its inode number could be another directory's
}

void seen_files::mark_partly_loaded(const std::string& name) {
    for (entry& e : entries_)
        if (e.name == name) e.partly = true;
}

bool seen_files::matches(const entry& e, const std::string& name, const std::optional<file_place>& place,
                         const file_state& now) {
    if (e.name == name || (e.place && e.place == place)) return true;
    return same_file(e.state, now) && leads_to(e.name, now);
}

bool seen_files::changed(const std::string& name, const name_target& target, const file_state& now) const {
    if (!now.regular) return false;
    const std::optional<file_place> place = place_of(target);
    return std::any_of(entries_.begin(), entries_.end(),
                       [&](const entry& e) { return matches(e, name, place, now) && !same_state(e.state, now); });
}

bool seen_files::partly_loaded(const std::string& name, const name_target& target, const file_state& now) const {
    if (!now.exists) return false;
    const std::optional<file_place> place = place_of(target);
    return std::any_of(entries_.begin(), entries_.end(),
                       [&](const entry& e) { return e.partly && matches(e, name, place, now); });
}

void seen_files::saved(const std::string& name, const name_target& target, const file_state& before,
                       const std::optional<file_state>& after) {
    const std::optional<file_place> place = place_of(target);
    const auto concerned = [&](const entry& e) {
        if (e.name == name || (e.place && e.place == place)) return true;
        const bool was = same_file(e.state, before) || (after && same_file(e.state, *after));
        return was && after && leads_to(e.name, *after);
    };
    if (!after) {
        std::erase_if(entries_, concerned);
        return;
    }
    for (entry& e : entries_) {
        if (!concerned(e)) continue;
        e.state = *after;
        e.partly = false;
    }
    remember(name, target, *after);
}
