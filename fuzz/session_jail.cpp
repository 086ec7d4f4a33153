#include "session_jail.h"

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "record_file.h"
#include "write_all.h"

// Starts the sanitizers' symbolizer; absent in a build without sanitizers.
extern "C" [[gnu::weak]] void __sanitizer_symbolize_pc(void* pc, const char* format, char* out,
                                                       std::size_t size);

namespace {

constexpr const char* stdin_name = "stdin";

std::string work_dir;  // private directory holding the jail and stdin_name
int work_fd = -1;
int jail_fd = -1;
int outer_root_fd = -1;
int outer_cwd_fd = -1;

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "session fuzz target: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(1);
}

void write_file_at(int dir_fd, const char* name, std::string_view bytes) {
    const int fd = openat(dir_fd, name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0 || write_all(fd, bytes) != 0 || close(fd) != 0) fail(std::string("cannot write ") + name);
}

// Removes every file of the jail. A session creates files, never directories.
void empty_jail() {
    const int fd = openat(jail_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = fd < 0 ? nullptr : fdopendir(fd);
    if (dir == nullptr) fail("cannot list the jail");
    while (const dirent* entry = readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..") continue;
        unlinkat(jail_fd, entry->d_name, 0);
    }
    closedir(dir);
}

void remove_work_dir() {
    empty_jail();
    unlinkat(work_fd, "jail", AT_REMOVEDIR);
    unlinkat(work_fd, stdin_name, 0);
    rmdir(work_dir.c_str());
}

bool try_enter_and_leave() {
    if (fchdir(jail_fd) != 0 || chroot(".") != 0) {
        const int error = errno;
        fchdir(outer_cwd_fd);
        errno = error;
        return false;
    }
    jail_leave();
    return true;
}

bool write_proc_file(const char* path, const std::string& content) {
    const int fd = open(path, O_WRONLY | O_CLOEXEC);
    const bool written = fd >= 0 && write_all(fd, content) == 0;
    if (fd >= 0) close(fd);
    return written;
}

// Maps the current user to root of a new user namespace, which may change
// its root directory. Only possible while the process has a single thread.
bool become_root_of_user_namespace() {
    const std::string uid = std::to_string(geteuid());
    const std::string gid = std::to_string(getegid());
    return unshare(CLONE_NEWUSER) == 0 && write_proc_file("/proc/self/setgroups", "deny") &&
           write_proc_file("/proc/self/uid_map", "0 " + uid + " 1") &&
           write_proc_file("/proc/self/gid_map", "0 " + gid + " 1");
}

// Reports inside the jail cannot start the symbolizer or read the module map
// from /proc, so both are set up while the real root is still in place.
void start_symbolizer() {
    if (__sanitizer_symbolize_pc == nullptr) return;
    char out[256];
    __sanitizer_symbolize_pc(__builtin_return_address(0), "%p %F %L", out, sizeof out);
}

}  // namespace

void jail_init() {
    // libFuzzer reports on standard error; the session's output is not needed.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) fail("cannot open /dev/null");

    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/session-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) fail("cannot create a directory from " + pattern);
    work_dir = pattern;
    work_fd = open(work_dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (work_fd < 0 || mkdirat(work_fd, "jail", 0700) != 0) fail("cannot create the jail in " + work_dir);
    jail_fd = openat(work_fd, "jail", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    outer_root_fd = open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    outer_cwd_fd = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (jail_fd < 0 || outer_root_fd < 0 || outer_cwd_fd < 0) fail("cannot open the directories");
    std::atexit(remove_work_dir);

    if (!try_enter_and_leave()) {
        const int error = errno;
        if (geteuid() == 0 || !become_root_of_user_namespace() || !try_enter_and_leave()) {
            errno = error;
            fail("refusing to run sessions unconfined: cannot chroot into " + work_dir +
                 "/jail (run as root, or enable unprivileged user namespaces)");
        }
    }
    start_symbolizer();
    std::fprintf(stderr,
                 "session fuzz target: sessions run chroot-ed into %s/jail; a crash input found "
                 "during a session is written there\n",
                 work_dir.c_str());
}

void jail_prepare(std::optional<std::string_view> records, std::string_view keys) {
    empty_jail();
    if (records) write_file_at(jail_fd, init_file, *records);
    write_file_at(work_fd, stdin_name, keys);
    const std::string stdin_path = work_dir + "/" + stdin_name;
    if (std::freopen(stdin_path.c_str(), "r", stdin) == nullptr) fail("cannot reopen standard input");
}

void jail_enter() {
    if (fchdir(jail_fd) != 0 || chroot(".") != 0) fail("cannot enter the jail");
}

void jail_leave() {
    if (fchdir(outer_root_fd) != 0 || chroot(".") != 0 || fchdir(outer_cwd_fd) != 0)
        fail("cannot leave the jail");
}
