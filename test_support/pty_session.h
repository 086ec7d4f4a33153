#pragma once
// Drives a binary on a new pseudo-terminal: the binary is the leader of a new
// session whose controlling terminal is the terminal's slave side; the test
// holds the master side, types into it and reads what the program writes.
// Every wait takes a deadline; nothing sleeps for a fixed time.
//
//     PtySession session(binary, {"arg"}, {.cwd = dir.path()});
//     ASSERT_TRUE(session.read_until("prompt> ", 10s)) << session.output();
//     session.write("answer\n");
//     session.type_interrupt();
//     auto status = session.wait_exit(10s);   // raw waitpid status
//
// The terminal starts in its normal (canonical, signal-generating) mode, with
// two changes that make output comparable byte for byte: no echo of typed
// input and no "\n" -> "\r\n" translation (both can be turned back on).
// NOFLSH is set so that typing INTR or QUIT does not discard output that is
// still on its way to the master.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

struct PtyOptions {
    std::string cwd;                   // working directory of the program; empty: inherit
    bool echo = false;                 // terminal echoes typed input
    bool crlf = false;                 // terminal turns "\n" into "\r\n" on output
    std::vector<int> ignored_signals;  // set to SIG_IGN before exec; all others are SIG_DFL
    std::vector<int> blocked_signals;  // blocked at exec; all others are unblocked
    std::vector<int> pending_signals;  // of those blocked, sent to the program before exec
};

class PtySession {
public:
    // Starts `program` (searched along PATH when it holds no slash) with
    // `args` after the program name. Throws std::runtime_error when the
    // terminal or the process cannot be created; a failed exec shows up as
    // exit status 127 with a message on the terminal.
    PtySession(const std::string& program, const std::vector<std::string>& args,
               const PtyOptions& options = {});
    // Kills what is left of the program's process group, reaps the program
    // and closes the master.
    ~PtySession();
    PtySession(const PtySession&) = delete;
    PtySession& operator=(const PtySession&) = delete;

    pid_t pid() const { return pid_; }

    // Writes bytes to the master, as if typed. Returns false on error.
    bool write(std::string_view bytes);
    // Types the terminal's current INTR / QUIT character.
    bool type_interrupt();
    bool type_quit();
    // Types the end-of-file character: a read at the start of a line gets end of input.
    bool type_end_of_file();
    // Sends a signal to the terminal's foreground process group.
    bool signal_foreground(int sig);

    // Reads until `text` appears in the output after the end of the previous
    // match (or the start), or until the deadline passes or the terminal is
    // closed. On success the match point moves past `text`.
    bool read_until(std::string_view text, std::chrono::milliseconds timeout);
    // Reads whatever arrives during `time` (a short slice of waiting while
    // polling for something else).
    void read_for(std::chrono::milliseconds time);
    // Everything read from the master so far.
    const std::string& output() const { return output_; }
    // The output after the last match point.
    std::string_view unmatched() const;

    // Waits for the program to end, reading its output meanwhile, then reads
    // what is left until every holder of the slave has closed it (or the
    // deadline passes). Returns the raw waitpid status, or nothing if the
    // program is still running at the deadline.
    std::optional<int> wait_exit(std::chrono::milliseconds timeout);

private:
    using Clock = std::chrono::steady_clock;
    // Waits for output until `deadline` and reads what is there. Returns false
    // when nothing came before the deadline or the terminal is closed.
    bool pump(Clock::time_point deadline);
    bool type_control(int index);

    int master_ = -1;
    pid_t pid_ = -1;
    std::optional<int> status_;
    bool closed_ = false;  // the master reported end of file or EIO
    std::string output_;
    std::size_t matched_ = 0;
};
