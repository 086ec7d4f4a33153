#pragma once
// The alias manager's command line:
//   alias_manager [--] [FILE]
//   alias_manager --help | --version
// Options come before the operand; "--" ends them, and so does the operand.
// "-" alone is an operand, the file named "-".

#include <string>

enum class command_request { session, help, version, usage_error };

struct command_line {
    command_request request = command_request::session;
    std::string record_file;  // session: the record file to load
    std::string error;        // usage_error: what is wrong, for a one-line message
};

command_line parse_command_line(int argc, const char* const argv[]);

// Answers the requests other than a session: the help or the version on
// standard output (status 0, or 1 when it could not be written), or the
// usage error on standard error (status 2).
[[noreturn]] void answer_command_line(const command_line& line);
