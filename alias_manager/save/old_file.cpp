#include "old_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "shared_dir_rules.h"

int state_at(int directory, const std::string& name, file_state& state) {
    struct stat status;
    state = {};
    if (fs_calls.fstatat(directory, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0) {
        state = state_of(status);
        return 0;
    }
    return errno == ENOENT ? 0 : errno;
}

int examine_target(int directory, const std::string& name, old_file& old) {
    old.file.reset(fs_calls.openat(directory, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC, 0));
    if (!old.file) return errno == ENOENT ? 0 : errno;
    struct stat holder;
    if (fs_calls.fstat(old.file.get(), &old.status) != 0 || fs_calls.fstat(directory, &holder) != 0) return errno;
    old.state = state_of(old.status);
    if (!may_write_existing(old.status, holder, geteuid())) return EACCES;
    const bool replaced = S_ISREG(old.status.st_mode) && old.status.st_nlink == 1;
    if (replaced && fs_calls.faccessat(old.file.get(), "", W_OK, AT_EACCESS | AT_EMPTY_PATH) != 0) return errno;
    return 0;
}
