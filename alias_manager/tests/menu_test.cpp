#include <gtest/gtest.h>

#include "session.h"

namespace {

TEST(Menu, StartsWithoutRecordFile) {
    Session s;
    s.run(std::nullopt, "8\n");
    EXPECT_TRUE(s.result.exited_with(0));
    EXPECT_EQ(s.result.out, loading + "ERROR opening file\nList is empty.\nNumber of nodes: 0\n" + quit);
    EXPECT_EQ(s.result.err, "Openfile failed: : No such file or directory\n");

    // Both streams into one file: each report stands where it happened.
    RunOptions options;
    options.cwd = s.dir.path();
    options.input = "7\nmissing/x\n\n8\n";
    options.args = {"-c", "exec \"$0\" >out 2>&1", ALIAS_MANAGER_BIN};
    EXPECT_TRUE(run_program("/bin/sh", options).exited_with(0));
    EXPECT_EQ(s.dir.read("out"), loading + "Openfile failed: : No such file or directory\nERROR opening file\n"
                                 "List is empty.\nNumber of nodes: 0\n" + menu + "____\n" +
                                 "Enter file name to be saved (max 255 characters): "
                                 "Cannot save to 'missing/x': No such file or directory\n"
                                 "Typed file name (to confirm): missing/x\nWrite failed" + pause_line + quit);
}

TEST(Menu, LoadsListsAndQuits) {
    Session s;
    s.run(two_records, "5\n\n8\n");
    EXPECT_TRUE(s.result.exited_with(0));
    EXPECT_EQ(s.result.out, two_loaded + two_listed + pass(two_listed) + quit);
    EXPECT_EQ(s.result.err, "");
}

TEST(Menu, ChoiceIsTheFirstNumberOfItsLineElseThePreviousChoice) {
    Session s;
    // Out of range, then text after a number (discarded, the pause waits for a
    // fresh Enter whose line text is discarded too), blank lines skipped, a
    // line without a number repeating choice 5, a number beyond 32 bits.
    s.run("", "0\n\n9 x\n\n-3\n\n5 junk 8\nignored\n\n   \n x\n\n99999999999999999999\n\n  +8  \n");
    EXPECT_TRUE(s.result.exited_with(0));
    const std::string empty_list = "List is empty.\nNumber of nodes: 0\n";
    EXPECT_EQ(s.result.out, loading + init_done + empty_list + pass("") + pass("") + pass("") +
                                pass(empty_list) + pass(empty_list) + pass("") + quit);
}

TEST(Menu, LineWithoutNumberOnFirstPassRunsNothing) {
    Session s;
    s.run("", "abc\n\n-\n\n8\n");
    EXPECT_EQ(s.result.out, loading + init_done + "List is empty.\nNumber of nodes: 0\n" + pass("") +
                                pass("") + quit);
}

TEST(Menu, EndOfInputStopsInAnOrderlyWay) {
    const std::string start = loading + init_done + "List is empty.\nNumber of nodes: 0\n";
    for (const auto& [input, output] : std::vector<std::pair<std::string, std::string>>{
             {"", start + menu},
             {"\n\n  ", start + menu},
             {"5", start + pass("List is empty.\nNumber of nodes: 0\n")},
             {"5\n", start + pass("List is empty.\nNumber of nodes: 0\n")},
             {"0\n", start + pass("")},
         }) {
        Session s;
        RunOptions options;
        options.timeout = std::chrono::seconds(20);  // a spin would show as a time-out
        s.run("", input, options);
        EXPECT_TRUE(s.result.exited_with(0)) << '"' << input << '"';
        EXPECT_EQ(s.result.out, output) << '"' << input << '"';
    }
}

// A table loaded in alias order is a chain as deep as the table; loading,
// listing and saving it must not depend on the call stack, even a small one.
TEST(Menu, DeepChainUnderSmallStack) {
    const int records = 20000;
    std::string file;
    for (int i = 0; i < records; ++i) {
        char line[40];
        std::snprintf(line, sizeof line, "%d.%d.%d.%d a%07d\n", i / 65536, i / 256 % 256, i % 256, 7, i);
        file += line;
    }
    Session s;
    RunOptions options;
    options.stack_limit_bytes = 256 * 1024;
    options.timeout = std::chrono::minutes(4);
    s.run(file, "5\n\n7\nchain.txt\n\n8\n", options);
    ASSERT_TRUE(s.result.exited_with(0)) << s.result.err;
    char last[64];
    const int i = records - 1;
    std::snprintf(last, sizeof last, "%3d.%3d.%3d.%3d : a%07d\n", i / 65536, i / 256 % 256, i % 256, 7, i);
    const std::string tail = std::string(last) + "Number of nodes: " + std::to_string(records) + "\n";
    const auto first = s.result.out.find(tail);
    ASSERT_NE(first, std::string::npos);
    EXPECT_NE(s.result.out.find(tail, first + 1), std::string::npos);  // start-up and choice 5
    EXPECT_EQ(s.dir.read("chain.txt"), file);  // pre-order of a chain is its insertion order
}

}  // namespace
