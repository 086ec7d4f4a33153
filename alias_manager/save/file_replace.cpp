#include "file_replace.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <random>

#include "attributes.h"
#include "shared_dir_rules.h"
#include "write_all.h"

namespace {

write_outcome failure(int error) {
    return {error, false, nullptr, std::nullopt};
}

write_outcome changed() {
    return {0, true, nullptr, std::nullopt};
}

// Where a stream's writes go: a descriptor, and the first write error.
struct descriptor_sink {
    int fd;
    int error;
};

ssize_t write_to_sink(void* cookie, const char* data, std::size_t size) {
    auto& sink = *static_cast<descriptor_sink*>(cookie);
    sink.error = write_all(sink.fd, {data, size}, fs_calls.write);
    return sink.error == 0 ? static_cast<ssize_t>(size) : 0;  // 0: the stream's error flag is set
}

// Fills a stream over `fd` and flushes it, then syncs `fd` when `sync` is
// set. 0 or the errno value of the first failure.
int fill_descriptor(int fd, const fill_function& fill, bool sync) {
    descriptor_sink sink{fd, 0};
    cookie_io_functions_t io{};
    io.write = write_to_sink;
    std::FILE* stream = fopencookie(&sink, "w", io);
    if (stream == nullptr) return ENOMEM;
    fill(stream);
    const bool failed = std::fflush(stream) != 0 || std::ferror(stream);
    std::fclose(stream);
    if (failed) return sink.error != 0 ? sink.error : EIO;
    return sync && fs_calls.fsync(fd) != 0 ? errno : 0;
}

// Closes `fd`, which a save wrote: a failure here is the save's failure.
int close_written(unique_fd& fd) {
    return fs_calls.close(fd.release()) != 0 ? errno : 0;
}

std::optional<file_state> state_of_descriptor(int fd) {
    struct stat status;
    if (fs_calls.fstat(fd, &status) != 0) return std::nullopt;
    return state_of(status);
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

// Creates a new file NAME.tmp.XXXXXX in `directory` with `mode`. The name is
// shortened so that the suffix always fits the longest name a directory takes.
unique_fd create_temporary(int directory, const std::string& name, mode_t mode, std::string& temporary) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = name.substr(0, 200) + ".tmp." + random_suffix();
        unique_fd fd(fs_calls.openat(directory, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC,
                                     mode));
        if (fd || errno != EEXIST) return fd;
    }
    return unique_fd();  // errno is EEXIST
}

// Opens the target to write it in place, if it is still the file that the
// save was decided on.
write_outcome write_in_place(int directory, const std::string& name, const file_state& decided,
                             const fill_function& fill, const recheck_function& recheck) {
    if (!recheck()) return changed();
    const int create = decided.exists ? 0 : O_CREAT | O_EXCL;
    unique_fd fd(fs_calls.openat(directory, name.c_str(), O_WRONLY | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC | create, 0666));
    // Gone, or there after all.
    if (!fd && errno == (decided.exists ? ENOENT : EEXIST)) return changed();
    struct stat status;
    if (!fd || fs_calls.fstat(fd.get(), &status) != 0) return failure(errno);
    if (decided.exists && !same_file(state_of(status), decided)) return changed();
    const bool regular = S_ISREG(status.st_mode);
    if (regular && fs_calls.ftruncate(fd.get(), 0) != 0) return failure(errno);
    if (const int error = fill_descriptor(fd.get(), fill, regular); error != 0) return failure(error);
    const std::optional<file_state> written = state_of_descriptor(fd.get());
    if (const int error = close_written(fd); error != 0) return failure(error);
    return {0, false, nullptr, written};
}

// The state to remember of the file just renamed into place: `renamed` as it
// is now, unless more than its change time (which the rename itself may set)
// differs from `filled`, as it was before: someone wrote it meanwhile.
std::optional<file_state> state_after_rename(const std::optional<file_state>& filled, int fd) {
    const std::optional<file_state> renamed = state_of_descriptor(fd);
    if (!filled || !renamed) return std::nullopt;
    file_state unchanged = *renamed;
    unchanged.changed = filled->changed;
    return same_state(unchanged, *filled) ? renamed : filled;
}

// Makes the rename durable where the directory can be opened and synced; a
// directory that cannot changes nothing, the file is saved either way.
void sync_directory(int directory) {
    unique_fd fd(fs_calls.openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
    if (fd) fs_calls.fsync(fd.get());
}

}  // namespace

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

write_outcome write_file(int directory, const std::string& name, const old_file& old, const fill_function& fill,
                         const recheck_function& recheck) {
    const bool exists = old.state.exists;
    if (exists && (!S_ISREG(old.status.st_mode) || old.status.st_nlink > 1))
        return write_in_place(directory, name, old.state, fill, recheck);
    std::string temporary;
    // Only its owner may read a replacement until it has the old file's mode.
    unique_fd fd = create_temporary(directory, name, exists ? 0600 : 0666, temporary);
    if (!fd) {
        // Only a refusal of permission makes writing in place right; a full
        // disk or a read-only file system would fail that too, losing the file.
        if (errno == EACCES || errno == EPERM) return write_in_place(directory, name, old.state, fill, recheck);
        return failure(errno);
    }
    const auto discard = [&](write_outcome outcome) {
        fd.reset();
        fs_calls.unlinkat(directory, temporary.c_str(), 0);
        return outcome;
    };
    if (exists) {
        if (const char* lost = carry_attributes(fd.get(), old.file.get(), old.status)) {
            discard(write_outcome{});
            write_outcome outcome = write_in_place(directory, name, old.state, fill, recheck);
            outcome.not_kept = lost;
            return outcome;
        }
    }
    if (const int error = fill_descriptor(fd.get(), fill, true); error != 0) return discard(failure(error));
    const std::optional<file_state> filled = state_of_descriptor(fd.get());
    if (!recheck()) return discard(changed());
    if (fs_calls.renameat(directory, temporary.c_str(), directory, name.c_str()) != 0) return discard(failure(errno));
    const std::optional<file_state> written = state_after_rename(filled, fd.get());
    fd.reset();  // synced already: a failure to close changes nothing now
    sync_directory(directory);
    return {0, false, nullptr, written};
}

int write_to_descriptor(int descriptor, const fill_function& fill) {
    unique_fd fd(fs_calls.dup(descriptor));
    if (!fd) return errno;
    if (const int error = fill_descriptor(fd.get(), fill, false); error != 0) return error;
    return close_written(fd);
}
