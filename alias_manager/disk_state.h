#pragma once
// What a session remembers of the files it loaded or saved, so that a save
// can notice that someone else changed the file since.

#include <sys/stat.h>
#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct disk_state {
    // Where the name leads: its directory and the name there.
    dev_t directory_device;
    ino_t directory_inode;
    std::string name;
    // The file there now.
    dev_t device;
    ino_t inode;
    off_t size;
    timespec modified;
};

// The state of the regular file that `path` leads to (see find_save_target);
// nothing when there is no such file, or it is not a regular file.
std::optional<disk_state> disk_state_of(std::string_view path);

class seen_files {
public:
    // Remembers the file that `path` leads to as it is now.
    void remember(std::string_view path);
    // Whether `path` leads where a remembered file was, and the regular file
    // there is no longer the one remembered, or has been written since.
    bool changed(std::string_view path) const;

private:
    std::vector<disk_state> seen_;
};
