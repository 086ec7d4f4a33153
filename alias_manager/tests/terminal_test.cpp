#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <random>

#include "pty_session.h"
#include "session.h"

namespace {

using namespace std::chrono_literals;

// Every prompt that ends without a newline must be on the screen before the
// program waits for input. Each step waits for the prompt first and only then
// types the answer.
//
// Standard output on a pipe (`alias_manager | tee log`) is fully buffered, and
// the C library's flush of line-buffered output before a terminal read does
// not cover it: there every prompt is on the screen only through the
// program's own flush.
class Terminal : public testing::TestWithParam<bool> {};
INSTANTIATE_TEST_SUITE_P(OutputOnTerminalOrPipe, Terminal, testing::Bool());

TEST_P(Terminal, EachPromptIsShownBeforeInputIsRead) {
    TempDir dir;
    dir.write("ZD482_Inet.txt", "10.1.0.1 mid\n10.1.0.2 beta\n");
    PtyOptions options;
    options.cwd = dir.path();
    const bool through_pipe = GetParam();
    PtySession session = through_pipe ? PtySession("/bin/sh", {"-c", "\"$0\" | cat", ALIAS_MANAGER_BIN}, options)
                                      : PtySession(ALIAS_MANAGER_BIN, {}, options);
    const std::vector<std::pair<std::string, std::string>> steps = {
        {" Enter choice: ", "1\n"},
        {"e.g: '1.1.1.1 abc'): ", "10.1.0.3 new\n"},
        {"[Press Enter to Continue]\n", "\n"},
        {" Enter choice: ", "2\n"},
        {"Enter alias to look up: ", "new\n"},
        {"[Press Enter to Continue]\n", "\n"},
        {" Enter choice: ", "3\n"},
        {"Enter alias to look up: ", "new\n"},
        {"like '0.0.0.0 '): ", "10.1.0.4 \n"},
        {"[Press Enter to Continue]\n", "\n"},
        {" Enter choice: ", "4\n"},
        {"Enter alias to look up: ", "new\n"},
        {"Confirm deletion? (y/n): ", "x\n"},
        {"Confirm deletion? (y/n): ", "y\n"},
        {"[Press Enter to Continue]\n", "\n"},
        {" Enter choice: ", "6\n"},
        {"Enter first address location: ", "10\n"},
        {"Enter second address location: ", "1\n"},
        {"[Press Enter to Continue]\n", "\n"},
        {" Enter choice: ", "7\n"},
        {"(max 255 characters): ", "saved.txt\n"},
        {"Write successfully", ""},
        {"[Press Enter to Continue]\n", "\n"},
        {" Enter choice: ", "8\n"},
    };
    for (const auto& [prompt, answer] : steps) {
        ASSERT_TRUE(session.read_until(prompt, 20s)) << "waiting for: " << prompt << "\n" << session.output();
        if (!answer.empty()) {
            ASSERT_TRUE(session.write(answer));
        }
    }
    auto status = session.wait_exit(20s);
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
    EXPECT_EQ(dir.read("saved.txt"), "10.1.0.1 mid\n10.1.0.2 beta\n");
}

// A record file that is a FIFO is read as its writer sends it: what came so
// far is judged on the screen before the program waits for more, and a
// carriage return at the end of what came waits for the byte after it, not
// an old newline left behind it in the reader's block.
TEST(RecordFifo, JudgesWhatCameBeforeWaitingAndEndsLinesByWhatComesNext) {
    TempDir dir;
    ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
    PtyOptions options;
    options.cwd = dir.path();
    PtySession session(ALIAS_MANAGER_BIN, {"fifo"}, options);
    const int fifo = open(dir.file("fifo").c_str(), O_WRONLY);
    ASSERT_GE(fifo, 0);
    const auto send = [&](std::string_view chunk) {  // and wait until the program has read it
        ASSERT_EQ(write(fifo, chunk.data(), chunk.size()), static_cast<ssize_t>(chunk.size()));
        int queued = 1;
        for (int waits = 0; queued > 0 && waits < 10000 && ioctl(fifo, FIONREAD, &queued) == 0; ++waits)
            session.read_for(1ms);
        ASSERT_EQ(queued, 0) << session.output();
    };
    send("1.1.1.1 ab\n");
    EXPECT_TRUE(session.read_until("ab Done\n", 10s)) << session.output();
    send("3.3.3.3 x\r");
    send("y\n");
    close(fifo);
    ASSERT_TRUE(session.read_until(" Enter choice: ", 10s) && session.write("8\n") && session.wait_exit(10s));
    const std::string listed = "  1.  1.  1.  1 : ab\n  3.  3.  3.  3 : x\nNumber of nodes: 2\n";
    EXPECT_EQ(session.output(), "Adding lines from file name: fifo\nHead is null, creating... ab Done\n"
                                "Checking for duplicate, then adding line... x Done adding\n" +
                                    init_done + listed + quit);
}

// Two sessions on one record file, adding and saving in a random order. A
// save that would overwrite what the other session saved since this one
// last read or wrote the file asks first, and only "y" overwrites; a save
// after no one else's is never asked about.
TEST(TwoSessions, NeitherUndoesTheOthersSaveUnasked) {
    TempDir dir;
    const std::string start = "10.1.5.20 gateway\n10.1.5.21 printer\n192.168.0.1 router\n";
    dir.write("hosts.txt", start);
    PtyOptions options;
    options.cwd = dir.path();
    const std::string question = "File changed on disk since it was last read or saved, overwrite? (y/n): ";
    const std::string pause = "[Press Enter to Continue]\n";
    struct party {
        std::unique_ptr<PtySession> session;
        std::vector<std::string> added;  // its records, in its table only until it saves
        int seen;                        // the version of the file it last read or wrote
    };
    int version = 0;  // counts the saves that wrote the file
    std::vector<party> parties;
    for (int i = 0; i < 2; ++i) {
        parties.push_back({std::make_unique<PtySession>(ALIAS_MANAGER_BIN, std::vector<std::string>{"hosts.txt"}, options),
                           {}, version});
        ASSERT_TRUE(parties.back().session->read_until(" Enter choice: ", 20s)) << parties.back().session->output();
    }
    std::mt19937 random(13);
    int declined = 0, confirmed = 0;
    for (int step = 0; step < 30; ++step) {
        const int who = static_cast<int>(random() % 2);
        party& p = parties[who];
        PtySession& s = *p.session;
        const std::string alias = std::string(who == 0 ? "a" : "b") + std::to_string(step);
        ASSERT_TRUE(s.write("1\n") && s.read_until("'1.1.1.1 abc'): ", 20s));
        ASSERT_TRUE(s.write("10.9." + std::to_string(who) + "." + std::to_string(step) + " " + alias + "\n"));
        ASSERT_TRUE(s.read_until(pause, 20s) && s.write("\n") && s.read_until(" Enter choice: ", 20s));
        p.added.push_back(alias);
        if (random() % 3 == 0) continue;  // no save this time

        const std::string before = dir.read("hosts.txt");
        ASSERT_TRUE(s.write("7\n") && s.read_until("(max 255 characters): ", 20s) && s.write("hosts.txt\n"));
        ASSERT_TRUE(s.read_until(p.seen != version ? question : "Typed file name", 20s)) << "step " << step << s.output();
        const std::size_t asked_at = s.output().size();
        bool overwrite = true;
        if (p.seen != version) {
            if (random() % 3 == 0) {
                ASSERT_TRUE(s.write("yes\n") && s.read_until(question, 20s));
                EXPECT_EQ(s.output().substr(asked_at), "Only character 'y' or 'n' accepted, re-enter\n" + question);
            }
            overwrite = random() % 2 == 0;
            (overwrite ? confirmed : declined) += 1;
            ASSERT_TRUE(s.write(overwrite ? "y\n" : "n\n"));
        }
        ASSERT_TRUE(s.read_until(pause, 20s)) << s.output();
        const std::string said = s.output().substr(s.output().rfind("(max 255 characters): "));
        EXPECT_EQ(said.find(question) != std::string::npos, p.seen != version) << "step " << step << said;
        if (overwrite) {
            EXPECT_NE(said.find("Write successfully"), std::string::npos) << said;
            p.seen = ++version;
            const std::string file = dir.read("hosts.txt");
            for (const party& other : parties)
                for (const std::string& a : other.added)
                    EXPECT_EQ(file.find(" " + a + "\n") != std::string::npos, &other == &p) << a << " in\n" << file;
        } else {
            EXPECT_TRUE(said.ends_with(question + "Cannot save to 'hosts.txt': changed on disk since it was read\n"
                                       "Typed file name (to confirm): hosts.txt\nWrite failed\n " + pause))
                << said;
            EXPECT_EQ(dir.read("hosts.txt"), before);
        }
        ASSERT_TRUE(s.write("\n") && s.read_until(" Enter choice: ", 20s));
    }
    EXPECT_GT(version, 3);
    EXPECT_GT(declined, 0);
    EXPECT_GT(confirmed, 0);

    // The end of input at the question ends the session with nothing written.
    parties[1].session->write("7\nhosts.txt\n");
    ASSERT_TRUE(parties[1].session->read_until("Write successfully", 20s));
    party& last = parties[0];
    const std::string before = dir.read("hosts.txt");
    ASSERT_TRUE(last.session->write("7\nhosts.txt\n") && last.session->read_until(question, 20s));
    last.session->type_end_of_file();
    const auto status = last.session->wait_exit(20s);
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
    EXPECT_TRUE(last.session->output().ends_with(question)) << last.session->output();
    EXPECT_EQ(dir.read("hosts.txt"), before);
}

}  // namespace
