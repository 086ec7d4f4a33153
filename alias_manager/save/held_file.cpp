#include "held_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <random>

#include "attributes.h"
#include "checked_open.h"

namespace {

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

// A temporary name beside `name` that `take` (which sets errno) could take
// while it was free: NAME.tmp.XXXXXX, the name shortened so that the suffix
// always fits the longest name a directory takes. Empty when none could be
// had, errno saying why.
template <class Take>
std::string free_temporary_name(const std::string& name, Take take) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string temporary = name.substr(0, 200) + ".tmp." + random_suffix();
        if (take(temporary)) return temporary;
        if (errno != EEXIST) break;
    }
    return {};  // EEXIST after every attempt
}

// The name through which this process reaches its descriptor `fd`.
std::string proc_name(int fd) {
    return "/proc/self/fd/" + std::to_string(fd);
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

held_file::held_file(const name_target& target, const old_file& old)
    : directory_(target.directory.get()), name_(target.name), decided_(old.state) {
    if (old.state.exists && (!S_ISREG(old.status.st_mode) || old.status.st_nlink > 1)) {
        hold_in_place(old);
    } else {
        hold_temporary(old);
    }
}

held_file::~held_file() {
    if (!committed_) drop_temporary();
}

// A temporary file beside the target, given what the old file has; the
// target itself where the directory refuses a new file for want of
// permission, or where the new file cannot keep what the old one has.
void held_file::hold_temporary(const old_file& old) {
    const bool exists = old.state.exists;
    // Only its owner may read a replacement until it has the old file's mode.
    const mode_t mode = exists ? 0600 : 0666;
    if (!open_unnamed(mode) && !create_named(mode)) {
        // Only a refusal of permission makes writing in place right; a full
        // disk or a read-only file system would fail that too, losing the file.
        if (exists && (errno == EACCES || errno == EPERM)) return hold_in_place(old);
        error_ = errno;
        return;
    }
    if (!exists) return;
    not_kept_ = carry_attributes(fd_.get(), old.file.get(), old.status);
    if (not_kept_ == nullptr) return;
    drop_temporary();
    hold_in_place(old);
}

// Opens an unnamed file with `mode` in the target's directory, if it can be
// linked later by its /proc name: that name must lead to it. Any failure
// leaves a named temporary file to try.
bool held_file::open_unnamed(mode_t mode) {
    fd_.reset(fs_calls.openat(directory_, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
    struct stat held;
    struct stat named;
    unnamed_ = fd_ && fs_calls.fstat(fd_.get(), &held) == 0 &&
               fs_calls.fstatat(AT_FDCWD, proc_name(fd_.get()).c_str(), &named, 0) == 0 &&
               held.st_dev == named.st_dev && held.st_ino == named.st_ino;
    if (!unnamed_) fd_.reset();
    return unnamed_;
}

// Creates a new file with a temporary name beside the target, with `mode`.
bool held_file::create_named(mode_t mode) {
    temporary_ = free_temporary_name(name_, [&](const std::string& temporary) {
        const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC;
        fd_.reset(fs_calls.openat(directory_, temporary.c_str(), flags, mode));
        return static_cast<bool>(fd_);
    });
    return !temporary_.empty();
}

// Gives the unnamed file a temporary name beside the target, through its
// /proc name (a link by the descriptor itself, AT_EMPTY_PATH, needs privilege).
bool held_file::link_unnamed() {
    const std::string source = proc_name(fd_.get());
    temporary_ = free_temporary_name(name_, [&](const std::string& temporary) {
        return fs_calls.linkat(AT_FDCWD, source.c_str(), directory_, temporary.c_str(), AT_SYMLINK_FOLLOW) == 0;
    });
    return !temporary_.empty();
}

// Opens the target to write it on commit, if it is still the file examined.
void held_file::hold_in_place(const old_file& old) {
    in_place_ = true;
    regular_ = S_ISREG(old.status.st_mode);
    checked_open target = open_examined(directory_, name_, old.status, O_WRONLY | O_NOCTTY | O_CLOEXEC);
    fd_ = std::move(target.fd);
    error_ = target.error;
    stale_ = target.replaced;
}

void held_file::drop_temporary() {
    fd_.reset();
    if (!temporary_.empty()) fs_calls.unlinkat(directory_, temporary_.c_str(), 0);
    temporary_.clear();
}

int held_file::write(const fill_function& fill) {
    if (error_ != 0 || stale_) return error_;
    if (in_place_) return reserve(fill);
    if (const int error = fill_descriptor(fd_.get(), fill).error; error != 0) return error;
    if (fs_calls.fsync(fd_.get()) != 0) return errno;
    filled_ = state_of_descriptor(fd_.get());
    return 0;
}

// In place: keeps the text to write on commit, and reserves room for it in
// a regular file without changing the file's size.
int held_file::reserve(const fill_function& fill) {
    fill_ = &fill;
    if (!regular_) return 0;
    const filled counted = fill_descriptor(-1, fill);
    if (counted.error != 0) return counted.error;
    const std::optional<file_state> before = state_of_descriptor(fd_.get());
    if (!before) return errno;
    reserved_ = counted.length == 0 || fs_calls.fallocate(fd_.get(), FALLOC_FL_KEEP_SIZE, 0, counted.length) == 0;
    // A file system that has no such call is written as it was before.
    if (!reserved_) return errno == EOPNOTSUPP || errno == ENOSYS ? 0 : errno;
    // The reservation sets the file's change time: the recheck is to find
    // that, unless someone else had changed the file before.
    const std::optional<file_state> after = state_of_descriptor(fd_.get());
    if (!after) return errno;
    if (same_state(*before, decided_)) decided_ = *after;
    return 0;
}

int held_file::commit() {
    if (in_place_) return commit_in_place();
    if (unnamed_ && !link_unnamed()) return errno;
    if (fs_calls.renameat(directory_, temporary_.c_str(), directory_, name_.c_str()) != 0) return errno;
    committed_ = true;
    written_ = state_after_rename(filled_, fd_.get());
    fd_.reset();  // synced already: a failure to close changes nothing now
    sync_directory(directory_);
    return 0;
}

// Writes the text over the target's; a regular file is then cut to the new
// length and synced.
int held_file::commit_in_place() {
    committed_ = true;  // nothing to roll back from here
    if (regular_ && !reserved_ && fs_calls.ftruncate(fd_.get(), 0) != 0) return errno;
    const filled text = fill_descriptor(fd_.get(), *fill_);
    if (text.error != 0) return text.error;
    if (regular_ && (fs_calls.ftruncate(fd_.get(), text.length) != 0 || fs_calls.fsync(fd_.get()) != 0)) return errno;
    written_ = state_of_descriptor(fd_.get());
    return close_written(fd_);
}
