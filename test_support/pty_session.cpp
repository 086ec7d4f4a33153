#include "pty_session.h"

#include "write_all.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <utmp.h>

namespace {

// Runs in the forked child: only async-signal-safe calls until the exec.
[[noreturn]] void exec_on_slave(int master, int slave, const char* program, char* const argv[],
                                const PtyOptions& options) {
    close(master);
    // login_tty: new session, slave as controlling terminal and as fds 0-2.
    if (login_tty(slave) != 0) _exit(126);

    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int sig = 1; sig < NSIG; ++sig) sigaction(sig, &action, nullptr);
    action.sa_handler = SIG_IGN;
    for (int sig : options.ignored_signals) sigaction(sig, &action, nullptr);
    sigset_t blocked;
    sigemptyset(&blocked);
    for (int sig : options.blocked_signals) sigaddset(&blocked, sig);
    sigprocmask(SIG_SETMASK, &blocked, nullptr);
    for (int sig : options.pending_signals) raise(sig);

    if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) {
        static const char message[] = "pty_session: cannot change directory\n";
        (void)!::write(STDERR_FILENO, message, sizeof message - 1);
        _exit(126);
    }
    execvp(program, argv);
    static const char message[] = "pty_session: cannot execute the program\n";
    (void)!::write(STDERR_FILENO, message, sizeof message - 1);
    _exit(127);
}

}  // namespace

PtySession::PtySession(const std::string& program, const std::vector<std::string>& args,
                       const PtyOptions& options) {
    int slave = -1;
    if (openpty(&master_, &slave, nullptr, nullptr, nullptr) != 0)
        throw std::runtime_error("openpty failed");
    fcntl(master_, F_SETFD, FD_CLOEXEC);

    termios mode{};
    if (tcgetattr(slave, &mode) == 0) {
        if (!options.echo) mode.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ECHOCTL);
        if (!options.crlf) mode.c_oflag &= ~static_cast<tcflag_t>(ONLCR);
        mode.c_lflag |= NOFLSH;
        tcsetattr(slave, TCSANOW, &mode);
    }

    // Everything the child needs is prepared before the fork.
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    pid_ = fork();
    if (pid_ < 0) {
        close(slave);
        close(master_);
        throw std::runtime_error("fork failed");
    }
    if (pid_ == 0) exec_on_slave(master_, slave, program.c_str(), argv.data(), options);
    close(slave);
}

PtySession::~PtySession() {
    if (!status_) {
        kill(pid_, SIGKILL);
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
    }
    // Whatever the program left running in its group (the group outlives
    // its leader, so the id cannot have been reused yet).
    kill(-pid_, SIGKILL);
    close(master_);
}

bool PtySession::write(std::string_view bytes) {
    return write_all(master_, bytes) == 0;
}

bool PtySession::type_control(int index) {
    termios mode{};
    if (tcgetattr(master_, &mode) != 0) return false;
    const char c = static_cast<char>(mode.c_cc[index]);
    return write(std::string_view(&c, 1));
}

bool PtySession::type_interrupt() { return type_control(VINTR); }
bool PtySession::type_quit() { return type_control(VQUIT); }
bool PtySession::type_end_of_file() { return type_control(VEOF); }

bool PtySession::signal_foreground(int sig) {
    pid_t group = tcgetpgrp(master_);
    if (group <= 0) group = pid_;
    return kill(-group, sig) == 0;
}

std::string_view PtySession::unmatched() const {
    return std::string_view(output_).substr(matched_);
}

bool PtySession::pump(Clock::time_point deadline) {
    if (closed_) return false;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd fd{master_, POLLIN, 0};
    const int ready = poll(&fd, 1, static_cast<int>(std::max<long long>(0, left.count())));
    if (ready <= 0) return false;
    char buffer[4096];
    const ssize_t n = read(master_, buffer, sizeof buffer);
    if (n > 0) {
        output_.append(buffer, static_cast<std::size_t>(n));
        return true;
    }
    // Linux reports EIO once every holder of the slave has closed it.
    if (n == 0 || (errno != EINTR && errno != EAGAIN)) closed_ = true;
    return false;
}

bool PtySession::read_until(std::string_view text, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        const std::size_t found = output_.find(text, matched_);
        if (found != std::string::npos) {
            matched_ = found + text.size();
            return true;
        }
        if (closed_ || Clock::now() >= deadline) return false;
        pump(deadline);
    }
}

void PtySession::read_for(std::chrono::milliseconds time) {
    const auto deadline = Clock::now() + time;
    while (Clock::now() < deadline) {
        if (closed_) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            poll(nullptr, 0, static_cast<int>(std::max<long long>(0, left.count())));
        } else {
            pump(deadline);
        }
    }
}

std::optional<int> PtySession::wait_exit(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    // Checks for the end between short reads, so that a program blocked on a
    // full terminal buffer still gets to finish.
    while (!status_) {
        int status = 0;
        const pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            status_ = status;
            break;
        }
        if (done < 0 && errno != EINTR) return std::nullopt;
        if (Clock::now() >= deadline) return std::nullopt;
        read_for(std::min(std::chrono::milliseconds(20),
                          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())));
    }
    while (!closed_ && Clock::now() < deadline) pump(deadline);
    return status_;
}
