#pragma once
// Writing a whole file so that no failure can lose the old one: the content
// goes to a new file beside the target, which is renamed over it only once
// every byte is on disk and it carries everything the old file had. All is
// done from the directory descriptor and the name that the walk found.

#include <sys/stat.h>

#include <cstdio>
#include <functional>
#include <optional>
#include <string>

#include "seen_files.h"
#include "unique_fd.h"

using fill_function = std::function<void(std::FILE*)>;

// Called just before the target is replaced or opened: whether it is still
// as the save was decided on. If not, nothing is written.
using recheck_function = std::function<bool()>;

// What a save found at its target.
struct old_file {
    unique_fd file;  // a path-only descriptor of it, when there is one
    struct stat status {};
    file_state state;  // exists is false when there is none
};

// The state of the entry `name` in `directory`, a link not followed: 0 or
// the errno value of the failure.
int state_at(int directory, const std::string& name, file_state& state);

// Looks at the file that a save to `name` in `directory` would overwrite.
// EACCES for a file that the saver may not write, by its permission bits or
// ACL, or by the rule of shared directories (another user's file there).
int examine_target(int directory, const std::string& name, old_file& old);

struct write_outcome {
    int error = 0;                          // errno value of a failure
    bool changed = false;                   // the target changed meanwhile; nothing written
    const char* not_kept = nullptr;         // written in place, as a new file could not keep this
    std::optional<file_state> written;      // the file as the save left it, where known
};

// Fills the file `name` in `directory` through `fill`. Normally replaced: a
// temporary file NAME.tmp.XXXXXX, created beside it (mode 0600 when it
// replaces a file, 0666 under the umask and the default ACL for a new name),
// is given the old file's owner, group, attributes and mode where it
// differs, filled and synced, and renamed over it once the recheck agrees;
// the directory is then synced where it can be.
// Written in place instead (then synced too, if it is a regular file) where a
// replacement could not keep what the old file had: a target that is not a
// regular file, a regular file with other hard links, a file whose
// attributes a new file cannot be given (`not_kept` says which), and a
// directory that refuses a new file for want of permission.
write_outcome write_file(int directory, const std::string& name, const old_file& old, const fill_function& fill,
                         const recheck_function& recheck);

// Writes at the descriptor's own offset, with its own flags: no truncation.
int write_to_descriptor(int descriptor, const fill_function& fill);
