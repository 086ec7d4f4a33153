#pragma once
// What a session remembers of the files it loaded and saved, so that a save
// can tell that someone else changed the file since, or that the session
// loaded only part of it.

#include <sys/stat.h>
#include <sys/types.h>

#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "name_walk.h"
#include "unique_fd.h"

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

// Where a name led: its directory, by device and inode, and the final name.
struct file_place {
    dev_t device = 0;
    ino_t inode = 0;
    std::string name;
    bool operator==(const file_place&) const = default;
};

// Remembered files, each under the name it was loaded or saved by (made
// absolute; see save_file.h). A file remembered under one name is also
// found by another that leads into the same directory under the same final
// name (the directory was renamed), the directory being held open so that
// its inode number is not given to another directory meanwhile; and by
// another that leads to the same file (a hard link, another spelling on a
// file system that ignores case), as long as its own name still leads there
// too: an inode number is used again once its file is gone.
class seen_files {
public:
    // What a load found under `name`, which led to `target`: the file it
    // read, or no file.
    void remember(const std::string& name, const name_target& target, const file_state& state);
    // The load of `name` took only part of its file.
    void mark_partly_loaded(const std::string& name);
    // Whether a save to `name`, which now leads to `target` and there to
    // `now`, would overwrite a change made by someone else: a file
    // remembered as above is no longer as remembered. Only a regular file
    // can count as changed.
    bool changed(const std::string& name, const name_target& target, const file_state& now) const;
    // Whether such a save would overwrite a file (`now`) that the session
    // loaded only in part.
    bool partly_loaded(const std::string& name, const name_target& target, const file_state& now) const;
    // A save to `name`, which led to `target`, replaced `before` by `after`:
    // the entries found as above, and those that led to `before` and now lead
    // to `after`, are now `after`, loaded whole. Unknown `after`: they are
    // forgotten.
    void saved(const std::string& name, const name_target& target, const file_state& before,
               const std::optional<file_state>& after);

private:
    struct entry {
        std::string name;
        file_state state;
        std::optional<file_place> place;
        unique_fd directory;  // the place's directory, held
        bool partly = false;  // the load took only part of the file
    };
    static bool matches(const entry& e, const std::string& name, const std::optional<file_place>& place,
                        const file_state& now);
    std::vector<entry> entries_;
};
