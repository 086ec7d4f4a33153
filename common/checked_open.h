#pragma once
// Opening an existing file that was looked at first, so that what was
// checked about it holds for the file written: the open follows no link,
// and the file opened must be the one looked at. A file replaced in the
// meantime is not opened; the caller looks again.

#include <sys/stat.h>

#include <string>

#include "unique_fd.h"

struct checked_open {
    unique_fd fd;           // open when the file was still the one looked at
    int error = 0;          // errno value of a failure
    bool replaced = false;  // gone, a link now, or another file there: look again
};

// Opens `name` in `directory` with `flags` and O_NOFOLLOW, if it is still
// the file whose status is `examined` (the same device and inode).
checked_open open_examined(int directory, const std::string& name, const struct stat& examined, int flags);
