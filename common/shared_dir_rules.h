#pragma once
// The rules by which the kernel protects world-writable sticky directories
// such as /tmp (fs.protected_symlinks and fs.protected_regular), for code
// that follows links and opens files itself. Applied whatever the system's
// settings, so that a link or a file planted there by another user cannot
// redirect or receive a write made with more privilege.

#include <sys/stat.h>
#include <sys/types.h>

inline bool shared_directory(const struct stat& directory) {
    return (directory.st_mode & S_ISVTX) != 0 && (directory.st_mode & S_IWOTH) != 0;
}

// A link in a shared directory is followed only when it belongs to the
// follower or to the directory's owner.
inline bool may_follow_link(const struct stat& link, const struct stat& directory, uid_t follower) {
    return !shared_directory(directory) || link.st_uid == follower || link.st_uid == directory.st_uid;
}

// An existing regular file or FIFO in a shared directory is written only when
// it belongs to the writer or to the directory's owner.
inline bool may_write_existing(const struct stat& file, const struct stat& directory, uid_t writer) {
    const bool guarded = S_ISREG(file.st_mode) || S_ISFIFO(file.st_mode);
    return !guarded || !shared_directory(directory) || file.st_uid == writer || file.st_uid == directory.st_uid;
}
