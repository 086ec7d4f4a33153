// launcher: runs one command line in a child process whose standard error goes
// to "Error Log.txt" and whose standard output goes to the controlling
// terminal, then reports from the parent how the child stopped, continued and
// ended.

#include "extract.h"
#include "output_status.h"
#include "info_options.h"
#include "write_all.h"
#include "name_walk.h"
#include "checked_open.h"
#include "shared_dir_rules.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

void sig_handler(int sig);
void child_sig_handler(int sig);

namespace {

constexpr const char* log_name = "Error Log.txt";

// Descriptions of errno values, filled before any handler is installed so that
// a handler can print them without calling into the C library.
std::array<const char*, 256> error_texts{};

void fill_error_texts() {
    for (std::size_t i = 0; i < error_texts.size(); ++i)
        error_texts[i] = strerrordesc_np(static_cast<int>(i));
}

// The standard error printer's output ("text: description\n"), built without
// stdio so that signal handlers can use it.
void write_error(std::string_view text, int err) {
    const char* description = nullptr;
    if (err >= 0 && static_cast<std::size_t>(err) < error_texts.size())
        description = error_texts[static_cast<std::size_t>(err)];
    write_all(STDERR_FILENO, text);
    write_all(STDERR_FILENO, ": ");
    write_all(STDERR_FILENO, description != nullptr ? description : "Unknown error");
    write_all(STDERR_FILENO, "\n");
}

// The parent's report lines go out at once, so that nothing is left in the
// stdio buffer when a handler ends the process with _exit.
// NOLINTNEXTLINE(cert-dcl50-cpp): variadic, so that the compiler checks each format against its arguments
[[gnu::format(printf, 1, 2)]] void report(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    flush_output();
}

// Makes the start-up state that the rest relies on, whatever the launcher
// inherited: descriptors 0 to 2 open, so that no file opened later takes one
// of their numbers; SIGCHLD at its default, without which the child's end
// could not be waited for and the command would inherit the ignored signal;
// and only the signals it handles blocked, until each process has its
// handlers in place and lets every signal through (unblock_all): a signal
// pending at start is then acknowledged like one a moment later, and the
// command starts with an empty mask. Other inherited dispositions (an
// ignored SIGHUP under a hang-up guard) are the caller's choice and stay.
void settle_inherited_state() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
        const int null_fd = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (null_fd >= 0 && null_fd != fd) {  // cannot happen while fd is the lowest free number
            dup2(null_fd, fd);
            close(null_fd);
        }
    }
    signal(SIGCHLD, SIG_DFL);
    sigset_t handled;
    sigemptyset(&handled);
    for (int sig : {SIGSEGV, SIGQUIT, SIGINT}) sigaddset(&handled, sig);
    sigprocmask(SIG_SETMASK, &handled, nullptr);
}

void unblock_all() {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
}

// The handler stays installed after each delivery, and a wait that it
// interrupts is resumed.
void install_handlers(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : {SIGSEGV, SIGQUIT, SIGINT}) {
        if (sigaction(sig, &action, nullptr) != 0) std::perror("sigaction failed");
    }
}

// Opens "Error Log.txt" for writing, created or emptied. The name is walked
// link by link, each link followed only as the kernel's protected-symlinks
// rule allows whatever the system's setting, and a file there that another
// user planted in a shared directory is refused as the protected-regular
// rule would (EACCES): a run with more privilege then truncates nothing it
// should not. The file opened is checked to be the one looked at before it
// is emptied; a log that another run creates or replaces meanwhile is
// looked at again.
int open_log() {
    for (int tries = 0; tries < 3; ++tries) {
        const name_target log = walk_name(log_name);
        if (log.error != 0) {
            errno = log.error;
            return -1;
        }
        if (log.descriptor >= 0) return dup(log.descriptor);
        const int directory = log.directory.get();
        struct stat there {};
        struct stat holder {};
        if (fstatat(directory, log.name.c_str(), &there, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT) return -1;
            const int fd = openat(directory, log.name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY, 0666);
            if (fd >= 0 || errno != EEXIST) return fd;
            continue;
        }
        if (fstat(directory, &holder) != 0) return -1;
        if (!may_write_existing(there, holder, geteuid())) {
            errno = EACCES;
            return -1;
        }
        checked_open opened = open_examined(directory, log.name, there, O_WRONLY | O_NOCTTY);
        if (opened.replaced) continue;
        errno = opened.error;
        if (!opened.fd || (S_ISREG(there.st_mode) && ftruncate(opened.fd.get(), 0) != 0)) return -1;
        return opened.fd.release();
    }
    errno = EAGAIN;  // replaced at every look: another run keeps changing it
    return -1;
}

// Puts "Error Log.txt", created or emptied, on descriptor 2. dup2 keeps this
// right when the launcher was started with descriptor 2 closed. The log's own
// descriptor stays open beside descriptor 2 and the command inherits both.
void redirect_stderr_to_log() {
    const int log = open_log();
    if (log < 0) {
        std::perror(log_name);  // still the original standard error
        _exit(1);
    }
    if (log != STDERR_FILENO && dup2(log, STDERR_FILENO) < 0) {
        std::perror("dup2 failed");
        _exit(1);
    }
}

// Puts the controlling terminal on descriptor 1. The terminal is opened first
// so that a failure leaves standard output as it is instead of closed.
void redirect_stdout_to_terminal() {
    const int tty = open("/dev/tty", O_WRONLY | O_APPEND);
    if (tty < 0) {
        const std::string note = std::string("No terminal (/dev/tty: ") + std::strerror(errno) +
                                 "); the command keeps the launcher's standard output\n";
        write_all(STDERR_FILENO, note);  // the log, on which a write can take part of it
        return;
    }
    if (tty != STDOUT_FILENO) {
        if (dup2(tty, STDOUT_FILENO) < 0) {
            std::perror("dup2 failed, the command keeps the launcher's standard output");
        }
        close(tty);
    }
}

// The child: handlers, redirections, then the command. Never returns into
// main, so the parent's copied stdio state is never flushed a second time.
// The handled signals are still blocked on entry and are let through only
// once the child's own handlers are in place.
[[noreturn]] void run_child(int argc, char* argv[]) {
    install_handlers(child_sig_handler);
    unblock_all();

    if (argc < 2) {
        write_all(STDERR_FILENO, "No command line to run\n");
        _exit(2);
    }
    char** words = nullptr;
    try {
        words = extract_func(argv);
    } catch (const std::bad_alloc&) {
        write_all(STDERR_FILENO, "Out of memory splitting the command line\n");
        _exit(1);
    }
    redirect_stderr_to_log();
    redirect_stdout_to_terminal();

    execvp(words[0], words);
    std::printf("Children should be replaced by execvp, we should not see this printed line\n");
    std::fflush(stdout);
    _exit(1);
}

// Reports every status change of the child until it has ended, or until
// waitpid fails.
void wait_for_child(pid_t child) {
    for (;;) {
        int status = 0;
        const pid_t pid = waitpid(child, &status, WUNTRACED | WCONTINUED);
        if (pid < 0) {
            if (errno == EINTR) continue;
            std::perror("waitpid failed");
            return;
        }
        report("Child %ld exitted with status: %d\n", static_cast<long>(pid), status);
        if (WIFEXITED(status)) {
            report("Child exited normally with status %d\n", WEXITSTATUS(status));
            return;
        }
        if (WIFSIGNALED(status)) {
            report("Child killed by signal %d\n", WTERMSIG(status));
            return;
        }
        if (WIFCONTINUED(status)) {
            report("Child continued\n");
        } else if (WIFSTOPPED(status)) {
            report("Child stopped by signal %d\n", WSTOPSIG(status));
        } else {
            report("Child %ld has a wait status of unknown meaning, no longer waiting\n",
                   static_cast<long>(pid));
            return;
        }
    }
}

}  // namespace

// The parent's handler: quit and segmentation fault end the launcher; an
// interrupt is ignored so that the wait goes on.
void sig_handler(int sig) {
    const int err = errno;
    if (sig == SIGQUIT) {
        write_all(STDOUT_FILENO, "\nSIGQUIT acknowledged\n");
        _exit(0);
    }
    if (sig == SIGSEGV) {
        write_all(STDOUT_FILENO, "\nSigsev acknowledged, quitting\n");
        write_error("\nSigsev acknowledged, quitting\n", err);
        _exit(0);
    }
}

// The child's handler, in force until the exec: every signal ends the child.
void child_sig_handler(int sig) {
    const int err = errno;
    if (sig == SIGINT) {
        write_all(STDOUT_FILENO, "\nCHILD SIGINT acknowledged\n");
    } else if (sig == SIGQUIT) {
        write_all(STDOUT_FILENO, "\nCHILD SIGQUIT acknowledged\n");
    } else if (sig == SIGSEGV) {
        write_all(STDOUT_FILENO, "\nCHILD Sigsev acknowledged, quitting\n");
        write_error("\nCHILD Sigsev acknowledged, quitting\n", err);
    }
    _exit(0);
}

int main(int argc, char* argv[]) {
    settle_inherited_state();
    answer_help_or_version(argc, argv);
    fill_error_texts();
    if (argc < 2) report("No parameter provided\n");

    // The handled signals stay blocked across fork, so that none arrives
    // before the process that receives it has its own handlers in place.
    // Nothing left buffered for the child's copy of stdout to write again.
    std::fflush(stdout);

    const pid_t child = fork();
    if (child < 0) {
        std::perror("fork failed");
        return -1;
    }
    if (child == 0) run_child(argc, argv);

    install_handlers(sig_handler);
    unblock_all();
    wait_for_child(child);

    report("Parent process is sleeping\n");
    sleep(1);
    exit_after_output("launcher");
}
