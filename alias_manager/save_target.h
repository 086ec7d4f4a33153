#pragma once
// Where a save to a name really writes. The name's symbolic links are
// followed one at a time, each only where the rule for links in shared
// directories allows it, down to a directory reached without any link and a
// name in it, so that the replaced file is the one the links lead to and the
// links themselves stay. A name that leads to one of the process's own open
// descriptors (/dev/stdout, /dev/fd/N, /proc/self/fd/N) is that descriptor.

#include <string>
#include <string_view>

struct save_target {
    int error = 0;          // errno value when the name leads nowhere a file can be written
    int descriptor = -1;    // the open descriptor the name leads to, or -1
    std::string directory;  // otherwise the directory of the file...
    std::string name;       // ...and its name there; the file need not exist
};

// ENOENT for an empty name or a missing directory on the way, ENOTDIR,
// EISDIR for a name that ends in "." or "..", ELOOP after 40 links, EACCES
// for a link that the rule refuses.
save_target find_save_target(std::string_view path);
