#pragma once
// The file-system calls that a save and the name walk make, reached through
// one table so that a test can make any of them fail (a full disk, a failing
// sync, a refused chown) or run another program's step at a chosen call,
// without root or a special file system. The programs never change it.

#include <sys/stat.h>
#include <sys/types.h>
#include <sys/vfs.h>

#include <cstddef>

struct file_calls {
    int (*openat)(int dir, const char* name, int flags, mode_t mode);
    int (*close)(int fd);
    int (*dup)(int fd);  // F_DUPFD_CLOEXEC
    int (*fstat)(int fd, struct stat* status);
    int (*fstatat)(int dir, const char* name, struct stat* status, int flags);
    int (*fstatfs)(int fd, struct statfs* status);
    ssize_t (*readlinkat)(int dir, const char* name, char* text, std::size_t size);
    char* (*getcwd)(char* buffer, std::size_t size);
    ssize_t (*write)(int fd, const void* data, std::size_t size);
    int (*ftruncate)(int fd, off_t length);
    int (*fallocate)(int fd, int mode, off_t offset, off_t length);
    int (*fsync)(int fd);
    int (*renameat)(int from_dir, const char* from, int to_dir, const char* to);
    int (*linkat)(int from_dir, const char* from, int to_dir, const char* to, int flags);
    int (*unlinkat)(int dir, const char* name, int flags);
    int (*fchown)(int fd, uid_t owner, gid_t group);
    int (*fchmod)(int fd, mode_t mode);
    int (*faccessat)(int dir, const char* name, int mode, int flags);
    // The old file's attributes, read through the /proc/self/fd name of a
    // path-only descriptor, which the f* calls do not take.
    ssize_t (*listxattr)(const char* path, char* names, std::size_t size);
    ssize_t (*getxattr)(const char* path, const char* name, void* value, std::size_t size);
    ssize_t (*flistxattr)(int fd, char* names, std::size_t size);
    ssize_t (*fgetxattr)(int fd, const char* name, void* value, std::size_t size);
    int (*fsetxattr)(int fd, const char* name, const void* value, std::size_t size, int flags);
    int (*fremovexattr)(int fd, const char* name);
};

// The calls in use; the real ones unless a test has put others in.
extern file_calls fs_calls;

// The real calls.
file_calls system_file_calls() noexcept;
