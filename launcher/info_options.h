#pragma once
// "launcher --help" and "launcher --version". They are options only when one
// of them is the whole of the only argument; any other command line is a
// command to run, as before.

// Prints the help or the version and ends the process (status 0, or 1 when
// standard output could not be written) when the command line asks for it;
// otherwise returns.
void answer_help_or_version(int argc, const char* const argv[]);
