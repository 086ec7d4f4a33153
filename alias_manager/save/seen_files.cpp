#include "seen_files.h"

#include <algorithm>

namespace {

bool same_time(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
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

void seen_files::remember(const std::string& name, const file_state& state) {
    const auto old = std::find_if(entries_.begin(), entries_.end(), [&](const entry& e) { return e.name == name; });
    if (old != entries_.end()) {
        old->state = state;
    } else {
        entries_.push_back({name, state});
    }
}

bool seen_files::changed(const std::string& name, const file_state& now, const leads_to_function& leads_to) const {
    if (!now.regular) return false;
    return std::any_of(entries_.begin(), entries_.end(), [&](const entry& e) {
        const bool same = e.name == name || (same_file(e.state, now) && leads_to(e.name, now));
        return same && !same_state(e.state, now);
    });
}

void seen_files::saved(const std::string& name, const file_state& before, const std::optional<file_state>& after,
                       const leads_to_function& leads_to) {
    const auto concerned = [&](const entry& e) {
        if (e.name == name) return true;
        const bool was = same_file(e.state, before) || (after && same_file(e.state, *after));
        return was && after && leads_to(e.name, *after);
    };
    if (!after) {
        std::erase_if(entries_, concerned);
        return;
    }
    for (entry& e : entries_)
        if (concerned(e)) e.state = *after;
    remember(name, *after);
}
