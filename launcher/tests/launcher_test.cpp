// End-to-end tests: the real launcher binary on a real pseudo-terminal, with
// small shell scripts as the commands it runs.

#include "alias_tools_version.h"
#include "pty_session.h"
#include "run_program.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr auto deadline = 30s;  // generous: only a fault should ever reach it
const std::string launcher = LAUNCHER_BIN;
const std::string log_name = "Error Log.txt";
const std::string not_replaced = "Children should be replaced by execvp, we should not see this printed line\n";

// The parts appear in this order (other text may lie between them).
::testing::AssertionResult in_order(const std::string& text, const std::vector<std::string>& parts) {
    std::size_t pos = 0;
    for (const auto& part : parts) {
        const auto found = text.find(part, pos);
        if (found == std::string::npos)
            return ::testing::AssertionFailure() << "missing (in order) \"" << part << "\" in:\n" << text;
        pos = found + part.size();
    }
    return ::testing::AssertionSuccess();
}

// The parent's lines after a child that ended with `raw` status and `how`.
std::vector<std::string> report(int raw, const std::string& how) {
    return {" exitted with status: " + std::to_string(raw) + "\n", how, "Parent process is sleeping\n"};
}

bool exited_zero(const std::optional<int>& status) {
    return status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
}

const std::string strace = "/usr/bin/strace";

// Whether strace is there and allowed to trace.
bool can_trace() {
    RunOptions options;
    options.args = {"-qq", "-o", "/dev/null", "true"};
    return std::filesystem::exists(strace) && run_program(strace, options).exited_with(0);
}

// The environment setting for a sanitized launcher run traced or with
// another effective user: the leak check cannot run there.
std::string without_leak_check() {
    const char* asan = std::getenv("ASAN_OPTIONS");
    return "ASAN_OPTIONS=" + std::string(asan != nullptr && *asan != '\0' ? asan : "detect_leaks=1") + ":detect_leaks=0";
}

class Launcher : public ::testing::Test {
protected:
    TempDir dir;

    void script(const std::string& name, const std::string& body) {
        dir.write(name, "#!/bin/sh\n" + body);
        std::filesystem::permissions(dir.file(name), std::filesystem::perms::owner_all);
    }

    // Terminal options for a run in the test's directory.
    PtyOptions in_dir(std::vector<int> ignored = {}, std::vector<int> blocked = {}) const {
        PtyOptions options;
        options.cwd = dir.path();
        options.ignored_signals = std::move(ignored);
        options.blocked_signals = std::move(blocked);
        return options;
    }

    struct Finished {
        std::string output;
        std::optional<int> status;
    };
    Finished run(const std::vector<std::string>& args) {
        PtySession session(launcher, args, in_dir());
        auto status = session.wait_exit(deadline);
        return {session.output(), status};
    }
    // Whether `text` shows up in file `name` before the deadline; the terminal
    // is read meanwhile.
    bool file_shows(PtySession& session, const std::string& name, const std::string& text) {
        const auto until = std::chrono::steady_clock::now() + deadline;
        while (dir.read(name).find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() >= until) return false;
            session.read_for(20ms);
        }
        return true;
    }
    // Runs `shell_line` in sh on the terminal, with the launcher as $0.
    Finished run_shell(const std::string& shell_line, const std::vector<std::string>& args = {}) {
        std::vector<std::string> sh_args = {"-c", shell_line, launcher};
        sh_args.insert(sh_args.end(), args.begin(), args.end());
        PtySession session("/bin/sh", sh_args, in_dir());
        auto status = session.wait_exit(deadline);
        return {session.output(), status};
    }
};

TEST_F(Launcher, RunsTheFirstWordWithTheOthersAsArguments) {
    script("args.sh", "printf '<%s>' \"$0\"; printf '[%s]' \"$@\"; echo\n");
    {
        const auto r = run({"./args.sh one two", "extra", "more"});
        ASSERT_TRUE(exited_zero(r.status)) << r.output;
        EXPECT_EQ(count_of(r.output, "<./args.sh>[one][two]\n"), 1) << r.output;
        EXPECT_EQ(r.output.find("extra"), std::string::npos) << r.output;
        EXPECT_TRUE(in_order(r.output, report(0, "Child exited normally with status 0\n")));
    }
    {
        const auto r = run({"./args.sh a  b "});  // blanks in a row and at the end
        ASSERT_TRUE(exited_zero(r.status)) << r.output;
        EXPECT_NE(r.output.find("<./args.sh>[a][][b][]\n"), std::string::npos) << r.output;
    }
    {
        const auto r = run({"echo found along PATH"});
        ASSERT_TRUE(exited_zero(r.status)) << r.output;
        EXPECT_NE(r.output.find("found along PATH\n"), std::string::npos) << r.output;
    }
}

TEST_F(Launcher, ReportsTheProcessIdOfTheChild) {
    PtySession session(launcher, {"true"}, in_dir());
    ASSERT_TRUE(exited_zero(session.wait_exit(deadline))) << session.output();
    const auto& out = session.output();
    const auto start = out.find("Child ");
    const auto end = out.find(" exitted with status: 0\n");
    ASSERT_TRUE(start != std::string::npos && end != std::string::npos) << out;
    const long reported = std::stol(out.substr(start + 6, end - start - 6));
    EXPECT_GT(reported, 0);
    EXPECT_NE(reported, session.pid());
}

TEST_F(Launcher, CommandStandardErrorGoesToTheLogWhichEachRunEmpties) {
    script("both.sh", "echo to-stdout; echo to-stderr >&2\n");
    const mode_t mask = umask(022);
    auto r = run({"./both.sh"});
    umask(mask);
    ASSERT_TRUE(exited_zero(r.status)) << r.output;
    EXPECT_NE(r.output.find("to-stdout\n"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("to-stderr"), std::string::npos) << r.output;
    EXPECT_EQ(dir.read(log_name), "to-stderr\n");
    EXPECT_EQ(std::filesystem::status(dir.file(log_name)).permissions(),
              std::filesystem::perms(0644));  // as any new file under the umask

    r = run({"true"});
    ASSERT_TRUE(exited_zero(r.status)) << r.output;
    EXPECT_TRUE(dir.exists(log_name));
    EXPECT_EQ(dir.read(log_name), "");

    // Another run may create the log between the launcher's first open and
    // its exclusive create: the log is then opened again. A tracer makes that
    // create fail as it would.
    if (!can_trace()) GTEST_SKIP() << "needs strace (Debian package strace) allowed to trace";
    std::filesystem::remove(dir.file(log_name));
    RunOptions options;
    options.cwd = dir.path();
    options.args = {"-f", "-qq", "-o", "/dev/null", "-E", without_leak_check(), "-P", log_name,
                    "-e", "trace=openat", "-e", "inject=openat:error=EEXIST:when=2", launcher, "./both.sh"};
    const RunResult traced = run_program(strace, options);
    EXPECT_TRUE(traced.exited_with(0)) << traced.err;
    EXPECT_TRUE(in_order(traced.out, report(0, "Child exited normally with status 0\n"))) << traced.out;
    EXPECT_TRUE(dir.read(log_name).ends_with("to-stderr\n")) << dir.read(log_name);  // after the no-terminal note
}

TEST_F(Launcher, CommandThatCannotBeFound) {
    const auto r = run({"no-such-command-here arg"});
    ASSERT_TRUE(exited_zero(r.status)) << r.output;
    EXPECT_TRUE(in_order(r.output, {not_replaced, " exitted with status: 256\n",
                                    "Child exited normally with status 1\n", "Parent process is sleeping\n"}));
    EXPECT_TRUE(dir.exists(log_name));
    EXPECT_EQ(dir.read(log_name), "");
}

TEST_F(Launcher, ReportsHowTheCommandEnded) {
    struct Case {
        std::string body;
        std::vector<int> raw;  // a kill may or may not dump core (bit 7)
        std::string how;
    };
    const Case cases[] = {
        {"exit 3", {768}, "Child exited normally with status 3\n"},
        {"kill -TERM $$", {15}, "Child killed by signal 15\n"},
        {"kill -SEGV $$", {11, 139}, "Child killed by signal 11\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        script("end.sh", c.body + "\n");
        const auto r = run({"./end.sh"});
        ASSERT_TRUE(exited_zero(r.status)) << r.output;
        bool any = false;
        for (int raw : c.raw) any = any || in_order(r.output, report(raw, c.how));
        EXPECT_TRUE(any) << r.output;
        EXPECT_EQ(count_of(r.output, " exitted with status: "), 1) << r.output;
        EXPECT_TRUE(r.output.ends_with(c.how + "Parent process is sleeping\n")) << r.output;  // no more waiting
    }
}

TEST_F(Launcher, ReportsAStopAndAContinuation) {
    // The command waits for a typed line after resuming, so that it cannot end
    // before the parent has collected the continuation.
    script("stop.sh", "echo ready; kill -STOP $$; echo resumed; read line; echo got-$line\n");
    PtySession session(launcher, {"./stop.sh"}, in_dir());
    ASSERT_TRUE(session.read_until("Child stopped by signal 19\n", deadline)) << session.output();
    EXPECT_TRUE(in_order(session.output(), {"ready\n", " exitted with status: 4991\n", "Child stopped by signal 19\n"}));

    ASSERT_TRUE(session.signal_foreground(SIGCONT));
    ASSERT_TRUE(session.read_until("Child continued\n", deadline)) << session.output();
    EXPECT_TRUE(in_order(session.output(), {" exitted with status: 4991\n", " exitted with status: 65535\n", "Child continued\n"}));
    ASSERT_TRUE(session.write("go\n"));

    ASSERT_TRUE(exited_zero(session.wait_exit(deadline))) << session.output();
    EXPECT_TRUE(in_order(session.output(), {"resumed\n", "got-go\n", " exitted with status: 0\n",
                                            "Child exited normally with status 0\n", "Parent process is sleeping\n"}));
}

TEST_F(Launcher, QuitTypedAtTheTerminalEndsTheLauncherAtOnce) {
    // The command ignores the quit and keeps running: the launcher must not wait for it.
    script("long.sh", "trap '' QUIT; echo ready; exec sleep 600\n");
    // Also when started with the quit blocked: the launcher does not keep it so.
    for (const auto& blocked : {std::vector<int>{}, std::vector<int>{SIGTERM, SIGQUIT}}) {
        SCOPED_TRACE(blocked.size());
        PtySession session(launcher, {"./long.sh"}, in_dir({}, blocked));
        ASSERT_TRUE(session.read_until("ready\n", deadline)) << session.output();
        ASSERT_TRUE(session.type_quit());
        ASSERT_TRUE(exited_zero(session.wait_exit(deadline))) << session.output();
        EXPECT_EQ(count_of(session.output(), "\nSIGQUIT acknowledged\n"), 1) << session.output();
        EXPECT_EQ(session.output().find("exitted"), std::string::npos) << session.output();
        EXPECT_EQ(session.output().find("CHILD"), std::string::npos) << session.output();
    }
}

TEST_F(Launcher, InterruptTypedWhileTheCommandRunsEndsOnlyTheCommand) {
    script("long.sh", "echo ready; exec sleep 600\n");
    PtySession session(launcher, {"./long.sh"}, in_dir());
    ASSERT_TRUE(session.read_until("ready\n", deadline)) << session.output();
    ASSERT_TRUE(session.type_interrupt());
    ASSERT_TRUE(exited_zero(session.wait_exit(deadline))) << session.output();
    EXPECT_TRUE(in_order(session.output(), report(2, "Child killed by signal 2\n")));
    EXPECT_EQ(session.output().find("CHILD"), std::string::npos) << session.output();
}

TEST_F(Launcher, SleepsASecondAtTheEndUnlessInterrupted) {
    {
        PtySession session(launcher, {"true"}, in_dir());
        ASSERT_TRUE(session.read_until("Parent process is sleeping\n", deadline)) << session.output();
        const auto sleeping = std::chrono::steady_clock::now();
        ASSERT_TRUE(exited_zero(session.wait_exit(deadline))) << session.output();
        EXPECT_GE(std::chrono::steady_clock::now() - sleeping, 900ms);
    }
    PtySession session(launcher, {"true"}, in_dir());
    ASSERT_TRUE(session.read_until("Parent process is sleeping\n", deadline)) << session.output();
    ASSERT_TRUE(session.type_interrupt());
    ASSERT_TRUE(exited_zero(session.wait_exit(deadline))) << session.output();
    EXPECT_EQ(session.unmatched(), "");
}

TEST_F(Launcher, SegmentationFaultSignalToTheLauncherIsAcknowledged) {
    script("long.sh", "echo ready; exec sleep 600\n");
    PtySession session(launcher, {"./long.sh"}, in_dir());
    ASSERT_TRUE(session.read_until("ready\n", deadline)) << session.output();
    ASSERT_EQ(kill(session.pid(), SIGSEGV), 0);
    ASSERT_TRUE(exited_zero(session.wait_exit(deadline))) << session.output();
    // Standard output's line, then the error printer's on standard error
    // (both on the terminal here).
    EXPECT_TRUE(in_order(session.output(),
                         {"\nSigsev acknowledged, quitting\n\nSigsev acknowledged, quitting\n: "}));
    EXPECT_TRUE(session.output().ends_with("\n")) << session.output();
    EXPECT_EQ(session.output().find("exitted"), std::string::npos) << session.output();
}

TEST_F(Launcher, RedirectedOutputHoldsTheReportsAndTheTerminalTheCommand) {
    script("out.sh", "echo command-output\n");
    auto r = run_shell("exec \"$0\" \"$1\" >report.txt", {"./out.sh"});
    ASSERT_TRUE(exited_zero(r.status)) << r.output;
    const std::string file = dir.read("report.txt");
    EXPECT_EQ(r.output, "command-output\n");
    EXPECT_EQ(count_of(file, "exitted with status: 0\n"), 1) << file;
    EXPECT_TRUE(in_order(file, report(0, "Child exited normally with status 0\n")));
    EXPECT_EQ(file.find("command-output"), std::string::npos) << file;

    r = run_shell("exec \"$0\" no-such-command-here >report.txt");
    ASSERT_TRUE(exited_zero(r.status)) << r.output;
    EXPECT_EQ(r.output, not_replaced);
    EXPECT_TRUE(in_order(dir.read("report.txt"), report(256, "Child exited normally with status 1\n")));

    // Reports that cannot be written are no success; the command still ran.
    r = run_shell("exec \"$0\" \"$1\" >/dev/full", {"./out.sh"});
    ASSERT_TRUE(r.status && WIFEXITED(*r.status)) << r.output;
    EXPECT_EQ(WEXITSTATUS(*r.status), 1) << r.output;
    EXPECT_EQ(r.output, "command-output\nlauncher: write error: No space left on device\n");
}

TEST_F(Launcher, RedirectedReportsAreWrittenOutAsTheyArePrinted) {
    // The stopped line must reach the file while the launcher still waits,
    // and survive the quit that then ends the launcher from its handler.
    script("stop.sh", "echo ready; kill -STOP $$\n");
    PtySession session("/bin/sh", {"-c", "exec \"$0\" \"$1\" >report.txt", launcher, "./stop.sh"}, in_dir());
    ASSERT_TRUE(file_shows(session, "report.txt", " exitted with status: 4991\nChild stopped by signal 19\n"));
    ASSERT_TRUE(session.type_quit());
    ASSERT_TRUE(file_shows(session, "report.txt", "Child stopped by signal 19\n\nSIGQUIT acknowledged\n"));
    // The stopped command would hold the terminal open: let it take its quit.
    session.signal_foreground(SIGCONT);
    ASSERT_TRUE(exited_zero(session.wait_exit(deadline))) << session.output();
    const std::string file = dir.read("report.txt");
    EXPECT_TRUE(file.ends_with("Child stopped by signal 19\n\nSIGQUIT acknowledged\n")) << file;
    EXPECT_EQ(count_of(file, "Child stopped"), 1) << file;
}

TEST_F(Launcher, NoArgument) {
    // On the terminal, and with the launcher's output in a file: the line
    // printed before the fork appears once.
    auto r = run({});
    ASSERT_TRUE(exited_zero(r.status)) << r.output;
    EXPECT_EQ(count_of(r.output, "No parameter provided\n"), 1) << r.output;
    EXPECT_TRUE(in_order(r.output, {"No command line to run\n"}));
    EXPECT_TRUE(in_order(r.output, report(512, "Child exited normally with status 2\n")));
    EXPECT_FALSE(dir.exists(log_name));

    r = run_shell("exec \"$0\" >report.txt");
    ASSERT_TRUE(exited_zero(r.status)) << r.output;
    const std::string file = dir.read("report.txt");
    EXPECT_EQ(count_of(file, "No parameter provided\n"), 1) << file;
    EXPECT_TRUE(in_order(file, report(512, "Child exited normally with status 2\n")));
    EXPECT_EQ(r.output, "No command line to run\n");
}

// --help and --version are options only as the one and only argument; with
// anything after them they are the command to run, as any other word.
TEST_F(Launcher, HelpAndVersionAloneAreAnswered) {
    RunOptions options;
    options.cwd = dir.path();
    options.args = {"--help"};
    options.timeout = deadline;
    RunResult r = run_program(launcher, options);
    EXPECT_TRUE(r.exited_with(0));
    EXPECT_TRUE(r.out.starts_with("Usage: launcher 'COMMAND [ARGUMENT...]'\n")) << r.out;
    EXPECT_EQ(r.err, "");
    options.args = {"--version"};
    r = run_program(launcher, options);
    EXPECT_TRUE(r.exited_with(0));
    EXPECT_EQ(r.out, "launcher (alias-tools) " ALIAS_TOOLS_VERSION "\n");
    EXPECT_FALSE(dir.exists(log_name));

    // An answer that cannot be written says why and ends with status 1.
    options.args = {"-c", "exec \"$0\" --help >/dev/full", launcher};
    r = run_program("/bin/sh", options);
    EXPECT_TRUE(r.exited_with(1));
    EXPECT_EQ(r.err, "launcher: write error: No space left on device\n");

    for (const std::vector<std::string>& command : {std::vector<std::string>{"--help", "extra"}, {"--vers"}, {"--hel"}}) {
        const auto run = this->run(command);
        ASSERT_TRUE(exited_zero(run.status)) << run.output;
        EXPECT_TRUE(in_order(run.output, {not_replaced, " exitted with status: 256\n",
                                          "Child exited normally with status 1\n", "Parent process is sleeping\n"}));
        EXPECT_EQ(run.output.find("Usage"), std::string::npos) << run.output;
    }
}

// The child of the launcher `parent`, once it is forked (nullopt if it is not
// before the deadline).
std::optional<pid_t> child_of(pid_t parent) {
    const std::string children = "/proc/" + std::to_string(parent) + "/task/" + std::to_string(parent) + "/children";
    for (const auto until = std::chrono::steady_clock::now() + deadline; std::chrono::steady_clock::now() < until;) {
        std::ifstream in(children);
        pid_t pid = 0;
        if (in >> pid) return pid;
        std::this_thread::sleep_for(10ms);
    }
    return std::nullopt;
}

// A signal that reaches the child before its exec (here while it waits to
// open a FIFO log that no one reads) meets the child's own handler. The quit
// goes to the child alone: typed at the terminal it would also end the
// launcher at once, and the hang-up of the launcher's terminal session could
// end the child before its handler ran.
TEST_F(Launcher, ChildAcknowledgesSignalsBeforeItsExec) {
    ASSERT_EQ(mkfifo(dir.file(log_name).c_str(), 0600), 0);
    {
        PtySession session(launcher, {"true"}, in_dir());
        ASSERT_TRUE(child_of(session.pid()));
        ASSERT_TRUE(session.type_interrupt());
        ASSERT_TRUE(exited_zero(session.wait_exit(deadline))) << session.output();
        EXPECT_TRUE(in_order(session.output(), {"\nCHILD SIGINT acknowledged\n", " exitted with status: 0\n",
                                                "Child exited normally with status 0\n"}));
    }
    PtySession session(launcher, {"true"}, in_dir());
    const auto child = child_of(session.pid());
    ASSERT_TRUE(child);
    ASSERT_EQ(kill(*child, SIGQUIT), 0);
    ASSERT_TRUE(exited_zero(session.wait_exit(deadline))) << session.output();
    EXPECT_TRUE(in_order(session.output(), {"\nCHILD SIGQUIT acknowledged\n", " exitted with status: 0\n",
                                            "Child exited normally with status 0\n"}));
    EXPECT_EQ(session.output().find("\nSIGQUIT acknowledged\n"), std::string::npos) << session.output();

    // Each one sent to the child at its first system call, just after the fork
    // (strace sends it there), waits for its handlers. Ignored by the caller,
    // so that the one sent at the same call at the launcher's start is dropped.
    if (!can_trace()) GTEST_SKIP() << "needs strace (Debian package strace) allowed to trace";
    std::filesystem::remove(dir.file(log_name));
    for (const auto& [sig, line] : {std::pair{"INT", "SIGINT acknowledged"}, {"QUIT", "SIGQUIT acknowledged"},
                                    {"SEGV", "Sigsev acknowledged, quitting"}}) {
        RunOptions options;
        options.cwd = dir.path();
        options.args = {"-c", std::string("trap '' ") + sig + "; exec \"$@\"", "sh", strace, "-f", "-qq", "-o",
                        "/dev/null", "-E", without_leak_check(), "-e", "trace=set_robust_list", "-e",
                        std::string("inject=set_robust_list:signal=SIG") + sig + ":when=1", launcher, "true"};
        const RunResult r = run_program("/bin/sh", options);
        EXPECT_TRUE(in_order(r.out, {std::string("\nCHILD ") + line + "\n", " exitted with status: 0\n"})) << r.out;
    }
}

// A FIFO named "Error Log.txt" is a log like any other, opened and not
// emptied: its reader gets the command's standard error.
TEST_F(Launcher, FifoLogPassesTheStandardErrorToItsReader) {
    ASSERT_EQ(mkfifo(dir.file(log_name).c_str(), 0600), 0);
    const int reader = open(dir.file(log_name).c_str(), O_RDONLY | O_NONBLOCK);
    script("err.sh", "echo to-stderr >&2\n");
    const auto r = run({"./err.sh"});
    ASSERT_TRUE(exited_zero(r.status)) << r.output;
    char text[64] = {};
    EXPECT_EQ(read(reader, text, sizeof text - 1), 10);
    EXPECT_STREQ(text, "to-stderr\n");
    close(reader);
}

TEST_F(Launcher, LogThatCannotBeOpenedStopsTheChild) {
    std::filesystem::create_directory(dir.file(log_name));
    script("mark.sh", "touch ran\n");
    const auto r = run({"./mark.sh"});
    ASSERT_TRUE(exited_zero(r.status)) << r.output;
    EXPECT_TRUE(in_order(r.output, {"Error Log.txt: Is a directory\n"}));
    EXPECT_TRUE(in_order(r.output, report(256, "Child exited normally with status 1\n")));
    EXPECT_FALSE(dir.exists("ran"));
}

// A link named "Error Log.txt" in a world-writable sticky directory (as /tmp)
// is followed only when it belongs to the launcher's user or to the
// directory's owner, whatever fs.protected_symlinks is set to.
TEST_F(Launcher, LogLinkPlantedInASharedDirectoryIsNotFollowed) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to give a link and a directory another owner";
    constexpr uid_t nobody = 65534;
    const std::string shared = dir.file("shared");
    const std::string link = shared + "/" + log_name;
    std::filesystem::create_directory(shared);
    script("err.sh", "echo to-stderr >&2\n");
    // Run there with the real user root and the effective user `effective`.
    const auto run_as = [&](uid_t effective) {
        PtyOptions options;
        options.cwd = shared;
        const std::string id = std::to_string(effective);
        PtySession session("/usr/bin/env", {without_leak_check(), "setpriv", "--euid=" + id, "--egid=" + id,
                                            "--clear-groups", launcher, dir.file("err.sh")}, options);
        auto status = session.wait_exit(deadline);
        return Finished{session.output(), status};
    };
    const auto run_there = [&](const std::string& target, uid_t link_owner, uid_t effective = 0) {
        std::filesystem::remove(link);
        std::filesystem::create_symlink(target, link);
        EXPECT_EQ(lchown(link.c_str(), link_owner, link_owner), 0);
        return run_as(effective);
    };

    // Run in `cwd`, the log is refused and `file` keeps what it held.
    const auto expect_refused = [&](const std::string& cwd, const std::string& file) {
        PtyOptions options;
        options.cwd = cwd;
        PtySession session(launcher, {dir.file("err.sh")}, options);
        ASSERT_TRUE(exited_zero(session.wait_exit(deadline))) << session.output();
        EXPECT_TRUE(in_order(session.output(), {"Error Log.txt: Permission denied\n"}));
        EXPECT_EQ(dir.read(file), "precious\n");
    };

    ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
    // A link of one's own that leads through another user's link there is
    // refused too, whichever link of the chain is planted; so is another
    // user's file there.
    const std::string secret = dir.file("secret"), work = dir.file("work");
    std::filesystem::create_directory(secret);
    std::filesystem::create_directory(work);
    for (const auto& [planted, log_target] : {std::pair{"evil", "evil"}, std::pair{"dirlink", "dirlink/victim"}}) {
        SCOPED_TRACE(planted);
        dir.write("secret/victim", "precious\n");
        std::filesystem::remove(work + "/" + log_name);
        std::filesystem::create_symlink(shared + "/" + log_target, work + "/" + log_name);
        std::filesystem::remove(shared + "/" + planted);
        std::filesystem::create_symlink(std::string(planted) == "evil" ? secret + "/victim" : secret,
                                        shared + "/" + planted);
        ASSERT_EQ(lchown((shared + "/" + planted).c_str(), nobody, nobody), 0);
        expect_refused(work, "secret/victim");
    }
    std::filesystem::remove(link);
    dir.write("shared/" + log_name, "precious\n");
    ASSERT_EQ(chown(link.c_str(), nobody, nobody), 0);
    expect_refused(shared, "shared/" + log_name);
    std::filesystem::remove(link);

    for (const std::string target : {"victim", "absent"}) {
        SCOPED_TRACE(target);
        dir.write("victim", "precious\n");
        const auto r = run_there(dir.file(target), nobody);
        ASSERT_TRUE(exited_zero(r.status)) << r.output;
        EXPECT_TRUE(in_order(r.output, {"Error Log.txt: Permission denied\n"}));
        EXPECT_TRUE(in_order(r.output, report(256, "Child exited normally with status 1\n")));
        EXPECT_EQ(dir.read("victim"), "precious\n");
        EXPECT_FALSE(dir.exists("absent"));
    }

    struct Followed {
        std::string why;
        mode_t mode;
        uid_t directory_owner, link_owner;
        uid_t effective = 0;  // the launcher's effective user
    };
    const Followed followed[] = {
        {"the launcher's own link", 01777, 0, 0},
        {"the directory owner's link", 01777, nobody, nobody},
        {"a directory that is not sticky", 0777, 0, nobody},
        {"a directory that is not world-writable", 01775, 0, nobody},
        {"the link of the launcher's effective user", 01777, 0, nobody, nobody},
    };
    // The effective user reaches the log and writes it, whatever the real one.
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    std::filesystem::permissions(dir.file("err.sh"), std::filesystem::perms(0755));
    for (const auto& f : followed) {
        SCOPED_TRACE(f.why);
        ASSERT_EQ(chown(shared.c_str(), f.directory_owner, 0), 0);
        ASSERT_EQ(chmod(shared.c_str(), f.mode), 0);
        dir.write("victim", "precious, and longer than what empties it\n");
        ASSERT_EQ(chmod(dir.file("victim").c_str(), 0666), 0);
        const auto r = run_there(dir.file("victim"), f.link_owner, f.effective);
        // A sanitized launcher of another effective user takes no options and fails its leak check.
        ASSERT_TRUE(r.status && (f.effective != 0 || exited_zero(r.status))) << r.output;
        EXPECT_TRUE(in_order(r.output, report(0, "Child exited normally with status 0\n")));
        EXPECT_EQ(dir.read("victim"), "to-stderr\n");
    }
    // Another user's log there is the launcher's own when that is its effective user.
    ASSERT_EQ(chown(shared.c_str(), 0, 0) | chmod(shared.c_str(), 01777), 0);
    std::filesystem::remove(link);
    dir.write("shared/" + log_name, "precious\n");
    ASSERT_EQ(chown(link.c_str(), nobody, nobody), 0);
    EXPECT_TRUE(in_order(run_as(nobody).output, report(0, "Child exited normally with status 0\n")));
    EXPECT_EQ(dir.read("shared/" + log_name), "to-stderr\n");
}

TEST_F(Launcher, WithoutATerminalTheCommandKeepsTheLauncherOutput) {
    // setsid: a new session has no controlling terminal, as in a service or CI job.
    script("out.sh", "echo command-output\n");
    RunOptions options;
    options.cwd = dir.path();
    options.args = {"-w", launcher, "./out.sh"};
    options.timeout = deadline;
    auto r = run_program("/usr/bin/setsid", options);
    ASSERT_TRUE(r.exited_with(0)) << r.out << r.err;
    EXPECT_TRUE(in_order(r.out, {"command-output\n", " exitted with status: 0\n"}));
    std::string log = dir.read(log_name);
    EXPECT_TRUE(log.starts_with("No terminal (/dev/tty: ")) << log;
    EXPECT_EQ(count_of(log, "\n"), 1) << log;

    // Started with standard output closed, the log must not take its number.
    options.args = {"-w", "/bin/sh", "-c", "exec \"$0\" ./out.sh >&-", launcher};
    r = run_program("/usr/bin/setsid", options);
    ASSERT_TRUE(r.exited_with(0)) << r.out << r.err;
    log = dir.read(log_name);
    EXPECT_EQ(log.find("command-output"), std::string::npos) << log;
    EXPECT_EQ(count_of(log, "\n"), 1) << log;

    // A write to the log that takes only part of the line (strace makes it
    // take 5 bytes, writing none) goes on with the rest.
    if (!can_trace()) GTEST_SKIP() << "needs strace (Debian package strace) allowed to trace";
    options.args = {"-w", strace, "-f", "-qq", "-o", "/dev/null", "-E", without_leak_check(), "-P", dir.file(log_name),
                    "-e", "trace=write", "-e", "inject=write:retval=5:when=1", launcher, "./out.sh"};
    r = run_program("/usr/bin/setsid", options);
    log = dir.read(log_name);
    EXPECT_TRUE(log.starts_with("rminal (/dev/tty: ") && count_of(log, "\n") == 1) << log;
}

TEST_F(Launcher, StartedWithStandardErrorClosedTheCommandStillWritesTheLog) {
    script("err.sh", "echo to-stderr >&2\n");
    const auto r = run_shell("exec \"$0\" \"$1\" 2>&-", {"./err.sh"});
    ASSERT_TRUE(exited_zero(r.status)) << r.output;
    EXPECT_EQ(dir.read(log_name), "to-stderr\n");
}

TEST_F(Launcher, StartedWithChildSignalIgnoredStillReportsItsChild) {
    // Ignored SIGCHLD would let the system reap the child before the wait, and
    // the command would inherit it.
    PtySession session(launcher, {"grep -E ^SigIgn: /proc/self/status"}, in_dir({SIGCHLD}));
    ASSERT_TRUE(exited_zero(session.wait_exit(deadline))) << session.output();
    EXPECT_TRUE(in_order(session.output(), {"SigIgn:\t0000000000000000\n", "Child exited normally with status 0\n",
                                            "Parent process is sleeping\n"}))
        << session.output();
}

// A signal that was already pending when the launcher started is
// acknowledged as one a moment later would be: quit ends the launcher,
// interrupt lets it wait for the command.
TEST_F(Launcher, SignalPendingAtStartIsAcknowledged) {
    script("ran.sh", "echo RAN >&2\n");
    for (int sig : {SIGQUIT, SIGINT}) {
        SCOPED_TRACE(sig);
        PtyOptions options = in_dir({}, {sig});
        options.pending_signals = {sig};
        PtySession session(launcher, {"./ran.sh"}, options);
        ASSERT_TRUE(exited_zero(session.wait_exit(deadline))) << session.output();
        if (sig == SIGQUIT) {
            EXPECT_TRUE(in_order(session.output(), {"\nSIGQUIT acknowledged\n"}));
        } else {
            EXPECT_TRUE(in_order(session.output(), report(0, "Child exited normally with status 0\n")));
            EXPECT_EQ(dir.read(log_name), "RAN\n");
        }
    }
}

TEST_F(Launcher, CommandStartsWithNoSignalBlockedOrIgnored) {
    const auto r = run({"grep -E ^Sig(Blk|Ign): /proc/self/status"});
    ASSERT_TRUE(exited_zero(r.status)) << r.output;
    EXPECT_NE(r.output.find("SigBlk:\t0000000000000000\n"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("SigIgn:\t0000000000000000\n"), std::string::npos) << r.output;

    // Started with SIGTERM and SIGQUIT blocked and SIGHUP ignored, as under a
    // hang-up guard: no signal stays blocked, and the ignored SIGHUP (bit 0)
    // is passed on with no other ignore beside it. (grep runs directly: a
    // shell would clear the mask itself.)
    PtySession session(launcher, {"grep -E ^Sig(Blk|Ign): /proc/self/status"}, in_dir({SIGHUP}, {SIGTERM, SIGQUIT}));
    ASSERT_TRUE(exited_zero(session.wait_exit(deadline))) << session.output();
    EXPECT_TRUE(in_order(session.output(), {"SigBlk:\t0000000000000000\nSigIgn:\t0000000000000001\n"}));
}

}  // namespace
