#include "file_replace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <optional>

namespace {

// Fills the stream, flushes it, syncs it to disk when `sync` is set, and
// closes it; 0 or the errno value of the first failure.
int fill_and_close(stream_handle file, const std::function<void(std::FILE*)>& fill, bool sync) {
    errno = 0;
    fill(file.get());
    int error = std::fflush(file.get()) != 0 || std::ferror(file.get()) ? (errno != 0 ? errno : EIO) : 0;
    if (error == 0 && sync && fsync(fileno(file.get())) != 0) error = errno;
    if (std::fclose(file.release()) != 0 && error == 0) error = errno;
    return error;
}

int write_in_place(const std::string& path, const std::function<void(std::FILE*)>& fill) {
    stream_handle file(std::fopen(path.c_str(), "w"));
    if (!file) return errno;
    return fill_and_close(std::move(file), fill, false);
}

// The file that `path` names once symbolic links are followed; nothing for a
// dangling link.
std::optional<std::string> final_target(const std::string& path) {
    struct stat link;
    if (lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) return path;
    std::unique_ptr<char, decltype(&std::free)> real(realpath(path.c_str(), nullptr), &std::free);
    if (!real) return std::nullopt;
    return std::string(real.get());
}

std::string directory_of(const std::string& path) {
    auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Template for mkstemp beside `target`; the name is shortened so that the
// suffix always fits the longest file name a directory takes.
std::string temporary_template(const std::string& target) {
    auto slash = target.rfind('/');
    std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string prefix = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    return prefix + base.substr(0, 200) + ".tmp.XXXXXX";
}

int sync_directory(const std::string& directory) {
    int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errno;
    int error = fsync(fd) == 0 || errno == EINVAL ? 0 : errno;  // EINVAL: no sync on this file system
    close(fd);
    return error;
}

// Gives the new file the old one's owner, group and permission bits, or for a
// new name the bits a plain create would give. False when that is not possible.
bool take_attributes(int fd, const std::optional<struct stat>& old) {
    if (!old) {
        mode_t mask = umask(0);
        umask(mask);
        return fchmod(fd, 0666 & ~mask) == 0;
    }
    if ((old->st_uid != geteuid() || old->st_gid != getegid()) && fchown(fd, old->st_uid, old->st_gid) != 0)
        return false;
    return fchmod(fd, old->st_mode & 07777) == 0;
}

}  // namespace

int replace_file(const std::string& path, const std::function<void(std::FILE*)>& fill) {
    std::optional<std::string> target = final_target(path);
    if (!target) return write_in_place(path, fill);
    std::optional<struct stat> old;
    struct stat status;
    if (stat(target->c_str(), &status) == 0) {
        if (!S_ISREG(status.st_mode) || status.st_nlink > 1) return write_in_place(path, fill);
        old = status;
    } else if (errno != ENOENT) {
        return write_in_place(path, fill);
    }

    std::string temporary = temporary_template(*target);
    int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) return write_in_place(path, fill);
    if (!take_attributes(fd, old)) {
        close(fd);
        unlink(temporary.c_str());
        return write_in_place(path, fill);
    }
    stream_handle file(fdopen(fd, "w"));
    if (!file) {
        int error = errno;
        close(fd);
        unlink(temporary.c_str());
        return error;
    }
    int error = fill_and_close(std::move(file), fill, true);
    if (error == 0 && std::rename(temporary.c_str(), target->c_str()) != 0) error = errno;
    if (error != 0) {
        unlink(temporary.c_str());
        return error;
    }
    return sync_directory(directory_of(*target));
}
