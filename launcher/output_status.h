#pragma once
// How the launcher ends when it has written what it had to say.

// Remembers why a flush of standard output failed, for the message at the end.
void note_output_error(int error);

// Flushes standard output and ends the process with status 0 when all that
// was written to it got out. Otherwise prints "launcher: write error: REASON"
// on standard error and ends with status 1. A broken pipe normally never gets
// here: SIGPIPE has ended the process before.
[[noreturn]] void exit_after_output();
