#pragma once
// The rule by which the kernel protects links in shared directories
// (fs.protected_symlinks), for code that follows a link itself: a link that
// lies in a world-writable sticky directory such as /tmp is followed only
// when it belongs to the follower or to the directory's owner. Applied
// whatever the system's setting, so that a link planted by another user
// cannot redirect a write made with more privilege.

#include <sys/stat.h>
#include <sys/types.h>

inline bool may_follow_link(const struct stat& link, const struct stat& directory, uid_t follower) {
    const bool shared = (directory.st_mode & S_ISVTX) != 0 && (directory.st_mode & S_IWOTH) != 0;
    return !shared || link.st_uid == follower || link.st_uid == directory.st_uid;
}
