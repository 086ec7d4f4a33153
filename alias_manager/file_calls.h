#pragma once
// The system calls a save makes, reached through one table so that a test
// can make any of them fail (a full disk, a failing sync, a refused chown)
// without root or a special file system. The product never changes it.

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>

struct file_calls {
    int (*openat)(int dir, const char* name, int flags, mode_t mode);
    ssize_t (*write)(int fd, const void* data, std::size_t size);
    int (*fsync)(int fd);
    int (*close)(int fd);
    int (*renameat)(int from_dir, const char* from, int to_dir, const char* to);
    int (*unlinkat)(int dir, const char* name, int flags);
    int (*fstat)(int fd, struct stat* status);
    int (*fchown)(int fd, uid_t owner, gid_t group);
    int (*fchmod)(int fd, mode_t mode);
    int (*faccessat)(int dir, const char* name, int mode, int flags);
    ssize_t (*llistxattr)(const char* path, char* names, std::size_t size);
    ssize_t (*lgetxattr)(const char* path, const char* name, void* value, std::size_t size);
    ssize_t (*flistxattr)(int fd, char* names, std::size_t size);
    int (*fsetxattr)(int fd, const char* name, const void* value, std::size_t size, int flags);
    int (*fremovexattr)(int fd, const char* name);
};

// The calls in use; the real ones unless a test has put others in.
extern file_calls save_calls;

// The real calls.
file_calls system_file_calls();
