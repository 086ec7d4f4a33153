#include <gtest/gtest.h>
#include <sys/wait.h>

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

}  // namespace
