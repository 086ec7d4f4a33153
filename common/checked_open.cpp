#include "checked_open.h"

#include <fcntl.h>

#include <cerrno>

checked_open open_examined(int directory, const std::string& name, const struct stat& examined, int flags) {
    checked_open result;
    result.fd.reset(fs_calls.openat(directory, name.c_str(), flags | O_NOFOLLOW, 0));
    struct stat opened;
    if (!result.fd) {
        result.replaced = errno == ENOENT || errno == ELOOP;
        result.error = result.replaced ? 0 : errno;
    } else if (fs_calls.fstat(result.fd.get(), &opened) != 0) {
        result.error = errno;
    } else {
        result.replaced = opened.st_dev != examined.st_dev || opened.st_ino != examined.st_ino;
    }
    if (result.error != 0 || result.replaced) result.fd.reset();
    return result;
}
