#pragma once
// Where a name leads, found one component at a time with descriptors: each
// component is opened from the previous directory without following it, and
// a symbolic link is read through its own descriptor and followed only where
// the rule for links in shared directories allows it. What was checked is
// thus what is used next, and the result is a directory descriptor and a
// final name in it, which later steps use instead of the name. Links are
// followed to the end, so the file found is the one they lead to and the
// links stay as they are.

#include <string>
#include <string_view>

#include "unique_fd.h"

struct name_target {
    int error = 0;          // errno value when the name leads nowhere a file can be
    int descriptor = -1;    // one of this process's open descriptors that the name is
    unique_fd directory;    // otherwise the directory (a path-only descriptor)...
    std::string name;       // ...and the final name there; the file need not exist
};

// Errors: ENOENT for an empty name, a missing directory on the way or a
// directory that was removed, ENOTDIR, EISDIR for a name that ends in ".",
// ".." or a slash, ELOOP after 40 links, EACCES for a link that the
// shared-directory rule refuses and for a procfs link into another process
// (/proc/PID/cwd, /proc/PID/root: its text names another file than the
// kernel would reach). This process's own links (cwd, root, fd/N, through
// /proc/self, /proc/thread-self, /dev/fd or its own PID) lead where the
// kernel's do, to the directory itself; /proc/self/fd/N, /dev/fd/N and the
// like at the end of the name are this process's descriptor N.
name_target walk_name(std::string_view path);
