#include "call_faults.h"

#include <fcntl.h>

#include <cerrno>
#include <map>
#include <type_traits>

#include "file_calls.h"

namespace {

struct hook {
    std::string name;
    int nth;
    bool after;
    std::function<void()> step;
};

// What the table in place does; one at a time.
struct fault_state {
    std::vector<std::string> log;
    std::map<std::string, int> counts;
    int fail_at = 0;
    int fail_error = 0;
    std::map<std::string, int> failing;
    std::vector<hook> hooks;
    std::string current_name;
    bool short_writes = false;
    bool refuse_unnamed = false;

    void run_hooks(const std::string& name, bool after) {
        for (const hook& h : hooks)
            if ((h.name == name || h.name == "*") && h.after == after &&
                (h.nth == 0 || h.nth == (h.name == "*" ? static_cast<int>(log.size()) : counts[name])))
                h.step();
    }
    // Counts a call and runs the hooks before it; the errno value it is to fail with, or 0.
    int begin(const std::string& name) {
        log.push_back(name);
        ++counts[name];
        run_hooks(name, false);
        if (static_cast<int>(log.size()) == fail_at) return fail_error;
        const auto all = failing.find(name);
        return all == failing.end() ? 0 : all->second;
    }
};

fault_state state;
std::vector<std::string> names;

template <class R>
R failed_with(int error) {
    errno = error;
    if constexpr (std::is_pointer_v<R>) {
        return nullptr;
    } else {
        return static_cast<R>(-1);
    }
}

template <auto Member>
struct entry;

// The wrapper of one entry: the real call, unless it is to fail. A close
// that fails has still released its descriptor, as the real one does.
template <class R, class... A, R (*file_calls::*Member)(A...)>
struct entry<Member> {
    static inline std::string name;
    static R call(A... args) {
        // The last name among the arguments, for a step run before the call.
        state.current_name.clear();
        (
            [&](auto arg) {
                if constexpr (std::is_same_v<decltype(arg), const char*>) state.current_name = arg ? arg : "";
            }(args),
            ...);
        const int error = state.begin(name);
        if (error != 0 && name != "close") return failed_with<R>(error);
        R result = (system_file_calls().*Member)(args...);
        state.run_hooks(name, true);
        return error != 0 ? failed_with<R>(error) : result;
    }
};

// Refused at once, uncounted, as by a file system that has no unnamed files.
int unnamed_refused(int dir, const char* name, int flags, mode_t mode) {
    if (state.refuse_unnamed && (flags & O_TMPFILE) == O_TMPFILE) return failed_with<int>(EOPNOTSUPP);
    return entry<&file_calls::openat>::call(dir, name, flags, mode);
}

ssize_t short_write(int fd, const void* data, std::size_t size) {
    return entry<&file_calls::write>::call(fd, data, state.short_writes && size > 1 ? size / 2 : size);
}

template <auto Member>
void wrap(file_calls& table, const char* name) {
    entry<Member>::name = name;
    table.*Member = &entry<Member>::call;
    names.emplace_back(name);
}

file_calls wrapped_calls() {
    file_calls table{};
    names.clear();
    wrap<&file_calls::openat>(table, "openat");
    table.openat = unnamed_refused;
    wrap<&file_calls::close>(table, "close");
    wrap<&file_calls::dup>(table, "dup");
    wrap<&file_calls::fstat>(table, "fstat");
    wrap<&file_calls::fstatat>(table, "fstatat");
    wrap<&file_calls::fstatfs>(table, "fstatfs");
    wrap<&file_calls::readlinkat>(table, "readlinkat");
    wrap<&file_calls::getcwd>(table, "getcwd");
    wrap<&file_calls::write>(table, "write");
    table.write = short_write;
    wrap<&file_calls::ftruncate>(table, "ftruncate");
    wrap<&file_calls::fallocate>(table, "fallocate");
    wrap<&file_calls::fsync>(table, "fsync");
    wrap<&file_calls::renameat>(table, "renameat");
    wrap<&file_calls::linkat>(table, "linkat");
    wrap<&file_calls::unlinkat>(table, "unlinkat");
    wrap<&file_calls::fchown>(table, "fchown");
    wrap<&file_calls::fchmod>(table, "fchmod");
    wrap<&file_calls::faccessat>(table, "faccessat");
    wrap<&file_calls::listxattr>(table, "listxattr");
    wrap<&file_calls::getxattr>(table, "getxattr");
    wrap<&file_calls::flistxattr>(table, "flistxattr");
    wrap<&file_calls::fgetxattr>(table, "fgetxattr");
    wrap<&file_calls::fsetxattr>(table, "fsetxattr");
    wrap<&file_calls::fremovexattr>(table, "fremovexattr");
    return table;
}

}  // namespace

call_faults::call_faults() {
    state = fault_state{};
    fs_calls = wrapped_calls();
}

call_faults::~call_faults() {
    fs_calls = system_file_calls();
}

void call_faults::fail_call(int n, int error) {
    state.fail_at = n;
    state.fail_error = error;
}

void call_faults::fail_all(const std::string& name, int error) {
    state.failing[name] = error;
}

void call_faults::short_writes() {
    state.short_writes = true;
}

void call_faults::refuse_unnamed_files() {
    state.refuse_unnamed = true;
}

void call_faults::before(const std::string& name, int nth, std::function<void()> step) {
    state.hooks.push_back({name, nth, false, std::move(step)});
}

void call_faults::after(const std::string& name, int nth, std::function<void()> step) {
    state.hooks.push_back({name, nth, true, std::move(step)});
}

const std::string& call_faults::current_name() const {
    return state.current_name;
}

const std::vector<std::string>& call_faults::log() const {
    return state.log;
}

std::vector<std::string> call_faults::entries() {
    wrapped_calls();
    return names;
}
