#pragma once
// Runs a binary as a child process with a given standard input, collecting
// its standard output and standard error, under a deadline.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct RunOptions {
    std::string cwd;                    // working directory of the child; empty: inherit
    std::string input;                  // written to the child's standard input, then closed
    std::vector<std::string> args;      // arguments after the program name
    std::optional<unsigned long> stack_limit_bytes;  // RLIMIT_STACK set before exec
    std::chrono::milliseconds timeout{std::chrono::seconds(60)};
};

struct RunResult {
    std::string out;
    std::string err;
    int wait_status = 0;    // raw status from waitpid
    bool timed_out = false; // the child was killed at the deadline

    bool exited_with(int code) const;
};

RunResult run_program(const std::string& binary, const RunOptions& options);

// How many times `part` stands in `text`, not overlapping.
int count_of(std::string_view text, std::string_view part);
