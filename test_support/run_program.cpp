#include "run_program.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Pipe {
    int fds[2] = {-1, -1};
    Pipe() {
        if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    }
    ~Pipe() { close_both(); }
    void close_end(int i) {
        if (fds[i] >= 0) close(fds[i]);
        fds[i] = -1;
    }
    void close_both() { close_end(0); close_end(1); }
};

[[noreturn]] void exec_child(const std::string& binary, const RunOptions& options,
                             Pipe& in, Pipe& out, Pipe& err) {
    dup2(in.fds[0], 0);
    dup2(out.fds[1], 1);
    dup2(err.fds[1], 2);
    if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(126);
    if (options.stack_limit_bytes) {
        rlimit limit{*options.stack_limit_bytes, *options.stack_limit_bytes};
        if (setrlimit(RLIMIT_STACK, &limit) != 0) _exit(126);
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(binary.c_str()));
    for (const auto& arg : options.args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(binary.c_str(), argv.data());
    _exit(127);
}

}  // namespace

bool RunResult::exited_with(int code) const {
    return !timed_out && WIFEXITED(wait_status) && WEXITSTATUS(wait_status) == code;
}

RunResult run_program(const std::string& binary, const RunOptions& options) {
    // The child may stop reading before all input is written; the caller's
    // own disposition comes back at the end.
    const auto pipe_disposition = std::signal(SIGPIPE, SIG_IGN);
    Pipe in, out, err;
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) exec_child(binary, options, in, out, err);

    in.close_end(0);
    out.close_end(1);
    err.close_end(1);
    fcntl(in.fds[1], F_SETFL, O_NONBLOCK);

    RunResult result;
    size_t written = 0;
    if (options.input.empty()) in.close_end(1);
    const auto deadline = std::chrono::steady_clock::now() + options.timeout;
    char buffer[65536];
    while (out.fds[0] >= 0 || err.fds[0] >= 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.timed_out = true;
            kill(pid, SIGKILL);
            break;
        }
        pollfd fds[3] = {{out.fds[0], POLLIN, 0}, {err.fds[0], POLLIN, 0}, {in.fds[1], POLLOUT, 0}};
        if (poll(fds, 3, static_cast<int>(left.count())) < 0 && errno != EINTR) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                (i == 0 ? result.out : result.err).append(buffer, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                (i == 0 ? out : err).close_end(0);
            }
        }
        if (fds[2].fd >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
            ssize_t n = write(in.fds[1], options.input.data() + written, options.input.size() - written);
            if (n > 0) written += static_cast<size_t>(n);
            if ((n < 0 && errno != EAGAIN && errno != EINTR) || written == options.input.size())
                in.close_end(1);
        }
    }
    in.close_end(1);
    while (waitpid(pid, &result.wait_status, 0) < 0 && errno == EINTR) {
    }
    std::signal(SIGPIPE, pipe_disposition);
    return result;
}

int count_of(std::string_view text, std::string_view part) {
    int count = 0;
    for (auto at = text.find(part); at != std::string_view::npos; at = text.find(part, at + part.size())) ++count;
    return count;
}
