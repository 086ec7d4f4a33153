#include "file_replace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "file_calls.h"
#include "save_target.h"
#include "write_all.h"

namespace {

using fill_function = std::function<void(std::FILE*)>;

// A directory descriptor, closed when it goes out of scope.
class directory_handle {
public:
    explicit directory_handle(int fd) : fd_(fd) {}
    ~directory_handle() {
        if (fd_ >= 0) close(fd_);
    }
    directory_handle(const directory_handle&) = delete;
    directory_handle& operator=(const directory_handle&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// Where a stream's writes go: a descriptor, and the first write error.
struct descriptor_sink {
    int fd;
    int error;
};

ssize_t write_to_sink(void* cookie, const char* data, std::size_t size) {
    auto& sink = *static_cast<descriptor_sink*>(cookie);
    sink.error = write_all(sink.fd, {data, size}, save_calls.write);
    return sink.error == 0 ? static_cast<ssize_t>(size) : 0;  // 0: the stream's error flag is set
}

// Fills a stream over `fd`, flushes it and, when `sync` is set, syncs `fd`;
// then closes `fd`. 0 or the errno value of the first failure.
int fill_and_close(int fd, const fill_function& fill, bool sync) {
    descriptor_sink sink{fd, 0};
    cookie_io_functions_t io{};
    io.write = write_to_sink;
    int error = 0;
    if (std::FILE* stream = fopencookie(&sink, "w", io)) {
        fill(stream);
        const bool failed = std::fflush(stream) != 0 || std::ferror(stream);
        std::fclose(stream);
        if (failed) error = sink.error != 0 ? sink.error : EIO;
    } else {
        error = ENOMEM;
    }
    if (error == 0 && sync && save_calls.fsync(fd) != 0) error = errno;
    if (save_calls.close(fd) != 0 && error == 0) error = errno;
    return error;
}

int write_in_place(int directory, const std::string& name, const fill_function& fill) {
    const int fd = save_calls.openat(directory, name.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) return errno;
    return fill_and_close(fd, fill, false);
}

// Writes at the descriptor's own offset, with its own flags: no truncation.
int write_to_descriptor(int descriptor, const fill_function& fill) {
    const int fd = fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) return errno;
    return fill_and_close(fd, fill, false);
}

std::string random_suffix() {
    static std::mt19937_64 generator(
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    constexpr std::string_view letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::string suffix(6, 'x');
    // The process id keeps forked savers apart, whose generators are copies.
    for (char& c : suffix) c = letters[(generator() ^ static_cast<std::uint64_t>(getpid())) % letters.size()];
    return suffix;
}

// Creates a new file NAME.tmp.XXXXXX in `directory` as a plain create would,
// mode 0666 under the umask and the default ACL. The name is shortened so
// that the suffix always fits the longest name a directory takes.
int create_temporary(int directory, const std::string& name, std::string& temporary) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = name.substr(0, 200) + ".tmp." + random_suffix();
        const int fd = save_calls.openat(directory, temporary.c_str(),
                                         O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;  // errno is EEXIST
}

// The attribute names that `list` (a listxattr call over a buffer) gives;
// none where the file system keeps no attributes.
template <class List>
std::optional<std::vector<std::string>> attribute_names(List list) {
    for (;;) {
        const ssize_t size = list(nullptr, 0);
        if (size < 0) return errno == ENOTSUP ? std::optional(std::vector<std::string>{}) : std::nullopt;
        std::string buffer(static_cast<std::size_t>(size), '\0');
        const ssize_t got = list(buffer.data(), buffer.size());
        if (got < 0 && errno == ERANGE) continue;  // a name was added meanwhile
        if (got < 0) return std::nullopt;
        std::vector<std::string> names;
        for (std::size_t at = 0; at < static_cast<std::size_t>(got); at = buffer.find('\0', at) + 1)
            names.emplace_back(buffer.c_str() + at);
        return names;
    }
}

std::optional<std::string> attribute_value(const std::string& path, const std::string& name) {
    for (;;) {
        const ssize_t size = save_calls.lgetxattr(path.c_str(), name.c_str(), nullptr, 0);
        if (size < 0) return std::nullopt;
        std::string value(static_cast<std::size_t>(size), '\0');
        const ssize_t got = save_calls.lgetxattr(path.c_str(), name.c_str(), value.data(), value.size());
        if (got < 0 && errno == ERANGE) continue;
        if (got < 0) return std::nullopt;
        value.resize(static_cast<std::size_t>(got));
        return value;
    }
}

// Makes the extended attributes of `fd` those of the file at `old_path`: the
// new file drops what it inherited (a default ACL) and takes every one of the
// old file's. False when one cannot be read, set or dropped.
bool copy_attributes(const std::string& old_path, int fd) {
    const auto old_names = attribute_names(
        [&](char* names, std::size_t size) { return save_calls.llistxattr(old_path.c_str(), names, size); });
    const auto new_names =
        attribute_names([&](char* names, std::size_t size) { return save_calls.flistxattr(fd, names, size); });
    if (!old_names || !new_names) return false;
    for (const std::string& name : *new_names) {
        const bool inherited = std::find(old_names->begin(), old_names->end(), name) == old_names->end();
        if (inherited && save_calls.fremovexattr(fd, name.c_str()) != 0) return false;
    }
    for (const std::string& name : *old_names) {
        const auto value = attribute_value(old_path, name);
        if (!value || save_calls.fsetxattr(fd, name.c_str(), value->data(), value->size(), 0) != 0) return false;
    }
    return true;
}

// Gives the new file `fd` the old file's owner and group (compared with what
// the new file really got: a set-group-ID directory chooses the group), its
// attributes and its permission bits. False when one of them cannot be given.
bool carry_attributes(int fd, const struct stat& old, const std::string& old_path) {
    struct stat now;
    if (save_calls.fstat(fd, &now) != 0) return false;
    if ((now.st_uid != old.st_uid || now.st_gid != old.st_gid) && save_calls.fchown(fd, old.st_uid, old.st_gid) != 0)
        return false;
    if (!copy_attributes(old_path, fd)) return false;
    // Last: a change of owner clears the set-ID bits, an ACL sets the group bits.
    return save_calls.fchmod(fd, old.st_mode & 07777) == 0;
}

// Makes the rename durable where the directory can be opened and synced; a
// directory that cannot changes nothing, the file is saved either way.
void sync_directory(int directory) {
    const int fd = save_calls.openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (fd < 0) return;
    save_calls.fsync(fd);
    save_calls.close(fd);
}

}  // namespace

int replace_file(std::string_view path, const fill_function& fill) {
    const save_target target = find_save_target(path);
    if (target.error != 0) return target.error;
    if (target.descriptor >= 0) return write_to_descriptor(target.descriptor, fill);
    const directory_handle directory(open(target.directory.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (directory.get() < 0) return errno;
    const std::string& name = target.name;

    struct stat old;
    const bool exists = fstatat(directory.get(), name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0;
    if (!exists && errno != ENOENT) return errno;
    if (exists && (!S_ISREG(old.st_mode) || old.st_nlink > 1)) return write_in_place(directory.get(), name, fill);
    if (exists && save_calls.faccessat(directory.get(), name.c_str(), W_OK, AT_EACCESS) != 0) return errno;

    std::string temporary;
    const int fd = create_temporary(directory.get(), name, temporary);
    if (fd < 0) {
        // Only a refusal of permission makes writing in place right; a full
        // disk or a read-only file system would fail that too, losing the file.
        if (errno == EACCES || errno == EPERM) return write_in_place(directory.get(), name, fill);
        return errno;
    }
    const auto discard = [&](int error) {
        save_calls.unlinkat(directory.get(), temporary.c_str(), 0);
        return error;
    };
    if (exists && !carry_attributes(fd, old, target.directory + "/" + name)) {
        save_calls.close(fd);
        discard(0);
        return write_in_place(directory.get(), name, fill);
    }
    if (const int error = fill_and_close(fd, fill, true); error != 0) return discard(error);
    if (save_calls.renameat(directory.get(), temporary.c_str(), directory.get(), name.c_str()) != 0)
        return discard(errno);
    sync_directory(directory.get());
    return 0;
}
