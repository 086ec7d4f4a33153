#pragma once
// Giving a new file everything the file it replaces had: owner and group,
// extended attributes (the access ACL among them) and permission bits.

#include <sys/stat.h>

// Gives the new file `fd` what the old file has: `old` is a path-only
// descriptor of it and `status` its status. Each is given only where the new
// file differs (a set-group-ID directory chooses the group; a default ACL
// adds attributes, which are dropped). Returns null when all was given,
// otherwise what could not be: "owner", "extended attributes" or "mode".
const char* carry_attributes(int fd, int old, const struct stat& status);
