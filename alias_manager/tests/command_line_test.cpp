#include <gtest/gtest.h>

#include "alias_tools_version.h"
#include "session.h"

namespace {

RunOptions with_args(std::vector<std::string> args) {
    RunOptions options;
    options.args = std::move(args);
    return options;
}

// The command line is answered before anything is loaded.
TEST(CommandLine, HelpAndVersionAreAnsweredWithoutLoading) {
    Session s;
    s.run(two_records, "", with_args({"--help"}));
    EXPECT_TRUE(s.result.exited_with(0));
    EXPECT_TRUE(s.result.out.starts_with("Usage: alias_manager [--] [FILE]\n")) << s.result.out;
    EXPECT_EQ(s.result.err, "");
    s.run(two_records, "", with_args({"--version"}));
    EXPECT_TRUE(s.result.exited_with(0));
    EXPECT_EQ(s.result.out, "alias_manager (alias-tools) " ALIAS_TOOLS_VERSION "\n");
}

TEST(CommandLine, OperandNamesTheRecordFileAndDoubleDashEndsOptions) {
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
    // A lone "-" is a file name too, not standard input.
    s.dir.write("-", "10.0.0.4 lone\n");
    s.run(std::nullopt, "8\n", with_args({"-"}));
    EXPECT_TRUE(s.result.out.starts_with("Adding lines from file name: -\nHead is null, creating... lone Done\n"))
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
