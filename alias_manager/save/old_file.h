#pragma once
// What a save finds at its target, and whether it may write there.

#include <sys/stat.h>

#include <string>

#include "seen_files.h"
#include "unique_fd.h"

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
