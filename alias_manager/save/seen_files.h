#pragma once
// What a session remembers of the files it loaded and saved, so that a save
// can tell that someone else changed the file since.

#include <sys/stat.h>
#include <sys/types.h>

#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A file as a name led to it, or the absence of one.
struct file_state {
    bool exists = false;
    bool regular = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    timespec changed{};  // any change, of the content or of the attributes
};

file_state state_of(const struct stat& status);

// The same file: device and inode.
bool same_file(const file_state& a, const file_state& b);
// The same file, unchanged: its size and both times too. Two absences match.
bool same_state(const file_state& a, const file_state& b);

// Whether `name` now leads to the file `file` (its device and inode).
using leads_to_function = std::function<bool(const std::string& name, const file_state& file)>;

// Remembered files, each under the name it was loaded or saved by (made
// absolute; see save_file.h). A file remembered under one name is also
// found by another that leads to it (a hard link, another spelling on a
// file system that ignores case), as long as its own name still leads there
// too: an inode number is used again once its file is gone.
class seen_files {
public:
    // What a load found under `name`: the file it read, or no file.
    void remember(const std::string& name, const file_state& state);
    // Whether a save to `name`, which now leads to `now`, would overwrite a
    // change made by someone else: the file remembered under that name, or
    // the same file remembered under another, is no longer as remembered.
    // Only a regular file can count as changed.
    bool changed(const std::string& name, const file_state& now, const leads_to_function& leads_to) const;
    // A save to `name` replaced `before` by `after`: the entry of that name,
    // and those of other names that led to `before` and now lead to `after`,
    // are now `after`. Unknown `after`: they are forgotten.
    void saved(const std::string& name, const file_state& before, const std::optional<file_state>& after,
               const leads_to_function& leads_to);

private:
    struct entry {
        std::string name;
        file_state state;
    };
    std::vector<entry> entries_;
};
