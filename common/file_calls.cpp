#include "file_calls.h"

#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdio>

file_calls system_file_calls() noexcept {
    return {
        // NOLINTNEXTLINE(bugprone-easily-swappable-parameters): openat's own parameters
        [](int dir, const char* name, int flags, mode_t mode) { return ::openat(dir, name, flags, mode); },
        ::close,
        [](int fd) { return ::fcntl(fd, F_DUPFD_CLOEXEC, 0); },
        ::fstat,
        ::fstatat,
        ::fstatfs,
        ::readlinkat,
        ::getcwd,
        ::write,
        ::ftruncate,
        ::fallocate,
        ::fsync,
        ::renameat,
        ::linkat,
        ::unlinkat,
        ::fchown,
        ::fchmod,
        ::faccessat,
        ::listxattr,
        ::getxattr,
        ::flistxattr,
        ::fgetxattr,
        ::fsetxattr,
        ::fremovexattr,
    };
}

file_calls fs_calls = system_file_calls();
