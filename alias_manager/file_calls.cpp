#include "file_calls.h"

#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdio>

file_calls system_file_calls() {
    return {
        [](int dir, const char* name, int flags, mode_t mode) { return ::openat(dir, name, flags, mode); },
        ::write,
        ::fsync,
        ::close,
        ::renameat,
        ::unlinkat,
        ::fstat,
        ::fchown,
        ::fchmod,
        ::faccessat,
        ::llistxattr,
        ::lgetxattr,
        ::flistxattr,
        ::fsetxattr,
        ::fremovexattr,
    };
}

file_calls save_calls = system_file_calls();
