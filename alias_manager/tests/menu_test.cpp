#include <gtest/gtest.h>

#include "alias_tools_version.h"
#include "session.h"

namespace {

const std::string two_records = "10.0.0.1 web\n10.0.0.2 db\n";
const std::string two_loaded = loading +
                               "Head is null, creating... web Done\n"
                               "Checking for duplicate, then adding line... db Done adding\n" +
                               init_done;
const std::string two_listed = " 10.  0.  0.  2 : db\n 10.  0.  0.  1 : web\nNumber of nodes: 2\n";

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

TEST(Menu, ChoiceLineRules) {
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

namespace {

RunOptions with_args(std::vector<std::string> args) {
    RunOptions options;
    options.args = std::move(args);
    return options;
}

// The command line is answered before anything is loaded.
TEST(CommandLine, HelpAndVersion) {
    Session s;
    s.run(two_records, "", with_args({"--help"}));
    EXPECT_TRUE(s.result.exited_with(0));
    EXPECT_TRUE(s.result.out.starts_with("Usage: alias_manager [--] [FILE]\n")) << s.result.out;
    EXPECT_EQ(s.result.err, "");
    s.run(two_records, "", with_args({"--version"}));
    EXPECT_TRUE(s.result.exited_with(0));
    EXPECT_EQ(s.result.out, "alias_manager (alias_tools) " ALIAS_TOOLS_VERSION "\n");
}

TEST(CommandLine, RecordFileOperand) {
    Session s;
    s.dir.write("other.txt", two_records);
    s.run(std::nullopt, "8\n", with_args({"other.txt"}));
    EXPECT_TRUE(s.result.exited_with(0));
    EXPECT_EQ(s.result.out, "Adding lines from file name: other.txt\n" + two_loaded.substr(loading.size()) +
                                two_listed + quit);
    // After "--" an argument that begins with '-' is the file; the name is
    // printed as given.
    s.dir.write("-x", "10.0.0.3 dash\n");
    s.run(std::nullopt, "8\n", with_args({"--", "-x"}));
    EXPECT_TRUE(s.result.exited_with(0));
    EXPECT_TRUE(s.result.out.starts_with("Adding lines from file name: -x\nHead is null, creating... dash Done\n"))
        << s.result.out;
}

TEST(CommandLine, UsageErrorsEndWithStatusTwoBeforeLoading) {
    for (const auto& [args, complaint] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"-x"}, "unknown option '-x'"},
             {{"--helpx"}, "unknown option '--helpx'"},
             {{"a.txt", "b.txt"}, "extra operand 'b.txt'"},
             {{"a.txt", "--help"}, "extra operand '--help'"},
         }) {
        Session s;
        s.run(two_records, "8\n", with_args(args));
        EXPECT_TRUE(s.result.exited_with(2)) << complaint;
        EXPECT_EQ(s.result.out, "");
        EXPECT_EQ(s.result.err, "alias_manager: " + complaint + "; usage: alias_manager [--] [FILE] (see --help)\n");
    }
}

// Output that could not be written is a failure, at choice 8, at the end of
// input and for --help alike.
TEST(CommandLine, OutputToAFullDeviceEndsWithStatusOne) {
    for (const auto& [input, args] : std::vector<std::pair<std::string, std::vector<std::string>>>{
             {"8\n", {}}, {"5\n", {}}, {"", {"--help"}}}) {
        Session s;
        RunOptions options = with_args({"-c", "exec \"$0\" \"$@\" >/dev/full", ALIAS_MANAGER_BIN});
        options.args.insert(options.args.end(), args.begin(), args.end());
        options.cwd = s.dir.path();
        options.input = input;
        s.dir.write("ZD482_Inet.txt", two_records);
        const RunResult r = run_program("/bin/sh", options);
        EXPECT_TRUE(r.exited_with(1)) << input;
        EXPECT_EQ(r.err, "alias_manager: write error: No space left on device\n") << input;
    }
}

}  // namespace
